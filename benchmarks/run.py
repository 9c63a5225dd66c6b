#!/usr/bin/python3
"""Benchmarks of KestrovaGUI against its plain-Python peer (benchmarks/plain.py).

    python3 benchmarks/run.py [--quick] [--json PATH] [--build DIR]

Prints one table per toolkit and writes everything as JSON (default:
build-bench/results.json):

- stub: every entry point against `stubwx`, a near-zero-cost native stand-in for the
  toolkit (benchmarks/stubwx, built here with Meson), so that the table shows the cost of
  the callers themselves;
- real: the same entry points against the real toolkit (file dialogs stubbed), and a panel
  of 100 rows; needs a display (`make bench` runs under Xvfb), skipped without one;
- import: the module's own `-X importtime` self time, with the toolkit and pandas imported
  first;
- first calls: each entry point's first call in a fresh process;
- memory: resident size and allocated blocks before and after 100,000 rounds of
  constructions and handler calls against the stub toolkit.

Each timing is taken side by side: per repetition, one batch of the module and one of the
plain peer, in alternating order; the tables give the medians of the time per call and of
the per-repetition ratio module/plain. Times are CPU time of the benchmark's thread, so
that time spent preempted by other processes does not count. The garbage collector is off
during batches, as with timeit. --quick runs everything once with tiny batches, to check that it still works.
"""

import argparse
import gc
import json
import os
import platform
import re
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
STUBS = os.path.join(ROOT, "tests", "stubs")  # pure-Python wx and pandas for the loads
PANDAS_STAND_IN = os.path.join(ROOT, "tests", "stubs-pandas")  # pandas alone, beside the real toolkit
EXAMPLES = os.path.join(ROOT, "examples")


# --- building the stub toolkit ---------------------------------------------------------------

def stub_toolkit_directory():
    """Where stubwx is built for this interpreter."""
    return os.path.join(ROOT, "build-bench", "stubwx-%d.%d.%d" % sys.version_info[:3])


def build_stub_toolkit(directory=None):
    sys.path.insert(0, os.path.join(ROOT, "build-aux"))
    import meson_setup

    directory = directory or stub_toolkit_directory()
    done = meson_setup.setup(directory, os.path.join(HERE, "stubwx"), sys.executable, ["-Dwerror=true"])
    if done is not None and done.returncode != 0:
        raise SystemExit("stubwx: meson setup failed\n" + done.stdout + done.stderr)
    subprocess.run(["ninja", "-j2", "-C", directory], check=True, stdout=subprocess.DEVNULL)
    return directory


def import_failure(statement):
    """Why `statement` fails on this interpreter, or None."""
    # As the workers import it: without the caller's path, which may hold the stand-ins.
    env = {key: value for key, value in os.environ.items() if key != "PYTHONPATH"}
    done = subprocess.run([sys.executable, "-c", statement], capture_output=True, text=True, env=env)
    return None if done.returncode == 0 else (done.stderr.strip().splitlines() or ["?"])[-1]


def toolkit_missing():
    """Why this interpreter has no real toolkit, or None."""
    failure = import_failure("import wx, wx.lib.buttons")
    return failure and "no real toolkit for this interpreter (%s)" % failure


def stand_ins():
    """What the loads of the module need first on their path here: the stand-ins for the
    toolkit and pandas without the real toolkit, the one for pandas alone where only pandas
    cannot be imported (Debian 14 builds it for 3.14 only)."""
    if toolkit_missing():
        return [STUBS]
    return [PANDAS_STAND_IN] if import_failure("import pandas") else []


def real_toolkit_missing():
    """Why the real toolkit cannot be timed here, or None."""
    if not os.environ.get("DISPLAY"):
        return "no display; run under xvfb-run (make bench does)"
    return toolkit_missing()


# --- toolkits ---------------------------------------------------------------------------------

# The stub toolkit's two shapes (benchmarks/stubwx): the real toolkit's (widgets that can
# carry an attribute dictionary, GenButton a class over a native base), and a flat one of
# dictionary-less native types.
STUB_SHAPES = {"real": "stubwx", "flat": "stubwx_flat"}


class StubToolkit:
    name = "stub"

    def __init__(self, shape="real"):
        import importlib

        stubwx = importlib.import_module(STUB_SHAPES[shape])
        self.wx = stubwx
        self.GenButton = stubwx.GenButton
        self.windll = stubwx.windll
        self.frame = stubwx.Frame()
        self.panel = stubwx.Panel()

    def fresh_panel(self):
        self.panel = self.wx.Panel()

    def press_handler(self, impl, make):
        make()
        return self.wx.pressed_handler()

    def call_count(self):
        return self.wx.call_count()

    def settle(self):
        pass


class RealToolkit:
    """The real toolkit, except for the file dialog (stubbed so that a press does not wait
    for a person) and the Windows shell (absent on this platform, stubbed for one row)."""

    name = "real"

    def __init__(self):
        import types

        import stubwx
        import wx
        from wx.lib.buttons import GenButton

        self.real_wx = wx
        self.app = wx.App(False)
        self.frame = wx.Frame(None, size=(900, 700))
        self.frame.Show()
        proxy = types.ModuleType("wx")
        proxy.__dict__.update(wx.__dict__)
        proxy.FileDialog = stubwx.FileDialog
        self.wx = proxy
        self.GenButton = GenButton
        self.windll = stubwx.windll
        self.panel = wx.Panel(self.frame)

    def fresh_panel(self):
        self.panel.Destroy()
        self.panel = self.real_wx.Panel(self.frame)
        self.settle()

    def press_handler(self, impl, make):
        captured = []
        evt_button = self.wx.EVT_BUTTON

        class Recording(self.GenButton):
            def Bind(self, event, handler, *args, **kwargs):
                if event is evt_button:
                    captured.append(handler)
                return super().Bind(event, handler, *args, **kwargs)

        impl.GenButton = Recording
        try:
            make()
        finally:
            impl.GenButton = self.GenButton
        return captured[-1]

    def call_count(self):
        return None

    def settle(self):
        self.app.ProcessPendingEvents()


def bind_toolkit(toolkit, *impls):
    for impl in impls:
        impl.wx = toolkit.wx
        impl.GenButton = toolkit.GenButton


# --- timing -----------------------------------------------------------------------------------

# Batches are timed in CPU time of the running thread, which leaves out the time the
# process spends preempted while other processes share the cores; wall-clock time on a
# shared machine mostly measures the neighbours. Against the real toolkit part of the work
# is the display server's, in another process, so the wall clock is read as well.
clock = time.thread_time_ns
wall_clock = time.perf_counter_ns


def timed(loop, n, names, wall=None):
    """CPU time per call of `n` calls; with a list as `wall`, appends the wall-clock time
    per call to it."""
    gc_was_on = gc.isenabled()
    gc.disable()
    try:
        start, start_wall = clock(), wall_clock()
        loop(n, names)
        end, end_wall = clock(), wall_clock()
        if wall is not None:
            wall.append((end_wall - start_wall) / n)
        return (end - start) / n
    finally:
        if gc_was_on:
            gc.enable()


def calibrate(loop, names, target_ns, limit=1 << 20):
    n = 1
    while n < limit:
        start = clock()
        loop(n, names)
        if clock() - start >= target_ns:
            break
        n *= 2
    return n


def measure_row(row, toolkit, impls, repetitions, target_ns):
    import rows

    result = {"name": row.name, "group": row.group}
    with row.context(toolkit):
        prepared = {name: row.prepare(impl, toolkit) for name, impl in impls.items()}
        loops = {name: rows.compile_loop(row, names) for name, names in prepared.items()}
        # Toolkit calls per call, which must agree between the two implementations.
        if toolkit.call_count() is not None:
            counts = {}
            for name, loop in loops.items():
                before = toolkit.call_count()
                loop(1, prepared[name])
                counts[name] = toolkit.call_count() - before
            result["toolkit_calls"] = counts
        n = calibrate(loops["module"], prepared["module"], target_ns)
        # The floor of a native implementation, where the row has one (stub toolkit only).
        floor = rows.floor_row(row) if toolkit.name == "stub" and FLOOR is not None else None
        timed_impls = list(impls) + (["floor"] if floor else [])
        if floor:
            prepared["floor"] = floor.prepare((FLOOR, impls["module"]), toolkit)
            loops["floor"] = rows.compile_loop(floor, prepared["floor"])
        samples = {name: [] for name in timed_impls}
        walls = {name: [] for name in timed_impls}
        ratios, wall_ratios, floor_ratios = [], [], []
        for repetition in range(repetitions):
            if toolkit.name == "real":
                toolkit.fresh_panel()
                prepared = {name: row.prepare(impl, toolkit) for name, impl in impls.items()}
            order = timed_impls if repetition % 2 == 0 else list(reversed(timed_impls))
            times = {}
            for name in order:
                loops[name](max(1, n // 8), prepared[name])  # warm the caches
                times[name] = timed(loops[name], n, prepared[name], walls[name])
                samples[name].append(times[name])
            ratios.append(times["module"] / times["plain"])
            wall_ratios.append(walls["module"][-1] / walls["plain"][-1])
            if floor:
                floor_ratios.append(times["floor"] / times["plain"])
            toolkit.settle()
    if floor:
        result.update(floor_ns=statistics.median(samples["floor"]), floor_ratio=statistics.median(floor_ratios))
    result.update(
        calls_per_batch=n,
        repetitions=repetitions,
        module_ns=statistics.median(samples["module"]),
        plain_ns=statistics.median(samples["plain"]),
        ratio=statistics.median(ratios),
        ratio_range=[min(ratios), max(ratios)],
        wall_ratio=statistics.median(wall_ratios),
    )
    return result


def measure_panel(toolkit, impls, repetitions, rows_per_panel=100):
    import rows

    samples = {name: [] for name in impls}
    ratios, wall_ratios = [], []
    raw = []
    wx = toolkit.real_wx
    builders = {name: rows.panel_builder() for name in impls}
    for repetition in range(repetitions + 1):  # the first round warms up and is dropped
        order = list(impls) if repetition % 2 == 0 else list(reversed(list(impls)))
        times, walls = {}, {}
        for name in order:
            panel = wx.Panel(toolkit.frame)
            gc.disable()
            start, start_wall = clock(), wall_clock()
            builders[name](impls[name], panel, rows_per_panel)
            times[name], walls[name] = clock() - start, wall_clock() - start_wall
            gc.enable()
            panel.Destroy()
            toolkit.settle()
        if repetition:
            for name in impls:
                samples[name].append(times[name])
            ratios.append(times["module"] / times["plain"])
            wall_ratios.append(walls["module"] / walls["plain"])
            raw.append((order[0], times["module"], times["plain"], walls["module"], walls["plain"]))
    return {
        "raw": raw,
        "name": "panel of %d rows" % rows_per_panel,
        "group": "panel",
        "repetitions": repetitions,
        "module_ns": statistics.median(samples["module"]),
        "plain_ns": statistics.median(samples["plain"]),
        "ratio": statistics.median(ratios),
        "ratio_range": [min(ratios), max(ratios)],
        "wall_ratio": statistics.median(wall_ratios),
    }


# --- workers (each runs in its own interpreter) -----------------------------------------------

def load_implementations():
    global FLOOR
    import KestrovaGUI
    import plain

    try:
        import floor
    except ImportError:  # built from 3.9 on
        floor = None
    FLOOR = floor
    return {"module": KestrovaGUI, "plain": plain}


FLOOR = None  # benchmarks/stubwx/floor.cpp, once loaded


def worker_table(options):
    import rows

    sys.stdout = open(os.devnull, "w")  # the module's load prints an empty line
    impls = load_implementations()
    import ctypes  # noqa: F401  (imported by icon at each call; loaded once beforehand)

    toolkit = RealToolkit() if options.toolkit == "real" else StubToolkit(options.stub_shape)
    bind_toolkit(toolkit, *impls.values())
    if FLOOR is not None and toolkit.name == "stub":
        FLOOR.use(toolkit.wx, toolkit.GenButton)
    if options.quick:
        repetitions, target = 1, 100_000
    elif toolkit.name == "real":
        repetitions, target = 21, 20_000_000
    else:
        repetitions, target = 41, 1_000_000
    repetitions = options.repetitions or repetitions
    selected = [row for row in rows.ROWS
                if not options.rows or any(p in row.name for p in options.rows.split(","))]
    table = [measure_row(row, toolkit, impls, repetitions, target) for row in selected]
    if toolkit.name == "real" and not options.rows:
        table.append(measure_panel(toolkit, impls, 1 if options.quick else 21))
    return {"toolkit": toolkit.name, "rows": table,
            "median_ratio": statistics.median(r["ratio"] for r in table),
            "median_wall_ratio": statistics.median(r["wall_ratio"] for r in table)}


def worker_first_calls(options):
    """The first and second call of each entry point of one implementation, in a fresh
    process that has loaded both implementations but called neither."""
    import rows

    sys.stdout = open(os.devnull, "w")
    impls = load_implementations()
    import ctypes  # noqa: F401

    toolkit = StubToolkit()
    bind_toolkit(toolkit, *impls.values())
    impl = impls[options.impl]

    # Single calls are timed on the wall clock, whose reading costs little; the cost of
    # timing an empty loop is taken off.
    def once(loop, names):
        start = time.perf_counter_ns()
        loop(1, names)
        return time.perf_counter_ns() - start

    empty_names = {"x": None}
    empty = rows.compile_loop(rows.Row("empty", "x", None), empty_names)
    overhead = min(once(empty, empty_names) for _ in range(1000))
    table = []
    for row in rows.ROWS:
        with row.context(toolkit):
            names = row.prepare(impl, toolkit)
            loop = rows.compile_loop(row, names)
            gc.disable()
            first = once(loop, names) - overhead
            second = once(loop, names) - overhead
            gc.enable()
            table.append({"name": row.name, "first_ns": first, "second_ns": second})
    return {"rows": table, "timing_overhead_ns": overhead}


def resident_bytes():
    try:
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    except OSError:
        import resource

        return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def worker_memory(options):
    """Resident size and allocated blocks of one implementation's process while it makes
    `rounds` rounds of calls of every entry point, measured after a warm-up and then every
    tenth of the rounds."""
    import rows

    sys.stdout = open(os.devnull, "w")
    impls = load_implementations()
    import ctypes  # noqa: F401

    toolkit = StubToolkit()
    bind_toolkit(toolkit, *impls.values())
    rounds = 1_000 if options.quick else 100_000
    impl = impls[options.impl]
    batch = []
    for row in rows.ROWS:
        with row.context(toolkit):
            names = row.prepare(impl, toolkit)
        batch.append((row, rows.compile_loop(row, names), names))

    def run(count):
        for row, loop, names in batch:
            with row.context(toolkit):
                loop(count, names)

    def sample():
        gc.collect()
        return {"rss": resident_bytes(), "blocks": sys.getallocatedblocks()}

    run(1_000)  # warm up: caches, free lists, arenas
    samples = [sample()]
    step = rounds // 10
    for _ in range(10):
        run(step)
        samples.append(sample())
    return {"rounds": rounds, "calls_per_round": len(batch), "samples": samples}


WORKERS = {"table": worker_table, "first": worker_first_calls, "memory": worker_memory}
SECTIONS = ["stub", "real", "import", "first", "memory"]


# --- the import ------------------------------------------------------------------------------

# The collection at the end leaves the import under test no garbage of the preloads to collect:
# from 3.14 on, a collection that the preloads' allocations are due would otherwise fall into
# the import timed (some 10 ms with pandas loaded), whichever module it is.
IMPORT_PRELOAD = "import os, os.path, locale, ctypes, wx, wx.lib.buttons, pandas, gc; gc.collect()"

# Prints the CPU time (µs) that `import NAME` takes in the importing thread (the toolkit and
# pandas leave threads of their own running), after the preloads.
IMPORT_CPU = IMPORT_PRELOAD + """
import sys, time
start = time.thread_time_ns()
import {name}
sys.stderr.write("cpu %d\\n" % ((time.thread_time_ns() - start) // 1000))
"""


def import_self_times(build, quick):
    """The import of KestrovaGUI and, for comparison, of the plain peer (from its bytecode),
    with the toolkit, pandas and the standard modules that both import already loaded:
    `-X importtime` self time (µs, wall clock) and the CPU time of the import statement."""
    import py_compile

    # The environment may forbid writing bytecode caches; the peer is meant to load from one.
    py_compile.compile(os.path.join(HERE, "plain.py"), doraise=True)
    # Without the real toolkit (or pandas), the pure-Python stand-ins.
    fallback = stand_ins()
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(entry for entry in [build, HERE] + fallback if entry))
    runs = 1 if quick else 31
    result = {"runs": runs}
    samples = {name: ([], []) for name in ("KestrovaGUI", "plain")}
    # The two alternate, so that a slow spell of the machine falls on both.
    for _ in range(runs):
        for name, (self_times, cpu_times) in samples.items():
            done = subprocess.run([sys.executable, "-X", "importtime", "-c",
                                   IMPORT_PRELOAD + "; import " + name],
                                  env=env, check=True, capture_output=True, text=True)
            for line in done.stderr.splitlines():
                match = re.match(r"import time:\s*(\d+)\s*\|\s*(\d+)\s*\|\s*(\S+)\s*$", line)
                if match and match.group(3) == name:
                    self_times.append(int(match.group(1)))
            done = subprocess.run([sys.executable, "-c", IMPORT_CPU.format(name=name)],
                                  env=env, check=True, capture_output=True, text=True)
            cpu_times.append(int(re.search(r"cpu (\d+)", done.stderr).group(1)))
    for name, (self_times, cpu_times) in samples.items():
        key = "module" if name == "KestrovaGUI" else "plain"
        result[key + "_self_us"] = statistics.median(self_times)
        result[key + "_self_min_us"] = min(self_times)
        result[key + "_cpu_us"] = statistics.median(cpu_times)
        result[key + "_self_samples_us"] = self_times
    return result


# --- reporting -------------------------------------------------------------------------------

def machine():
    model = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return {"cpu": model, "cores": os.cpu_count(), "python": platform.python_version(),
            "system": "%s %s" % (platform.system(), platform.release()),
            "load_average": list(os.getloadavg()) if hasattr(os, "getloadavg") else None}


def print_table(title, table, wall=False):
    print()
    print(title)
    print("%-30s %12s %12s %7s %15s%s" % ("entry point", "module ns", "plain ns", "ratio", "ratio range",
                                          "   wall ratio" if wall else ""))
    for row in table["rows"]:
        print("%-30s %12.0f %12.0f %7.2f %7.2f-%.2f%s" % (
            row["name"], row["module_ns"], row["plain_ns"], row["ratio"], *row["ratio_range"],
            "   %10.2f" % row["wall_ratio"] if wall else ""))
    slower = [row["name"] for row in table["rows"] if row["ratio"] > 1.0]
    print("%-30s %33.2f%s" % ("median ratio", table["median_ratio"],
                             "   %26.2f" % table["median_wall_ratio"] if wall else ""))
    print("rows with ratio > 1.00: %s" % (", ".join(slower) or "none"))


def report(results):
    m = results["machine"]
    print("Machine: %s, %s cores, Python %s, %s; load average at start %s" % (
        m["cpu"], m["cores"], m["python"], m["system"],
        " ".join("%.2f" % x for x in m["load_average"] or [])))
    stub = results.get("stub")
    if stub:
        print_table("Against the stub toolkit (CPU time per call; median of %d interleaved repetitions)"
                    % stub["rows"][0]["repetitions"], stub)
        mismatched = [row["name"] for row in stub["rows"]
                      if row["toolkit_calls"]["module"] != row["toolkit_calls"]["plain"]]
        if mismatched:
            print("TOOLKIT CALL COUNTS DIFFER: %s" % ", ".join(mismatched))
    real = results.get("real")
    if real:
        print_table("Against the real toolkit under %s (CPU time per call, and the ratio of wall-clock"
                    " times; median of %d interleaved repetitions)"
                    % (os.environ.get("DISPLAY", "?"), real["rows"][0]["repetitions"]), real, wall=True)
    elif "real_skipped" in results:
        print("\nAgainst the real toolkit: skipped (%s)" % results["real_skipped"])
    imp = results.get("import")
    if imp:
        print("\nImport, with the toolkit and pandas already imported (median of %d runs):"
              % imp["runs"])
        print("  -X importtime self time: module %d us, plain peer %d us (from its bytecode); least of"
              " the runs: %d us and %d us" % (imp["module_self_us"], imp["plain_self_us"],
                                             imp.get("module_self_min_us", 0), imp.get("plain_self_min_us", 0)))
        print("  CPU time of the import (importing thread): module %d us, plain peer %d us"
              % (imp["module_cpu_us"], imp["plain_cpu_us"]))
    if "first_calls" in results:
        first = results["first_calls"]
        print("\nFirst calls, each implementation in a fresh process (stub toolkit; median of %d"
              " processes), ns:" % first["processes"])
        print("  %-28s %9s %9s   %9s %9s" % ("entry point", "module 1st", "2nd", "plain 1st", "2nd"))
        for module, plain in zip(first["module"], first["plain"]):
            print("  %-28s %9.0f %9.0f   %9.0f %9.0f" % (
                module["name"], module["first_ns"], module["second_ns"], plain["first_ns"],
                plain["second_ns"]))
    memory = results.get("memory")
    if memory:
        print("\nMemory, each implementation in its own process (stub toolkit): %d rounds of"
              " all %d entry points after a warm-up" % (memory["module"]["rounds"],
                                                      memory["module"]["calls_per_round"]))
        for name in ("module", "plain"):
            samples = memory[name]["samples"]
            rss = [sample["rss"] // 1024 for sample in samples]
            blocks = [sample["blocks"] for sample in samples]
            print("  %-7s RSS KiB after warm-up %d, after all rounds %d (%+d; range over the"
                  " tenths %d-%d); allocated blocks %d -> %d (%+d)" % (
                      name, rss[0], rss[-1], rss[-1] - rss[0], min(rss[1:]), max(rss[1:]),
                      blocks[0], blocks[-1], blocks[-1] - blocks[0]))


def markdown(results):
    """The results as the Markdown of the README's Performance section."""
    m = results["machine"]
    lines = ["Machine: %s, %s cores (shared), Python %s, %s; load average %s at the start."
             % (m["cpu"], m["cores"], m["python"], m["system"],
                " / ".join("%.2f" % x for x in m["load_average"] or [])), ""]
    stub, real = results.get("stub"), results.get("real")
    if stub:
        real_rows = {row["name"]: row for row in real["rows"]} if real else {}
        lines += ["| entry point | stub toolkit: module ns | plain ns | ratio"
                  " | real toolkit: ratio (CPU) | (wall) |",
                  "|---|---:|---:|---:|---:|---:|"]
        for row in stub["rows"]:
            other = real_rows.get(row["name"])
            lines.append("| %s | %.0f | %.0f | %.2f | %s | %s |" % (
                row["name"].replace("|", "\\|"), row["module_ns"], row["plain_ns"], row["ratio"],
                "%.2f" % other["ratio"] if other else "-",
                "%.2f" % other["wall_ratio"] if other else "-"))
        panel = real_rows.get("panel of 100 rows")
        if panel:
            lines.append("| panel of 100 rows (real toolkit: %.1f ms against %.1f ms of CPU time)"
                         " | | | | %.2f | %.2f |" % (panel["module_ns"] / 1e6, panel["plain_ns"] / 1e6,
                                                     panel["ratio"], panel["wall_ratio"]))
        lines.append("| **median ratio** | | | **%.2f** | **%.2f** | **%.2f** |" % (
            stub["median_ratio"], real["median_ratio"] if real else float("nan"),
            real["median_wall_ratio"] if real else float("nan")))
        lines.append("")
    imp = results.get("import")
    if imp:
        lines.append("Import (toolkit and pandas already imported, median of %d runs): `-X importtime`"
                     " self time %d µs (plain peer from its bytecode: %d µs), least %d µs (%d µs); CPU time"
                     " %d µs (%d µs)." % (imp["runs"], imp["module_self_us"], imp["plain_self_us"],
                                           imp.get("module_self_min_us", 0), imp.get("plain_self_min_us", 0),
                                           imp["module_cpu_us"], imp["plain_cpu_us"]))
    memory = results.get("memory")
    if memory:
        parts = []
        for name in ("module", "plain"):
            samples = memory[name]["samples"]
            parts.append("%s %+d KiB resident, %+d allocated blocks" % (
                name, (samples[-1]["rss"] - samples[1]["rss"]) // 1024,
                samples[-1]["blocks"] - samples[0]["blocks"]))
        lines.append("Memory over %d rounds of all %d entry points (after the first tenth; blocks"
                     " from the warm-up): %s." % (memory["module"]["rounds"],
                                                  memory["module"]["calls_per_round"],
                                                  "; ".join(parts)))
    return "\n".join(lines) + "\n"


def interpreters_markdown(runs):
    """One table over several interpreters: `runs` is [(label, results)], the main
    interpreter first (its times per call on the stub toolkit), then one ratio column per
    interpreter from the stub toolkit, then one per interpreter that timed the real toolkit."""
    main = runs[0][1]
    stubs = [(label, {row["name"]: row for row in results["stub"]["rows"]}) for label, results in runs]
    reals = [(label, {row["name"]: row for row in results["real"]["rows"]}, results["real"])
             for label, results in runs if results.get("real")]
    header = ["entry point", "%s: module ns" % runs[0][0], "plain ns"] + \
        ["ratio %s" % label for label, _ in runs] + ["real toolkit %s: ratio" % label for label, _, _ in reals]
    lines = ["| " + " | ".join(header) + " |", "|---" + "|---:" * (len(header) - 1) + "|"]
    for row in main["stub"]["rows"]:
        name = row["name"]
        cells = [name.replace("|", "\\|"), "%.0f" % row["module_ns"], "%.0f" % row["plain_ns"]]
        cells += ["%.2f" % rows[name]["ratio"] if name in rows else "-" for _, rows in stubs]
        cells += ["%.2f" % rows[name]["ratio"] if name in rows else "-" for _, rows, _ in reals]
        lines.append("| " + " | ".join(cells) + " |")
    if reals:
        cells = ["panel of 100 rows", "", ""] + [""] * len(runs)
        cells += ["%.2f" % rows["panel of 100 rows"]["ratio"] if "panel of 100 rows" in rows else "-"
                  for _, rows, _ in reals]
        lines.append("| " + " | ".join(cells) + " |")
    cells = ["**median ratio**", "", ""] + ["**%.2f**" % results["stub"]["median_ratio"] for _, results in runs]
    cells += ["**%.2f**" % real["median_ratio"] for _, _, real in reals]
    lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines) + "\n"


# --- main ------------------------------------------------------------------------------------

def run_worker(kind, options, stub_dir, toolkit="stub", cwd=None, impl=None):
    with tempfile.TemporaryDirectory() as scratch:
        output = os.path.join(scratch, "result.json")
        # Against the stub toolkit, the module loads with the pure-Python stand-ins for
        # the toolkit and pandas; the runs then bind stubwx as its `wx`. Against the real
        # one, with the pandas stand-in where pandas cannot be imported.
        path = ([STUBS] if toolkit == "stub" else stand_ins()) + [options.build, stub_dir, HERE]
        path = [entry for entry in path if entry]
        env = dict(os.environ, PYTHONPATH=os.pathsep.join(path), GSETTINGS_BACKEND="memory")
        command = [sys.executable, os.path.abspath(__file__), "--worker", kind, "--output", output,
                   "--build", options.build, "--rows", options.rows, "--stub-shape", options.stub_shape,
                   "--repetitions", str(options.repetitions)]
        if options.quick:
            command.append("--quick")
        if kind == "table":
            command += ["--toolkit", toolkit]
        if impl:
            command += ["--impl", impl]
        subprocess.run(command, env=env, check=True, cwd=cwd)
        with open(output) as handle:
            return json.load(handle)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="one tiny round of everything")
    parser.add_argument("--json", default=os.path.join(ROOT, "build-bench", "results.json"))
    parser.add_argument("--build", default=os.path.join(ROOT, "build"),
                        help="directory holding the built module; empty: the module that the "
                             "interpreter imports by itself (an installed copy)")
    parser.add_argument("--stub-build", default=stub_toolkit_directory())
    parser.add_argument("--stub-shape", choices=sorted(STUB_SHAPES), default="real",
                        help="the stub toolkit's shape: the real toolkit's (default), or flat "
                             "dictionary-less native types")
    parser.add_argument("--sections", default=",".join(SECTIONS),
                        help="comma-separated subset of: %s" % ", ".join(SECTIONS))
    parser.add_argument("--rows", default="",
                        help="comma-separated name fragments: time only the rows they select")
    parser.add_argument("--repetitions", type=int, default=0,
                        help="repetitions per row (default: 41 on the stub toolkit, 21 on the real one)")
    parser.add_argument("--worker", choices=sorted(WORKERS), help=argparse.SUPPRESS)
    parser.add_argument("--toolkit", choices=["stub", "real"], help=argparse.SUPPRESS)
    parser.add_argument("--output", help=argparse.SUPPRESS)
    parser.add_argument("--impl", choices=["module", "plain"], help=argparse.SUPPRESS)
    options = parser.parse_args()
    options.build = os.path.abspath(options.build) if options.build else ""

    if options.worker:
        result = WORKERS[options.worker](options)
        with open(options.output, "w") as handle:
            json.dump(result, handle)
        return

    sections = options.sections.split(",")
    stub_dir = build_stub_toolkit(os.path.abspath(options.stub_build))
    results = {"machine": machine(), "quick": options.quick}
    if "stub" in sections:
        results["stub"] = run_worker("table", options, stub_dir)
    missing = real_toolkit_missing() if "real" in sections else None
    if "real" in sections and not missing:
        # The icon rows load the icon files relative to the working directory.
        results["real"] = run_worker("table", options, stub_dir, toolkit="real", cwd=EXAMPLES)
    elif "real" in sections:
        results["real_skipped"] = missing
    if "import" in sections:
        results["import"] = import_self_times(options.build, options.quick)
    if "first" in sections:
        # Fresh processes, alternating between the implementations; medians per entry point.
        processes = 1 if options.quick else 7
        runs = {"module": [], "plain": []}
        for _ in range(processes):
            for impl in runs:
                runs[impl].append(run_worker("first", options, stub_dir, impl=impl)["rows"])
        results["first_calls"] = {
            "processes": processes,
            **{impl: [{"name": rows_[0]["name"],
                       "first_ns": statistics.median(r["first_ns"] for r in rows_),
                       "second_ns": statistics.median(r["second_ns"] for r in rows_)}
                      for rows_ in zip(*runs[impl])]
               for impl in runs}}
    if "memory" in sections:
        results["memory"] = {impl: run_worker("memory", options, stub_dir, impl=impl)
                             for impl in ("module", "plain")}
    report(results)
    os.makedirs(os.path.dirname(os.path.abspath(options.json)), exist_ok=True)
    with open(options.json, "w") as handle:
        json.dump(results, handle, indent=1)
    table = os.path.splitext(options.json)[0] + ".md"
    with open(table, "w") as handle:
        handle.write(markdown(results))
    print("\nWritten to %s and %s" % (options.json, table))


if __name__ == "__main__":
    main()
