"""The Windows build (make windows): each .pyd, read with nothing but its PE headers, is a
DLL for its machine that exports only the init function and needs nothing at run time but
its interpreter's DLL and Windows' own DLLs, and every C API name it imports from the
interpreter is one that the interpreter's headers declare.

With the MinGW-w64 compilers installed, the files are built first (make windows); without
them, files built earlier are checked, and with neither (or without the interpreters'
headers, from pyenv) the checks are skipped."""

import os
import pathlib
import re
import shutil
import struct
import subprocess

import pytest
from conftest import ROOT

OUT = ROOT / "build-windows"
COMPILERS = ["i686-w64-mingw32-g++-win32", "x86_64-w64-mingw32-g++-win32"]
PYENV = pathlib.Path(os.environ.get("PYENV_ROOT") or pathlib.Path.home() / ".pyenv")
# file, COFF machine, PE optional header magic, interpreter DLL, its headers
TARGETS = [
    ("KestrovaGUI.cp37-win32.pyd", 0x014C, 0x10B, "python37.dll", "3.7.*/include/python3.7m"),
    ("KestrovaGUI.cp313-win_amd64.pyd", 0x8664, 0x20B, "python313.dll", "3.13.*/include/python3.13"),
]


@pytest.fixture(scope="module")
def built():
    """The build folder and each target's header folder."""
    headers = {dll: sorted((PYENV / "versions").glob(pattern)) for _, _, _, dll, pattern in TARGETS}
    if not all(headers.values()):
        pytest.skip("Windows build not checked: no CPython 3.7 and 3.13 headers under %s" % PYENV)
    if all(shutil.which(compiler) for compiler in COMPILERS):
        done = subprocess.run(["make", "-C", str(ROOT), "windows"], capture_output=True, text=True)
        assert done.returncode == 0, done.stdout[-3000:] + done.stderr[-3000:]
    elif not list(OUT.glob("*.pyd")):
        pytest.skip("Windows build not checked: no MinGW-w64 cross compilers (make windows installs them)")
    return OUT, {dll: found[0] for dll, found in headers.items()}


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
        for thunk in range(thunk, len(data), thunk_size):
            value = int.from_bytes(data[thunk:thunk + thunk_size], "little")
            if not value:
                break
            assert not value & ordinal_bit, "import by ordinal from %s" % string(name)
            listed.append(string(value + 2))  # past the hint
        entry += 20


def declared(headers):
    """Every name that the headers declare with PyAPI_FUNC(type) or PyAPI_DATA(type)."""
    names = set()
    for header in headers.rglob("*.h"):
        text = re.sub(r"/\*.*?\*/|//[^\n]*", " ", header.read_text(errors="replace"), flags=re.S)
        for declarators in re.findall(r"PyAPI_(?:FUNC|DATA)\((?:[^()]|\([^()]*\))*\)([^;(#]*)", text):
            names.update(words[-1] for words in map(re.compile(r"\w+").findall, declarators.split(",")) if words)
    return names


@pytest.mark.parametrize("name, machine, magic, dll", [t[:4] for t in TARGETS], ids=[t[0] for t in TARGETS])
def test_windows_module(built, name, machine, magic, dll):
    out, headers = built
    path = out / name
    assert path.exists(), "make windows made no %s" % name
    found_machine, found_magic, is_dll, exports, imports = read_pe(path)
    assert (found_machine, found_magic, is_dll) == (machine, magic, True)
    assert exports == ["PyInit_KestrovaGUI"]
    # The interpreter's DLL, the kernel and the Universal CRT (as the interpreter uses): no
    # MinGW runtime DLL, and not the older msvcrt.dll beside the interpreter's CRT.
    others = [other for other in imports if other.lower() not in (dll, "kernel32.dll")
              and not re.fullmatch(r"api-ms-win-crt-[a-z]+-l1-1-0\.dll", other.lower())]
    assert others == [] and dll in imports
    assert sorted(set(imports[dll]) - declared(headers[dll])) == []
