"""Writes the module-definition file from which dlltool makes the import library of a
Python DLL: every name of the C API that the compiled objects leave undefined, each data
object marked DATA (the headers' PyAPI_DATA declarations say which), so that the library
gives data only through its __imp_ pointer and no code stub stands in for it.

    python_def.py [--underscore] NM DLL HEADERS OBJECT... > python3X.def

NM is the target's nm, DLL the interpreter's DLL name, HEADERS its include directory;
--underscore for targets whose C names carry a leading underscore (32-bit x86)."""

import argparse
import pathlib
import re
import subprocess
import sys

API_NAME = re.compile(r"_?Py[A-Za-z0-9_]*")


def data_names(headers):
    """Names that the headers declare with PyAPI_DATA(type) name[, name...];"""
    names = set()
    for header in pathlib.Path(headers).rglob("*.h"):
        text = re.sub(r"/\*.*?\*/|//[^\n]*", " ", header.read_text(errors="replace"), flags=re.S)
        for declarators in re.findall(r"PyAPI_DATA\((?:[^()]|\([^()]*\))*\)([^;]*);", text):
            for declarator in declarators.split(","):
                found = re.findall(r"[A-Za-z_]\w*", re.sub(r"\[[^\]]*\]", "", declarator))
                if found:
                    names.add(found[-1])
    return names


def undefined_names(nm, objects, underscore):
    listing = subprocess.run([nm, "-u", *objects], check=True, capture_output=True, text=True).stdout
    names = set()
    for line in listing.splitlines():
        fields = line.split()
        if len(fields) != 2 or fields[0] != "U":
            continue
        symbol = fields[1]
        symbol = symbol[len("__imp_"):] if symbol.startswith("__imp_") else symbol
        if underscore:
            if not symbol.startswith("_"):
                continue
            symbol = symbol[1:]
        if API_NAME.fullmatch(symbol):
            names.add(symbol)
    return names


def main():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("--underscore", action="store_true")
    for name in ("nm", "dll", "headers"):
        parser.add_argument(name)
    parser.add_argument("objects", nargs="+")
    options = parser.parse_args()
    # dlltool gives the symbols of the import library their underscore back; the DLL
    # exports (and the importer's table names) the plain names.
    names = undefined_names(options.nm, options.objects, options.underscore)
    if not names:
        sys.exit("python_def.py: the objects use no C API names")
    data = data_names(options.headers)
    lines = ["LIBRARY %s" % options.dll, "EXPORTS"]
    lines += ["    %s%s" % (name, " DATA" if name in data else "") for name in sorted(names)]
    print("\n".join(lines))


if __name__ == "__main__":
    main()
