#!/usr/bin/env bash
# The installed library as its users get it: the build installed into a temporary prefix, the
# example built against it with find_package(Lumet) and again with pkg-config, both run on a
# synthetic sequence and compared byte for byte with what lumet-cli run writes.
#   install_test.sh BUILD_DIR SOURCE_DIR LUMET_CLI
set -euo pipefail
build=$1
source=$2
cli=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" > "$work/install.log"
for f in include/lumet/lumet.h include/lumet/version.h lib/pkgconfig/lumet.pc lib/cmake/Lumet/LumetConfig.cmake; do
  [ -f "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
soname=$(objdump -p "$prefix/lib/liblumet.so" | awk '/SONAME/ {print $2}')
[ "$soname" = "liblumet.so.1" ] || { echo "soname is '$soname', not liblumet.so.1"; exit 1; }

cmake -S "$source/examples" -B "$work/example" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix" \
  > "$work/configure.log" || { cat "$work/configure.log"; exit 1; }
cmake --build "$work/example" > "$work/build.log" || { cat "$work/build.log"; exit 1; }
# pkg-config's flags alone build the same program.
PKG_CONFIG_PATH=$prefix/lib/pkgconfig c++ "$source/examples/register_and_reconstruct.cpp" -o "$work/example-pc" \
  $(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --cflags --libs lumet)

"$cli" synth --lr-count 8 --seed 3 "$work/seq" > /dev/null
for method in classic enhanced; do
  "$cli" -C "$work/seq" run --method "$method" > /dev/null
  (cd "$work/seq" && "$work/example/register_and_reconstruct" ./images/lr-%d.bmp 8 "$work/$method.bmp" \
    --method "$method" 2> /dev/null)
  cmp "$work/seq/result/hr.bmp" "$work/$method.bmp"
  (cd "$work/seq" && LD_LIBRARY_PATH=$prefix/lib "$work/example-pc" ./images/lr-%d.bmp 8 "$work/$method-pc.bmp" \
    --method "$method" > /dev/null 2>&1)
  cmp "$work/seq/result/hr.bmp" "$work/$method-pc.bmp"
  echo "$method: the installed library's result is lumet-cli run's"
done
echo "1 passed, 0 failed"
