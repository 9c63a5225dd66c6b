"""Packs a Windows build of the module into a wheel, so that a Windows user installs it with
pip: the .pyd, the type stubs where the Linux wheel (meson.build) has them, and the
project's metadata, read from pyproject.toml (the version from meson.build, as meson-python
reads it).

    wheel.py dist-name                  prints NAME-VERSION, the start of every wheel's name
    wheel.py pack DIR TAG MODULE        writes DIR/NAME-VERSION-TAG.whl and prints its path

TAG is the wheel's tag (cp314-cp314-win_amd64, cp37-cp37m-win32); MODULE the .pyd, which
keeps its name (KestrovaGUI.cp314-win_amd64.pyd is what the interpreter looks for first).
The same inputs give the same bytes: the entries are in a fixed order with a fixed date."""

import base64
import hashlib
import os
import pathlib
import re
import sys
import tomllib
import zipfile

ROOT = pathlib.Path(__file__).resolve().parents[2]
PYPROJECT = ROOT / "pyproject.toml"
MESON_BUILD = ROOT / "meson.build"
STUBS = ROOT / "src" / "KestrovaGUI.pyi"
DATE = (1980, 1, 1, 0, 0, 0)


def project():
    """The [project] table of pyproject.toml, with the version that meson.build states."""
    with open(PYPROJECT, "rb") as handle:
        fields = tomllib.load(handle)["project"]
    fields["version"] = re.search(r"^\s*version\s*:\s*'([^']+)'", MESON_BUILD.read_text(encoding="utf-8"), re.M)[1]
    return fields


def dist_name(fields):
    """NAME-VERSION as wheel names and .dist-info folders spell it."""
    return "%s-%s" % (re.sub(r"[-_.]+", "_", fields["name"]), fields["version"])


def metadata(fields):
    lines = [("Metadata-Version", "2.1"), ("Name", fields["name"]), ("Version", fields["version"]),
             ("Summary", fields["description"])]
    license = fields.get("license", {})
    if "text" in license:
        lines.append(("License", license["text"]))
    lines += [("Classifier", classifier) for classifier in fields.get("classifiers", [])]
    lines.append(("Requires-Python", fields["requires-python"]))
    lines += [("Requires-Dist", dependency) for dependency in fields.get("dependencies", [])]
    readme = fields.get("readme")
    body = ""
    if isinstance(readme, str):
        kind = {".md": "text/markdown", ".rst": "text/x-rst"}.get(pathlib.Path(readme).suffix, "text/plain")
        lines.append(("Description-Content-Type", kind))
        body = "\n" + (ROOT / readme).read_text(encoding="utf-8")
    return "".join("%s: %s\n" % line for line in lines) + body


def record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode("ascii")
    return "%s,sha256=%s,%d\n" % (path, digest, len(data))


def pack(directory, tag, module):
    fields = project()
    name = dist_name(fields)
    info = name + ".dist-info"
    stub = STUBS.read_bytes()
    wheel = "Wheel-Version: 1.0\nGenerator: build-aux/windows/wheel.py\nRoot-Is-Purelib: false\nTag: %s\n" % tag
    files = [
        (module.name, module.read_bytes()),
        ("KestrovaGUI.pyi", stub),
        ("KestrovaGUI-stubs/__init__.pyi", stub),
        (info + "/METADATA", metadata(fields).encode("utf-8")),
        (info + "/WHEEL", wheel.encode("utf-8")),
    ]
    record = "".join(record_line(path, data) for path, data in files) + "%s/RECORD,,\n" % info
    files.append((info + "/RECORD", record.encode("utf-8")))
    target = pathlib.Path(directory) / ("%s-%s.whl" % (name, tag))
    partial = target.with_name(target.name + ".partial")
    with zipfile.ZipFile(str(partial), "w", zipfile.ZIP_DEFLATED) as archive:
        for path, data in files:
            entry = zipfile.ZipInfo(path, DATE)
            entry.external_attr = 0o100644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(entry, data)
    os.replace(str(partial), str(target))
    return target


def main():
    arguments = sys.argv[1:]
    if arguments == ["dist-name"]:
        print(dist_name(project()))
    elif len(arguments) == 4 and arguments[0] == "pack":
        print(pack(arguments[1], arguments[2], pathlib.Path(arguments[3])))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
