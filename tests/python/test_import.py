"""The module's import without numpy: it fails there, naming what to install."""

import subprocess
import sys

# numpy made unimportable (None in sys.modules) before the module loads.
WITHOUT_NUMPY = """
import sys
sys.modules["numpy"] = None
try:
    import lumet
except ImportError as e:
    print("ImportError:", e)
else:
    print("imported")
"""


def test_import_without_numpy_fails_saying_what_to_install():
    out = subprocess.run([sys.executable, "-c", WITHOUT_NUMPY], capture_output=True, text=True, check=True).stdout
    assert "ImportError: lumet needs numpy" in out
    assert "apt install python3-numpy" in out
    assert "pip install numpy" in out
    # numpy's own reason is quoted.
    assert "import of numpy halted" in out


def test_import_with_numpy_succeeds():
    out = subprocess.run([sys.executable, "-c", "import lumet; print(lumet.PARAMETERS[0])"],
                         capture_output=True, text=True, check=True).stdout
    assert out.strip()
