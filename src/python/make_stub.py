"""Writes the module's type stub: the template with each function's parameter keywords
(lumet.PARAMETERS: the common ones and every method's own) in place of @PARAMETERS@,
typed and defaulted as the built module's signatures give them.

usage: make_stub.py TEMPLATE OUTPUT (with the built module on PYTHONPATH)"""

import importlib.util
import inspect
import re
import sys
import types

# The module refuses to load without numpy, but the stub needs only its signatures, which
# touch no array: an interpreter without numpy (a bare virtual environment) still writes it.
if importlib.util.find_spec("numpy") is None:
    sys.modules["numpy"] = types.ModuleType("numpy")

import lumet  # noqa: E402


def annotation(default):
    if default is None:
        return "Optional[int]"
    if isinstance(default, tuple):
        return "Tuple[" + ", ".join(type(v).__name__ for v in default) + "]"
    return type(default).__name__


def keywords(function, written):
    lines = []
    for name, parameter in inspect.signature(function).parameters.items():
        if name in lumet.PARAMETERS and name not in written:
            default = parameter.default
            lines.append(f"    {name}: {annotation(default)} = {default!r},")
    return "\n".join(lines)


def main(template_path, output_path):
    with open(template_path, encoding="utf-8") as f:
        template = f.read()
    out = []
    # One "def name(...) -> ...:" at a time; the parameters it already names stay as written.
    for chunk in re.split(r"(?m)^(?=def )", template):
        match = re.match(r"def (\w+)\(", chunk)
        if match and "@PARAMETERS@" in chunk:
            written = set(re.findall(r"(?m)^    (\w+):", chunk))
            chunk = chunk.replace("    @PARAMETERS@", keywords(getattr(lumet, match.group(1)), written))
        out.append(chunk)
    with open(output_path, "w", encoding="utf-8") as f:
        f.write("".join(out))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
