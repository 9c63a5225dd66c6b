"""The whole suite against a build of the module with AddressSanitizer and
UndefinedBehaviorSanitizer, with the real toolkit.

The interpreter itself is not instrumented, so the sanitizer runtime is preloaded (with
the C++ runtime, whose exceptions the sanitizer must see from the start) into every
interpreter of the run and into nothing else (tests/sanitizer-site/usercustomize.py), Python
allocates through malloc so that every object the module touches is checked, and leak
detection is off: the interpreter keeps much of its memory until exit by design. Every
report fails the run, and reports go to files so that none can pass unnoticed in the output.
"""

import os
import pathlib
import shutil
import subprocess
import sys

import pytest
from conftest import NO_REAL_TOOLKIT, ROOT, STUBS, TESTS

# With the C++ library's own checks of its containers.
SANITIZE = ["-Db_sanitize=address,undefined", "-Db_lundef=false", "-Dbuildtype=debug",
            "-Dcpp_args=-D_GLIBCXX_ASSERTIONS"]
SCOPE = TESTS / "sanitizer-site" / "usercustomize.py"


def runtime(name):
    """The full path of a runtime library of the compiler."""
    path = subprocess.run(["g++", "-print-file-name=" + name], capture_output=True, text=True,
                          check=True).stdout.strip()
    assert os.path.isabs(path), "the compiler has no %s" % name
    return os.path.realpath(path)


@pytest.fixture(scope="module")
def sanitized(build_variant, tmp_path_factory):
    variant = build_variant("asan", *SANITIZE, plain=True)
    logs = tmp_path_factory.mktemp("sanitizer-reports")
    preload = " ".join([runtime("libasan.so"), runtime("libstdc++.so.6")])
    user_base = tmp_path_factory.mktemp("sanitizer-user-base")
    user_site = pathlib.Path(subprocess.run([sys.executable, "-c", "import site; print(site.getusersitepackages())"],
                                            env=dict(os.environ, PYTHONUSERBASE=str(user_base)), capture_output=True,
                                            text=True, check=True).stdout.strip())
    user_site.mkdir(parents=True)
    shutil.copy(SCOPE, user_site)
    # Only interpreters get the runtime: gdk-pixbuf's decoder sandbox cannot reserve its shadow memory.
    env = dict(os.environ,
               KESTROVA_BUILD=str(variant),
               PYTHONPATH=os.pathsep.join(filter(None, [str(variant), os.environ.get("PYTHONPATH")])),
               KESTROVA_VARIANT_OPTIONS=" ".join(SANITIZE), KESTROVA_VARIANT_SUFFIX="-asan",
               LD_PRELOAD=preload, KESTROVA_SANITIZER_PRELOAD=preload, PYTHONUSERBASE=str(user_base),
               ASAN_OPTIONS=":".join(["detect_leaks=0", "halt_on_error=1", "log_path=%s/asan" % logs]),
               UBSAN_OPTIONS=":".join(["halt_on_error=1", "print_stacktrace=1", "log_path=%s/ubsan" % logs]),
               PYTHONMALLOC="malloc", KESTROVA_FUZZ_EXAMPLES="500")
    env.pop("KESTROVA_INSTALLED", None)  # the suite runs on the instrumented build, not an installed copy
    return variant, logs, env


# Whether this interpreter has the runtime, and whether a child that it starts from the C
# environment, as libraries start theirs, inherits it.
SCOPE_CHECK = """import os, subprocess, sys
shell = subprocess.run(["sh", "-c", 'echo "[$LD_PRELOAD]"'], capture_output=True, text=True).stdout.strip()
print("runtime: %s, in a shell child: %s" % ("libasan" in open("/proc/self/maps").read(), shell), flush=True)
"""


def reports(logs):
    return {path.name: path.read_text(errors="replace") for path in sorted(logs.iterdir())}


def run(env, *args, timeout=600):
    return subprocess.run([sys.executable, *args], env=env, cwd=ROOT, capture_output=True, text=True,
                          timeout=timeout)


def test_build_is_instrumented(sanitized):
    variant, _, env = sanitized
    (module,) = variant.glob("KestrovaGUI*.so")
    binary = module.read_bytes()
    assert b"__asan_report_" in binary and b"__ubsan_handle_" in binary
    # (With the stub toolkit where the real one is missing, as the suite loads it.)
    process = run(dict(env, PYTHONPATH=env["PYTHONPATH"] + os.pathsep + str(STUBS)) if NO_REAL_TOOLKIT else env,
                  "-c", "import KestrovaGUI; print(KestrovaGUI.__file__, flush=True)\n" + SCOPE_CHECK +
                  # An interpreter started from the C environment, and one with a path of its own.
                  "subprocess.run([sys.executable, '-c', %r])\n" % SCOPE_CHECK +
                  "subprocess.run([sys.executable, '-c', %r], env=dict(os.environ, PYTHONPATH=''))\n" % SCOPE_CHECK)
    assert process.returncode == 0, process.stderr
    assert process.stdout.splitlines()[-4:] == [str(module)] + ["runtime: True, in a shell child: []"] * 3


def test_reports_are_caught(sanitized, tmp_path):
    """A use after free in the same environment ends the process with a report."""
    _, _, env = sanitized
    logs = tmp_path / "canary"
    canary = dict(env, ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:log_path=%s" % logs)
    process = run(canary, "-c", """if True:
        import ctypes
        libc = ctypes.CDLL(None)
        libc.malloc.restype = ctypes.c_void_p
        libc.free.argtypes = [ctypes.c_void_p]
        block = libc.malloc(16)
        libc.free(block)
        ctypes.string_at(block, 8)
    """)
    assert process.returncode != 0
    (report,) = tmp_path.glob("canary.*")
    assert "heap-use-after-free" in report.read_text()


def test_whole_suite_under_sanitizers(sanitized):
    _, logs, env = sanitized
    # The leak checks need the debug interpreter's own build; this file would recurse; the
    # Windows checks run cross compilers and apt, no code of the module.
    process = run(env, "-m", "pytest", "-p", "no:cacheprovider", "-q", str(TESTS),
                  *("--ignore=%s" % (TESTS / name) for name in ("test_sanitizers.py", "test_leaks.py",
                                                              "test_windows.py")),
                  timeout=1500)
    found = reports(logs)
    assert not found, "\n\n".join("%s:\n%s" % item for item in found.items())[:20000]
    assert process.returncode == 0, process.stdout[-8000:] + process.stderr[-4000:]
    assert " passed" in process.stdout.splitlines()[-1]
