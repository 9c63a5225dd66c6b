"""Every interpreter of the sanitizer test's run imports this at startup, from the user site
directory that the run names in PYTHONUSERBASE (which, unlike PYTHONPATH, the benchmark
runner's workers keep): the sanitizer runtime stays with the interpreters, and leaves the
environment that the libraries' own children inherit.

KESTROVA_SANITIZER_PRELOAD names the runtime. An interpreter that started without it (from the
C environment below) starts again with it. One that has it removes LD_PRELOAD from the C
environment only: os.environ keeps it, so the interpreters that the suite starts with an
environment of its own get the runtime, while the children that libraries start from the C
environment do not (gdk-pixbuf's image decoders, which Debian 14 runs in a bwrap sandbox under
a memory limit that the runtime's shadow memory cannot be reserved within). A sub-interpreter
runs this again, in a process that has the runtime already.
"""

import os
import sys

PRELOAD = os.environ.get("KESTROVA_SANITIZER_PRELOAD")
if PRELOAD:
    with open("/proc/self/maps") as maps:
        loaded = maps.read()
    # (Only once: a process that the runtime does not come into fails on its own.)
    if not all(library in loaded for library in PRELOAD.split()) and os.environ.get("LD_PRELOAD") != PRELOAD:
        if hasattr(sys, "orig_argv"):
            arguments = sys.orig_argv
        else:
            with open("/proc/self/cmdline", "rb") as handle:
                arguments = handle.read().split(b"\0")[:-1]
        os.execve(sys.executable, arguments, dict(os.environ, LD_PRELOAD=PRELOAD))
    os.unsetenv("LD_PRELOAD")
