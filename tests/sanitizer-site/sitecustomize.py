"""Every interpreter of the sanitizer test's run imports this first (it is first on their
PYTHONPATH; it takes the place of the system's sitecustomize, which only installs crash
reporters): the sanitizer runtime stays with the interpreters, and leaves the environment that
the libraries' own children inherit.

KESTROVA_SANITIZER_PRELOAD names the runtime. An interpreter started without it in LD_PRELOAD
(from the C environment below) starts again with it. A running one removes LD_PRELOAD from the
C environment only: os.environ keeps it, so the interpreters that the suite starts with an
environment of its own get the runtime, while the children that libraries start from the C
environment do not (gdk-pixbuf's image decoders, which Debian 14 runs in a bwrap sandbox under
a memory limit that the runtime's shadow memory cannot be reserved within).
"""

import os
import sys

PRELOAD = os.environ.get("KESTROVA_SANITIZER_PRELOAD")
if PRELOAD and os.environ.get("LD_PRELOAD") != PRELOAD:
    if hasattr(sys, "orig_argv"):
        arguments = sys.orig_argv
    else:
        with open("/proc/self/cmdline", "rb") as handle:
            arguments = handle.read().split(b"\0")[:-1]
    os.execve(sys.executable, arguments, dict(os.environ, LD_PRELOAD=PRELOAD))
elif PRELOAD:
    os.unsetenv("LD_PRELOAD")
