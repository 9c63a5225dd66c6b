"""The Windows build (make windows): each .pyd, read with nothing but its PE headers, is a
DLL for its machine that exports only the init function and needs nothing at run time but
its interpreter's DLL and Windows' own DLLs, and every C API name it imports from the
interpreter is one that the interpreter's headers declare. Each wheel, read back, holds
that .pyd and the type stubs with the metadata of pyproject.toml and a RECORD that
matches, and pip takes it for its interpreter and platform only.

With the MinGW-w64 compilers installed, the files are built first (make windows); without
them, files built earlier are checked, and with neither the checks are skipped. A target
whose headers make windows could not have (no pyenv install of 3.7 or 3.13; Debian 14's
3.14 and 3.15 headers not fetched) is skipped with the reason make windows gives."""

import base64
import csv
import email.parser
import hashlib
import io
import os
import pathlib
import re
import shutil
import struct
import subprocess
import sys
import zipfile

import pytest
from conftest import ROOT

pytest.importorskip("tomllib", reason="the Windows wheels are packed, and read back here, by a Python with "
                                       "tomllib (3.11 on), as every host that builds them has")
sys.path.insert(0, str(ROOT / "build-aux" / "windows"))
import wheel as wheel_packer  # noqa: E402

OUT = ROOT / "build-windows"
COMPILERS = ["i686-w64-mingw32-g++-win32", "x86_64-w64-mingw32-g++-win32"]
PYENV = pathlib.Path(os.environ.get("PYENV_ROOT") or pathlib.Path.home() / ".pyenv")
# Debian's own interpreter runs pip for the wheel checks, whichever interpreter runs the tests.
PIP_PYTHON = "/usr/bin/python3"
# target, wheel tag, COFF machine, PE optional header magic, interpreter DLL, pip's platform
# and version, the pyenv headers the build takes (None: Debian 14's, which it fetches)
TARGETS = [
    ("cp37-win32", "cp37-cp37m-win32", 0x014C, 0x10B, "python37.dll", "win32", "3.7",
     "3.7.*/include/python3.7m"),
    ("cp313-win_amd64", "cp313-cp313-win_amd64", 0x8664, 0x20B, "python313.dll", "win_amd64", "3.13",
     "3.13.*/include/python3.13"),
    ("cp314-win_amd64", "cp314-cp314-win_amd64", 0x8664, 0x20B, "python314.dll", "win_amd64", "3.14", None),
    ("cp315-win_amd64", "cp315-cp315-win_amd64", 0x8664, 0x20B, "python315.dll", "win_amd64", "3.15", None),
]
IDS = [target[0] for target in TARGETS]


@pytest.fixture(scope="module")
def built():
    """{target: ("built", its headers) or ("skipped", why)}, as make windows lists them."""
    if all(shutil.which(compiler) for compiler in COMPILERS):
        done = subprocess.run(["make", "-C", str(ROOT), "windows"], capture_output=True, text=True)
        assert done.returncode == 0, done.stdout[-3000:] + done.stderr[-3000:]
    elif not (OUT / "targets").exists():
        pytest.skip("Windows build not checked: no MinGW-w64 cross compilers (make windows installs them)")
    listed = {}
    for line in (OUT / "targets").read_text().splitlines():
        tag, state, detail = line.split("\t", 2)
        listed[tag] = (state, detail)
    assert sorted(listed) == sorted(IDS)
    return listed


@pytest.fixture(params=TARGETS, ids=IDS)
def target(request, built):
    """One target's fields and headers; skipped with make windows' reason where it was."""
    tag, pyenv = request.param[0], request.param[7]
    state, detail = built[tag]
    if state == "skipped":
        # The build skips a pyenv target only when the headers are missing, and says why.
        assert not (pyenv and list((PYENV / "versions").glob(pyenv))), detail
        pytest.skip("Windows target %s not built: %s" % (tag, detail))
    assert state == "built"
    return request.param, pathlib.Path(detail)


def read_pe(path):
    """(machine, optional header magic, is a DLL, exported names, {imported DLL: [names]})."""
    data = path.read_bytes()
    assert data[:2] == b"MZ", "no DOS header"
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0", "no PE signature"
    machine, sections, _, _, _, optional_size, flags = struct.unpack_from("<HHIIIHH", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    table = [struct.unpack_from("<IIII", data, optional + optional_size + 40 * i + 8)
             for i in range(sections)]  # virtual size, address, raw size, raw offset

    def offset(rva):
        for size, address, raw_size, raw in table:
            if address <= rva < address + max(size, raw_size):
                return rva - address + raw
        raise AssertionError("address %#x is in no section" % rva)

    def string(rva):
        start = offset(rva)
        return data[start:data.index(b"\0", start)].decode("ascii")

    exports = []
    export_rva, export_size = struct.unpack_from("<II", data, directories)
    if export_size:
        directory = offset(export_rva)
        functions, names = struct.unpack_from("<II", data, directory + 20)
        name_table = offset(struct.unpack_from("<I", data, directory + 32)[0])
        exports = [string(struct.unpack_from("<I", data, name_table + 4 * i)[0]) for i in range(names)]
        assert functions == names, "exports by ordinal only"
    imports = {}
    entry = offset(struct.unpack_from("<I", data, directories + 8)[0])
    thunk_size, ordinal_bit = (4, 1 << 31) if magic == 0x10B else (8, 1 << 63)
    while True:
        lookup, _, _, name, first = struct.unpack_from("<IIIII", data, entry)
        if name == 0:
            return machine, magic, bool(flags & 0x2000), exports, imports
        thunk, listed = offset(lookup or first), imports.setdefault(string(name), [])
        value = int.from_bytes(data[thunk:thunk + thunk_size], "little")
        while value:
            assert not value & ordinal_bit, "import by ordinal from %s" % string(name)
            listed.append(string(value + 2))  # past the hint
            thunk += thunk_size
            value = int.from_bytes(data[thunk:thunk + thunk_size], "little")
        entry += 20


def declared(headers):
    """Every name that the headers declare with PyAPI_FUNC(type) or PyAPI_DATA(type)."""
    names = set()
    for header in headers.rglob("*.h"):
        text = re.sub(r"/\*.*?\*/|//[^\n]*", " ", header.read_text(errors="replace"), flags=re.S)
        for declarators in re.findall(r"PyAPI_(?:FUNC|DATA)\((?:[^()]|\([^()]*\))*\)([^;(#]*)", text):
            names.update(words[-1] for words in map(re.compile(r"\w+").findall, declarators.split(",")) if words)
    return names


def test_windows_module(target):
    (tag, _, machine, magic, dll, _, _, _), headers = target
    path = OUT / ("KestrovaGUI.%s.pyd" % tag)
    assert path.exists(), "make windows made no %s" % path.name
    found_machine, found_magic, is_dll, exports, imports = read_pe(path)
    assert (found_machine, found_magic, is_dll) == (machine, magic, True)
    assert exports == ["PyInit_KestrovaGUI"]
    # The interpreter's DLL, the kernel and the Universal CRT (as the interpreter uses): no
    # MinGW runtime DLL, and not the older msvcrt.dll beside the interpreter's CRT.
    others = [other for other in imports if other.lower() not in (dll, "kernel32.dll")
              and not re.fullmatch(r"api-ms-win-crt-[a-z]+-l1-1-0\.dll", other.lower())]
    assert others == [] and dll in imports
    assert sorted(set(imports[dll]) - declared(headers)) == []


def test_windows_wheel(target):
    (tag, wheel_tag, _, _, _, _, version, _), _ = target
    fields = wheel_packer.project()
    name = "KestrovaGUI-%s" % fields["version"]
    path = OUT / ("%s-%s.whl" % (name, wheel_tag))
    module, stub = "KestrovaGUI.%s.pyd" % tag, (ROOT / "src" / "KestrovaGUI.pyi").read_bytes()
    info = name + ".dist-info/"
    with zipfile.ZipFile(str(path)) as archive:
        contents = {entry: archive.read(entry) for entry in archive.namelist()}
    assert sorted(contents) == sorted([module, "KestrovaGUI.pyi", "KestrovaGUI-stubs/__init__.pyi",
                                       info + "METADATA", info + "WHEEL", info + "RECORD"])
    assert contents[module] == (OUT / module).read_bytes()
    assert contents["KestrovaGUI.pyi"] == contents["KestrovaGUI-stubs/__init__.pyi"] == stub

    wheel = email.parser.Parser().parsestr(contents[info + "WHEEL"].decode("utf-8"))
    assert (wheel["Wheel-Version"], wheel["Root-Is-Purelib"], wheel.get_all("Tag")) == ("1.0", "false", [wheel_tag])
    metadata = email.parser.Parser().parsestr(contents[info + "METADATA"].decode("utf-8"))
    assert [metadata[key] for key in ("Metadata-Version", "Name", "Version", "Summary", "License",
                                      "Requires-Python")] == \
        ["2.1", fields["name"], fields["version"], fields["description"], fields["license"]["text"],
         fields["requires-python"]]
    assert metadata.get_all("Requires-Dist") == fields["dependencies"] == ["wxPython", "pandas"]
    assert metadata.get_all("Classifier") == fields["classifiers"]
    assert metadata.get_payload() == (ROOT / fields["readme"]).read_text(encoding="utf-8")
    # pip on Windows refuses a wheel whose Requires-Python excludes its interpreter.
    from packaging.specifiers import SpecifierSet
    assert version + ".0" in SpecifierSet(fields["requires-python"])

    rows = list(csv.reader(io.StringIO(contents[info + "RECORD"].decode("utf-8"))))
    assert sorted(row[0] for row in rows) == sorted(contents)
    for entry, digest, size in rows:
        if entry == info + "RECORD":
            assert (digest, size) == ("", "")
        else:
            expected = base64.urlsafe_b64encode(hashlib.sha256(contents[entry]).digest()).rstrip(b"=")
            assert (digest, size) == ("sha256=" + expected.decode("ascii"), str(len(contents[entry])))


@pytest.fixture(scope="module")
def pip():
    done = subprocess.run([PIP_PYTHON, "-m", "pip", "install", "--help"], capture_output=True, text=True)
    if "--dry-run" not in done.stdout:
        pytest.skip("needs Debian's pip with --dry-run (python3-pip from Debian 12 on) for %s" % PIP_PYTHON)
    return [PIP_PYTHON, "-m", "pip"]


def test_windows_wheel_pip(target, pip, tmp_path):
    """pip (Debian's, asked as for a Windows interpreter) would install the wheel for its own
    platform and version, and refuses it for the other platform or the previous version."""
    (_, wheel_tag, _, _, _, platform, version, _), _ = target
    name = "KestrovaGUI-%s" % wheel_packer.project()["version"]
    env = {key: value for key, value in os.environ.items() if not key.startswith("PIP_")}
    env.update(PIP_CONFIG_FILE=os.devnull, PIP_DISABLE_PIP_VERSION_CHECK="1", PIP_NO_INPUT="1")
    other_platform = "win32" if platform == "win_amd64" else "win_amd64"
    previous = "3.%d" % (int(version.split(".")[1]) - 1)
    runs = [(platform, version, "Would install " + name),
            (other_platform, version, "is not a supported wheel on this platform"),
            (platform, previous, "is not a supported wheel on this platform")]
    wheel = str(OUT / ("%s-%s.whl" % (name, wheel_tag)))
    started = [subprocess.Popen(pip + ["install", "--dry-run", "--no-deps", "--no-index", "--target",
                                       str(tmp_path / "target"), "--platform", run_platform, "--python-version",
                                       run_version, "--only-binary", ":all:", wheel],
                                env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
               for run_platform, run_version, _ in runs]
    for index, ((run_platform, run_version, expected), process) in enumerate(zip(runs, started)):
        output = process.communicate()[0]
        assert ((process.returncode == 0) == (index == 0)) and expected in output, \
            "--platform %s --python-version %s:\n%s" % (run_platform, run_version, output)
    assert not (tmp_path / "target").exists()
