#!/usr/bin/python3
"""Instruction counts per call, module against plain peer, against the stub toolkit.

    python3 benchmarks/profile.py [--calls N] [--keep DIR] [ROW-PATTERN ...]
    python3 benchmarks/profile.py --import

Runs each selected row (all rows by default; a pattern selects the rows whose name contains
it) under valgrind's callgrind (against the stub toolkit, or with --toolkit real against the
real one), counting only the instructions of one batch of N calls for
each implementation, and prints instructions per call and their ratio. Unlike wall-clock
time, the counts repeat exactly from run to run and do not depend on the machine's load.
Where a row has a floor (benchmarks/stubwx/floor.cpp: the same toolkit calls through the
cheapest public calls), it is counted too. With --keep, the callgrind files stay in DIR (one
per batch, in the order of the index file there) for callgrind_annotate.
"""

import argparse
import glob
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import run  # noqa: E402  (shares the toolkit set-up and paths)


def inner_import(options):
    """The `import KestrovaGUI` statement, then the peer's (from its bytecode), each counted
    alone, with what both import already imported and the garbage collected."""
    import gc
    import importlib
    import os.path  # noqa: F401
    import locale  # noqa: F401
    import ctypes  # noqa: F401
    import wx  # noqa: F401
    import wx.lib.buttons  # noqa: F401
    import pandas  # noqa: F401
    import stubwx

    with open(options.index, "w") as index:
        for name, impl in (("import", "module"), ("import", "plain")):
            gc.collect()
            stubwx.measured_call(importlib.import_module, "KestrovaGUI" if impl == "module" else "plain")
            index.write("%s\t%s\n" % (name, impl))


def inner(options):
    if options.import_:
        return inner_import(options)
    import rows
    import stubwx

    sys.stdout = open(os.devnull, "w")
    impls = run.load_implementations()
    import ctypes  # noqa: F401

    toolkit = run.RealToolkit() if options.toolkit == "real" else run.StubToolkit(options.stub_shape)
    run.bind_toolkit(toolkit, *impls.values())
    floor = run.FLOOR if toolkit.name == "stub" else None
    if floor is not None:
        floor.use(toolkit.wx, toolkit.GenButton)
    selected = [row for row in rows.ROWS
                if not options.rows or any(p in row.name for p in options.rows)]
    if options.panel:
        with open(options.index, "w") as index:
            for name, impl in impls.items():
                rows.build_panel(impl, toolkit.real_wx.Panel(toolkit.frame), 100)  # warm up
                toolkit.settle()
                panel = toolkit.real_wx.Panel(toolkit.frame)
                stubwx.measured_call(rows.build_panel, impl, panel, 100)
                panel.Destroy()
                toolkit.settle()
                index.write("panel of 100 rows\t%s\n" % name)
        return
    with open(options.index, "w") as index:
        for row in selected:
            with row.context(toolkit):
                measured = [(name, row, impl) for name, impl in impls.items()]
                if floor is not None and rows.floor_row(row) is not None:
                    measured.append(("floor", rows.floor_row(row), (floor, impls["module"])))
                for name, measured_row, impl in measured:
                    names = measured_row.prepare(impl, toolkit)
                    loop = rows.compile_loop(measured_row, names)
                    loop(200, names)  # warm: specialise, fill free lists
                    stubwx.measured_call(loop, options.calls, names)
                    index.write("%s\t%s\n" % (row.name, name))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("rows", nargs="*")
    parser.add_argument("--calls", type=int, default=1000)
    parser.add_argument("--build", default=os.path.join(run.ROOT, "build"))
    parser.add_argument("--keep")
    parser.add_argument("--panel", action="store_true",
                        help="count one build of a 100-row panel instead (real toolkit)")
    parser.add_argument("--toolkit", choices=["stub", "real"], default="stub",
                        help="the real toolkit needs a display (run under xvfb-run)")
    parser.add_argument("--stub-shape", choices=sorted(run.STUB_SHAPES), default="real",
                        help="the stub toolkit's shape (benchmarks/run.py --help)")
    parser.add_argument("--import", dest="import_", action="store_true",
                        help="count the import statement of the module and of the peer instead")
    parser.add_argument("--valgrind", action="append", default=[],
                        help="extra valgrind option, such as --branch-sim=yes (repeatable)")
    parser.add_argument("--inner", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--index", help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.panel:
        options.toolkit = "real"
    if options.inner:
        inner(options)
        return

    stub_dir = run.build_stub_toolkit()
    directory = options.keep or tempfile.mkdtemp(prefix="kestrova-callgrind-")
    os.makedirs(directory, exist_ok=True)
    for old in glob.glob(os.path.join(directory, "callgrind.out*")):
        os.remove(old)
    index = os.path.join(directory, "index.tsv")
    stubs = [run.STUBS] if options.toolkit == "stub" else []
    env = dict(os.environ, GSETTINGS_BACKEND="memory", PYTHONPATH=os.pathsep.join(
        stubs + [os.path.abspath(options.build), stub_dir, HERE]))
    command = ["valgrind", "--tool=callgrind", "--collect-atstart=no"] + options.valgrind + [
               "--callgrind-out-file=" + os.path.join(directory, "callgrind.out"),
               sys.executable, os.path.abspath(__file__), "--inner", "--index", index,
               "--calls", str(options.calls), "--toolkit", options.toolkit,
               "--stub-shape", options.stub_shape] + options.rows
    if options.panel:
        command.append("--panel")
    if options.import_:
        import py_compile

        py_compile.compile(os.path.join(HERE, "plain.py"), doraise=True)  # the peer loads from its bytecode
        command.append("--import")
        # The real toolkit and pandas where they can be imported, else their stand-ins.
        env["PYTHONPATH"] = os.pathsep.join([os.path.abspath(options.build), stub_dir, HERE] + run.stand_ins())
    subprocess.run(command, env=env, check=True, stderr=subprocess.DEVNULL,
                   cwd=run.EXAMPLES if options.toolkit == "real" else None)

    with open(index) as handle:
        batches = [line.rstrip("\n").split("\t") for line in handle]
    dumps = sorted(glob.glob(os.path.join(directory, "callgrind.out.*")),
                   key=lambda path: int(path.rsplit(".", 1)[1]))
    if len(dumps) != len(batches):
        raise SystemExit("profile.py: %d batches but %d callgrind dumps: %s was built without valgrind's "
                         "headers (install valgrind, then remove that directory)" % (len(batches), len(dumps), stub_dir))
    counts = {}
    for (row, impl), dump in zip(batches, dumps):
        with open(dump) as handle:
            total = int(re.search(r"^totals:\s*(\d+)", handle.read(), re.M).group(1))
        counts.setdefault(row, {})[impl] = total / (1 if options.panel or options.import_ else options.calls)
    print("%-30s %12s %12s %7s %12s" % ("entry point", "module Ir", "plain Ir", "ratio", "floor Ir"))
    for row, entry in counts.items():
        print("%-30s %12.0f %12.0f %7.2f %12s" % (row, entry["module"], entry["plain"], entry["module"] / entry["plain"],
                                                  "%.0f" % entry["floor"] if "floor" in entry else ""))
    if options.keep:
        print("callgrind files in %s (in the order above, module then plain)" % directory)


if __name__ == "__main__":
    main()
