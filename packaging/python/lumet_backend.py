"""The build backend of pyproject.toml: the Python module `lumet` built by this project's
CMake for the interpreter that runs the build, packed as a wheel.

The wheel holds the extension module and its type stub at the top of site-packages and
the two codec modules as data files in <prefix>/lib/lumet/, where the extension looks for
them (beside site-packages' parent lib/ folder), so PNG, JPEG, TIFF and video frames read
after `pip install` as after `cmake --install`.

The CMake tree is its own, build/wheel-<ABI tag>/ in the source folder (configured with the
window, tests and benchmarks off), reused by the next build. When
LUMET_CMAKE_BUILD_DIR names an already-configured tree (a `cmake --preset release` one,
say), that tree's module is built there instead, which costs a link when the engine is
already built; the tree must be configured for an interpreter of this one's ABI.

Nothing here needs a package index: the standard library only (tomllib: Python 3.11 or later)."""

import base64
import csv
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tomllib
import zipfile
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[2]
BUILD_DIR_VARIABLE = "LUMET_CMAKE_BUILD_DIR"
CODEC_MODULES = ("liblumet-stills.so", "liblumet-codecs.so")


class BuildError(RuntimeError):
    pass


# --- metadata -------------------------------------------------------------------------

def _project():
    with open(SOURCE / "pyproject.toml", "rb") as f:
        project = tomllib.load(f)["project"]
    # One version for the whole project: the one CMake's project() declares.
    cmake_lists = (SOURCE / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"project\(\s*Lumet\s+VERSION\s+([0-9.]+)", cmake_lists)
    if not match:
        raise BuildError("CMakeLists.txt declares no project(Lumet VERSION ...)")
    project["version"] = match.group(1)
    return project


def _metadata_text(project):
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {project['name']}",
        f"Version: {project['version']}",
        f"Summary: {project['description']}",
    ]
    if "requires-python" in project:
        lines.append(f"Requires-Python: {project['requires-python']}")
    lines += [f"Requires-Dist: {d}" for d in project.get("dependencies", [])]
    body = ""
    if "readme" in project:
        lines.append("Description-Content-Type: text/markdown")
        body = (SOURCE / project["readme"]).read_text(encoding="utf-8")
    return "\n".join(lines) + "\n\n" + body


def _wheel_tag():
    interpreter = f"{sys.implementation.name[:2]}{sys.version_info.major}{sys.version_info.minor}"
    if sys.implementation.name == "cpython":
        interpreter = f"cp{sys.version_info.major}{sys.version_info.minor}"
    abi = interpreter + getattr(sys, "abiflags", "")
    platform = re.sub(r"[-.]", "_", sysconfig.get_platform())
    return interpreter, abi, platform


def _dist_info_name(project):
    return f"{project['name']}-{project['version']}.dist-info"


# --- the CMake build ------------------------------------------------------------------

def _run(command, log):
    print("lumet build:", " ".join(str(c) for c in command), file=log, flush=True)
    completed = subprocess.run([str(c) for c in command], stdout=log, stderr=subprocess.STDOUT)
    if completed.returncode != 0:
        raise BuildError(f"{' '.join(str(c) for c in command)} failed (exit status {completed.returncode})")


def _cache_value(build_dir, name):
    cache = Path(build_dir) / "CMakeCache.txt"
    for line in cache.read_text(encoding="utf-8", errors="replace").splitlines():
        match = re.match(rf"{re.escape(name)}:[A-Z]+=(.*)$", line)
        if match:
            return match.group(1)
    return None


def _abi_of(interpreter):
    query = "import sysconfig; print(sysconfig.get_config_var('EXT_SUFFIX'))"
    completed = subprocess.run([interpreter, "-c", query], capture_output=True, text=True)
    return completed.stdout.strip() if completed.returncode == 0 else None


def _given_tree(build_dir):
    if not (build_dir / "CMakeCache.txt").is_file():
        raise BuildError(f"{BUILD_DIR_VARIABLE}={build_dir}: not a configured CMake build folder (no CMakeCache.txt)")
    # The interpreter src/CMakeLists.txt chose for the module.
    interpreter = _cache_value(build_dir, "LUMET_PYTHON")
    ours = sysconfig.get_config_var("EXT_SUFFIX")
    if interpreter is None or _abi_of(interpreter) != ours:
        raise BuildError(f"{BUILD_DIR_VARIABLE}={build_dir} builds the module for {interpreter or 'no Python'}, "
                         f"whose modules are not this interpreter's ({sys.executable}, {ours}); "
                         f"unset {BUILD_DIR_VARIABLE} to build in a tree of its own")
    return build_dir


def _own_tree(log):
    _, abi, _ = _wheel_tag()
    build_dir = SOURCE / "build" / f"wheel-{abi}"
    # A virtual environment's own interpreter goes with the environment; its base interpreter
    # builds the same modules and stays, for the next build in this tree.
    python = getattr(sys, "_base_executable", None) or sys.executable
    configured = (build_dir / "CMakeCache.txt").is_file() and _cache_value(build_dir, "LUMET_PYTHON")
    if not configured or not Path(configured).exists():
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        _run(["cmake", "-S", SOURCE, "-B", build_dir, *generator,
              "-DCMAKE_BUILD_TYPE=Release",
              f"-DPython3_EXECUTABLE={python}",
              "-DLUMET_BUILD_PYTHON=ON", "-DLUMET_BUILD_GUI=OFF",
              "-DLUMET_BUILD_TESTS=OFF", "-DLUMET_BUILD_BENCH=OFF"], log)
    return build_dir


def _build_module(log):
    given = os.environ.get(BUILD_DIR_VARIABLE)
    build_dir = _given_tree(Path(given).resolve()) if given else _own_tree(log)
    command = ["cmake", "--build", build_dir, "--target", "lumet_python", "lumet_python_stub"]
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL")
    if jobs:
        command += ["--parallel", jobs]
    _run(command, log)
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    module = build_dir / "python" / f"lumet{suffix}"
    if not module.is_file():
        raise BuildError(f"{module}: not built (is {build_dir} configured with LUMET_BUILD_PYTHON=ON?)")
    files = {module.name: module, "lumet.pyi": build_dir / "python" / "lumet.pyi"}
    return build_dir, files


# --- the wheel ------------------------------------------------------------------------

def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode("ascii")
    return [name, f"sha256={digest}", str(len(data))]


def _write_wheel(wheel_directory, project, files, data_files):
    interpreter, abi, platform = _wheel_tag()
    tag = f"{interpreter}-{abi}-{platform}"
    name = f"{project['name']}-{project['version']}-{tag}.whl"
    dist_info = _dist_info_name(project)
    data_dir = f"{project['name']}-{project['version']}.data/data"
    entries = [(arcname, path.read_bytes(), 0o755 if path.suffix == ".so" else 0o644)
               for arcname, path in files.items()]
    entries += [(f"{data_dir}/{arcname}", path.read_bytes(), 0o644) for arcname, path in data_files.items()]
    wheel_text = ("Wheel-Version: 1.0\nGenerator: lumet_backend\nRoot-Is-Purelib: false\n"
                  f"Tag: {tag}\n").encode()
    entries.append((f"{dist_info}/METADATA", _metadata_text(project).encode("utf-8"), 0o644))
    entries.append((f"{dist_info}/WHEEL", wheel_text, 0o644))
    record = io.StringIO()
    writer = csv.writer(record, lineterminator="\n")
    for arcname, data, _ in entries:
        writer.writerow(_record_line(arcname, data))
    writer.writerow([f"{dist_info}/RECORD", "", ""])
    entries.append((f"{dist_info}/RECORD", record.getvalue().encode(), 0o644))

    path = Path(wheel_directory) / name
    with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED) as wheel:
        for arcname, data, mode in entries:
            # A fixed time stamp: the same build gives the same wheel.
            info = zipfile.ZipInfo(arcname, date_time=(1980, 1, 1, 0, 0, 0))
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(info, data)
    return name


# --- the hooks (PEP 517) --------------------------------------------------------------

def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    project = _project()
    dist_info = Path(metadata_directory) / _dist_info_name(project)
    dist_info.mkdir(parents=True, exist_ok=True)
    (dist_info / "METADATA").write_text(_metadata_text(project), encoding="utf-8")
    return dist_info.name


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    project = _project()
    # CMake's output goes to stderr: pip shows it with -v, and with every failure.
    build_dir, files = _build_module(sys.stderr)
    data_files = {}
    for codec in CODEC_MODULES:
        path = build_dir / "lib" / "lumet" / codec
        if not path.is_file():
            raise BuildError(f"{path}: not built")
        data_files[f"lib/lumet/{codec}"] = path
    return _write_wheel(wheel_directory, project, files, data_files)


# Everything but build output and version-control data.
_SDIST_SKIPPED = {".git", "build", "lumet-demo", "__pycache__", "dist"}


def build_sdist(sdist_directory, config_settings=None):
    project = _project()
    base = f"{project['name']}-{project['version']}"
    name = f"{base}.tar.gz"

    def keep(info):
        parts = Path(info.name).parts[1:]
        if any(part in _SDIST_SKIPPED for part in parts):
            return None
        info.uid = info.gid = 0
        info.uname = info.gname = ""
        info.mtime = 0
        return info

    with tarfile.open(Path(sdist_directory) / name, "w:gz", format=tarfile.PAX_FORMAT) as sdist:
        sdist.add(SOURCE, arcname=base, filter=keep)
        pkg_info = _metadata_text(project).encode("utf-8")
        info = tarfile.TarInfo(f"{base}/PKG-INFO")
        info.size = len(pkg_info)
        sdist.addfile(info, io.BytesIO(pkg_info))
    return name
