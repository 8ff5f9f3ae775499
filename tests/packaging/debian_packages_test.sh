#!/usr/bin/env bash
# The Debian packages `make package` makes, built from BUILD_DIR into a temporary folder:
# each one's name, dependencies and documentation files, the Python module and the command
# line run from the unpacked packages, and lintian (when installed) without errors.
#   debian_packages_test.sh BUILD_DIR PYTHON [CPACK]
set -euo pipefail
build=$1
python=$2
cpack=${3:-cpack}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

"$cpack" --config "$build/CPackConfig.cmake" -B "$work/out" > "$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
deb() { echo "$work/out/$1_${version}_$(dpkg --print-architecture).deb"; }
depends() { dpkg-deb -f "$(deb "$1")" Depends; }
# Every check reads whole outputs: under pipefail, `producer | grep -q` fails at random when
# grep stops reading early and the producer dies of SIGPIPE.
files_of() { dpkg-deb -c "$(deb "$1")" > "$work/$1.list"; awk '{print $6}' "$work/$1.list" | grep -v '/$'; }

packages=(lumet-cli liblumet1 liblumet-dev)
components=$(sed -n 's/^set(CPACK_COMPONENTS_ALL "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
[[ ";$components;" == *";Window;"* ]] && packages+=(lumet)
[[ ";$components;" == *";Python;"* ]] && packages+=(python3-lumet)
for p in "${packages[@]}"; do
  [ -f "$(deb "$p")" ] || { fail "no package $p"; continue; }
  contents=$(files_of "$p")
  grep -qx "./usr/share/doc/$p/copyright" <<< "$contents" || fail "$p: no copyright file"
  grep -qx "./usr/share/doc/$p/changelog.gz" <<< "$contents" || fail "$p: no changelog.gz"
  if grep '/man/man./' <<< "$contents" | grep -qv '\.gz$'; then
    fail "$p: an uncompressed manual page"
  fi
  [ "$(dpkg-deb -f "$(deb "$p")" Maintainer)" != "" ] || fail "$p: no maintainer"
done
# An install rule without a component would be in no package.
unassigned=$(grep -rl 'CMAKE_INSTALL_COMPONENT STREQUAL "Unspecified"' --include=cmake_install.cmake "$build" || true)
[ -z "$unassigned" ] || fail "install rules in no package's component: $unassigned"
ls "$work"/out/*.deb | sed 's|.*/||' | sort > "$work/made"
printf '%s\n' "${packages[@]}" | sed "s/\$/_${version}_$(dpkg --print-architecture).deb/" | sort > "$work/expected"
cmp -s "$work/made" "$work/expected" || fail "packages made: $(tr '\n' ' ' < "$work/made")"

# The command line without Qt; the programs and the Python module with the library package
# that holds the codec modules, at this version.
grep -qi 'qt' <<< "$(depends lumet-cli)" && fail "lumet-cli depends on Qt: $(depends lumet-cli)"
for p in lumet-cli liblumet-dev lumet python3-lumet; do
  [ -f "$(deb "$p")" ] || continue
  grep -qF "liblumet1 (= $version)" <<< "$(depends "$p")" || fail "$p does not depend on liblumet1 (= $version): $(depends "$p")"
done
if [ -f "$(deb lumet)" ]; then
  grep -q 'libqt6widgets6' <<< "$(depends lumet)" || fail "lumet does not depend on Qt Widgets: $(depends lumet)"
  grep -qx './usr/share/man/man1/lumet.1.gz' <<< "$(files_of lumet)" || fail "lumet: no manual page"
fi
grep -qx './usr/share/man/man1/lumet-cli.1.gz' <<< "$(files_of lumet-cli)" || fail "lumet-cli: no manual page"
dpkg-deb -e "$(deb liblumet1)" "$work/liblumet1.control"
[ -s "$work/liblumet1.control/triggers" ] || fail "liblumet1: no ldconfig trigger"
if [ ! -s "$work/liblumet1.control/shlibs" ]; then
  fail "liblumet1: no shlibs file; its control files: $(ls "$work/liblumet1.control" | tr '\n' ' ')"
  grep -i 'soname\|readelf\|warning' "$work/cpack.log" || true
fi
if [ -f "$(deb python3-lumet)" ]; then
  read -r major minor < <("$python" -c 'import sys; print(*sys.version_info[:2])')
  python_depends=$(depends python3-lumet)
  for d in "python3 (>= $major.$minor)" "python3 (<< $major.$((minor + 1)))" "python3-numpy"; do
    grep -qF "$d" <<< "$python_depends" || fail "python3-lumet does not depend on $d: $python_depends"
  done

  # The module as installed: /usr/lib/python3/dist-packages, the codec modules in /usr/lib/lumet.
  for p in python3-lumet liblumet1 lumet-cli; do dpkg-deb -x "$(deb "$p")" "$work/root"; done
  (cd "$work" && env -u PYTHONPATH PYTHONPATH="$work/root/usr/lib/python3/dist-packages" "$python" -c '
import numpy, lumet, sys
assert lumet.__file__.startswith(sys.argv[1]), lumet.__file__
image = numpy.full((3, 5, 3), 90, dtype=numpy.uint8)
lumet.write_image("packaged.png", image)
assert numpy.array_equal(numpy.asarray(lumet.read_frames("packaged.png"))[0], image)
' "$work/root") || fail "the packaged Python module does not read and write PNG with the packaged codec module"
  "$work/root/usr/bin/lumet-cli" --version > /dev/null || fail "the packaged lumet-cli does not run"
fi

if command -v lintian > /dev/null; then
  lintian --allow-root "$work"/out/*.deb > "$work/lintian.log" 2>&1 || true
  if grep -q '^E: ' "$work/lintian.log"; then
    fail "lintian reports errors:"
    grep '^E: ' "$work/lintian.log"
  fi
  grep '^W: ' "$work/lintian.log" || true
else
  echo "lintian is not installed: not run"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "1 passed, 0 failed"
