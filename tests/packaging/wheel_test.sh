#!/usr/bin/env bash
# The wheel as pip builds and installs it: built by the project's build backend from the
# source tree (reusing BUILD_DIR, so only the module is linked), installed into a fresh
# virtual environment (Debian's numpy seen through --system-site-packages), then imported
# there from outside the tree: the module and its stub come from the environment, and a
# PNG is written and read back through the codec module the wheel put in <venv>/lib/lumet/.
#   wheel_test.sh SOURCE_DIR BUILD_DIR PYTHON
set -euo pipefail
source=$1
build=$2
python=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$python" -m venv --system-site-packages "$work/venv"
venv_python=$work/venv/bin/python
# No index: everything needed is in the tree or in Debian's packages.
export PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1
LUMET_CMAKE_BUILD_DIR=$build "$venv_python" -m pip wheel --quiet --no-build-isolation --no-deps \
  -w "$work/dist" "$source" > "$work/wheel.log" 2>&1 || { cat "$work/wheel.log"; exit 1; }
wheels=("$work"/dist/lumet-*.whl)
[ ${#wheels[@]} -eq 1 ] || { echo "expected one wheel, found: ${wheels[*]}"; exit 1; }
"$venv_python" -m pip install --quiet "${wheels[0]}"

cd "$work"
env -u PYTHONPATH "$venv_python" - "$work/venv" "$(basename "${wheels[0]}")" <<'PY'
import os
import sys
import sysconfig

import numpy

import lumet

venv, wheel_name = sys.argv[1], sys.argv[2]
failures = []

def check(condition, what):
    if not condition:
        failures.append(what)

site = sysconfig.get_paths()["platlib"]
check(os.path.dirname(lumet.__file__) == site, f"lumet imported from {lumet.__file__}, not from {site}")
check(os.path.basename(lumet.__file__) == "lumet" + sysconfig.get_config_var("EXT_SUFFIX"),
      f"{lumet.__file__}: not this interpreter's extension name")
check(os.path.isfile(os.path.join(site, "lumet.pyi")), "the type stub is not installed")
tag = f"cp{sys.version_info.major}{sys.version_info.minor}"
check(f"-{tag}-{tag}-linux_" in wheel_name, f"{wheel_name}: not tagged for {tag}")
for codec in ("liblumet-stills.so", "liblumet-codecs.so"):
    check(os.path.isfile(os.path.join(venv, "lib", "lumet", codec)), f"{codec} not in {venv}/lib/lumet")

# A 6 x 4 picture with a known pattern, through PNG (the still codec module) and back.
image = numpy.zeros((4, 6, 3), dtype=numpy.uint8)
image[..., 0] = numpy.arange(6, dtype=numpy.uint8) * 40
image[..., 1] = (numpy.arange(4, dtype=numpy.uint8) * 60)[:, None]
image[..., 2] = 7
lumet.write_image("frame-0.png", image)
frames = lumet.read_frames("frame-%d.png", 0, 1)
check(numpy.array_equal(numpy.asarray(frames)[0], image), "the PNG read back differs from the one written")

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("the wheel installs into a virtual environment and its module reads PNG there")
PY
echo "1 passed, 0 failed"
