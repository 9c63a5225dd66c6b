#!/usr/bin/python3
"""`meson setup` of a build directory for any interpreter, with any Meson the project supports.

    build-aux/meson_setup.py BUILD_DIR SOURCE_DIR PYTHON [MESON_OPTION...]

Meson before 1.2 inspects the interpreter it builds for through distutils, which Python 3.12
and later no longer include (Debian 12 has Meson 1.0). For such an interpreter the build is
configured with a launcher that runs the interpreter with setuptools' copy of distutils
(Debian's python3-setuptools) on its path. The launcher is kept beside the build directories,
so that Meson's own reconfiguration, when a build file changes, finds it too; the extension is
still built with the interpreter's own headers, suffix and flags.

Also used as a module: `setup(...)` and `python_for_meson(python)`.
"""

import os
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LAUNCHERS = os.path.join(ROOT, "build-py", "meson-launchers")


def meson_version():
    text = subprocess.run(["meson", "--version"], capture_output=True, text=True, check=True).stdout
    return tuple(int(part) for part in text.strip().split(".")[:2])


def has_distutils(python):
    return subprocess.run([python, "-c", "import distutils.core"], capture_output=True).returncode == 0


def setuptools_distutils():
    """setuptools' copy of distutils, as the interpreter that runs Meson finds it."""
    with open(shutil.which("meson")) as script:
        first = script.readline()
    meson_python = first[2:].strip().split()[0] if first.startswith("#!") else sys.executable
    found = subprocess.run([meson_python, "-c", "import os, setuptools; print(os.path.join("
                            "os.path.dirname(setuptools.__file__), '_distutils'))"],
                           capture_output=True, text=True)
    path = found.stdout.strip()
    if found.returncode != 0 or not os.path.isdir(path):
        raise SystemExit("meson_setup: Meson %d.%d needs distutils for this interpreter; install "
                         "python3-setuptools" % meson_version())
    return path


def python_for_meson(python):
    """The interpreter to name to Meson: `python` itself, or a launcher of it that
    provides distutils where this Meson needs it and the interpreter lacks it."""
    python = os.path.abspath(python)
    if meson_version() >= (1, 2) or has_distutils(python):
        return python
    version = subprocess.run([python, "-c", "import sys; print('%d.%d' % sys.version_info[:2])"],
                             capture_output=True, text=True, check=True).stdout.strip()
    directory = os.path.join(LAUNCHERS, python.strip("/").replace("/", "_"))
    os.makedirs(directory, exist_ok=True)
    link = os.path.join(directory, "distutils")
    if not os.path.islink(link):
        os.symlink(setuptools_distutils(), link)
    launcher = os.path.join(directory, "python" + version)
    with open(launcher, "w") as out:
        out.write("#!/bin/sh\n# %s, with setuptools' distutils for Meson's inspection of it.\n"
                  'PYTHONPATH="%s${PYTHONPATH:+:$PYTHONPATH}" exec "%s" "$@"\n' % (python, directory, python))
    os.chmod(launcher, 0o755)
    return launcher


def setup(directory, source, python, options=()):
    """Runs `meson setup` unless `directory` is already configured; returns the completed
    process (or None when there was nothing to do)."""
    if os.path.exists(os.path.join(directory, "build.ninja")):
        return None
    command = ["meson", "setup", directory, source, "-Dpython=" + python_for_meson(python), *options]
    return subprocess.run(command, capture_output=True, text=True)


def main():
    if len(sys.argv) < 4:
        raise SystemExit(__doc__.split("\n\n")[1])
    done = setup(sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:])
    if done is not None:
        sys.stdout.write(done.stdout)
        sys.stderr.write(done.stderr)
        sys.exit(done.returncode)


if __name__ == "__main__":
    main()
