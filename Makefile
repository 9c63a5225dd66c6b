# Build, test and demo KestrovaGUI on Debian 12, 13 and 14. `make deps` installs the Debian
# packages that are missing (as root, or through sudo), as that release names them; `make
# test`, `make demo` and `make bench` do so first, `make build` installs nothing.
#
# PYTHON is the interpreter to build for: Debian's own by default (the one with the toolkit),
# or any CPython from 3.7 on (`make build PYTHON=~/.pyenv/versions/3.12.1/bin/python3`, which
# builds into build-py/3.12.1/).

MAIN_PYTHON := /usr/bin/python3
PYTHON  ?= $(MAIN_PYTHON)
ifeq ($(PYTHON),$(MAIN_PYTHON))
BUILD   ?= build
else
BUILD   ?= build-py/$(shell $(PYTHON) -c 'import platform; print(platform.python_version())')
endif
# The wheel, and the fresh virtual environment that the tests install it into.
WHEELS  := $(BUILD)/wheels
VENV    := $(BUILD)/venv
PIP_ENV := PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
SUDO    := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
# Tests never open windows on the user's display; the demo does when there is one. The server
# is not reset when its last client leaves: a client arriving during the reset is refused.
XVFB    := xvfb-run -a -s "-screen 0 1280x800x24 -noreset"
GUI_ENV := GSETTINGS_BACKEND=memory

# The Debian release: VERSION_ID of /etc/os-release, or the release that VERSION_CODENAME
# names where there is none (testing has none). A release not known here gets the newest lists.
DEBIAN := $(shell . /etc/os-release 2>/dev/null; case "$${VERSION_ID:-$$VERSION_CODENAME}" in \
              (bookworm) echo 12;; (trixie) echo 13;; (forky) echo 14;; (*) echo "$${VERSION_ID%%.*}";; esac)

PACKAGES := python3-dev python3-venv python3-pip python3-wxgtk4.0 python3-pandas python3-pytest \
            python3-hypothesis python3-dbg mypy meson python3-mesonpy ninja-build g++ \
            xvfb xauth
ifneq ($(filter 12 13,$(DEBIAN)),)
# For builds and test runs on the machine's other interpreters: setuptools' distutils for
# Meson's inspection of 3.12 and later, and what Debian's pytest needs below 3.11.
PACKAGES += python3-setuptools python3-exceptiongroup python3-tomli python3-importlib-metadata \
            python3-zipp python3-more-itertools
else
# Debian 14 and later: 3.15 beside 3.14, whose wxPython is built for both (pandas is built for
# 3.14 only), with its headers and its debug build for the leak check; and 3.13, for which
# neither is built, against the stub toolkit. Their Meson needs no distutils, and their pytest
# runs on 3.10 and later only.
PACKAGES += python3.15 python3.15-dev python3.15-dbg python3.13 python3.13-dev
endif
ifeq ($(DEBIAN),12)
# The formatter whose output the C++ sources are kept in (.clang-format): Debian 12's, 14.
PACKAGES += clang-format
endif
CPP_SOURCES := $(sort $(wildcard src/*/*.cpp src/*/*.hpp src/*/*/*.cpp src/*/*/*.hpp))
CLANG_FORMAT := $(shell command -v clang-format-14)

.PHONY: all deps build wheel venv test bench demo lines format format-check clean

all: build

deps:
	@missing=$$(for package in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$package 2>/dev/null | grep -q '^install ok installed' \
	        || echo $$package; done); \
	if [ -n "$$missing" ]; then \
	    echo "Installing:" $$missing; \
	    $(SUDO) apt-get update -q && \
	    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q -o DPkg::Lock::Timeout=600 $$missing; \
	fi

$(BUILD)/build.ninja:
	$(MAIN_PYTHON) build-aux/meson_setup.py $(BUILD) . $(PYTHON) -Dwerror=true

build: $(BUILD)/build.ninja
	ninja -C $(BUILD)

# The wheel, built by pip through meson-python as any user's build is, in a build directory
# of its own that the next run reuses.
wheel: deps
	rm -rf $(WHEELS)
	$(PIP_ENV) $(PYTHON) -m pip wheel --no-build-isolation --no-index --no-deps --no-cache-dir \
	    --wheel-dir $(WHEELS) --config-settings=builddir=$(CURDIR)/$(BUILD)/wheel-build \
	    --config-settings=setup-args=-Dwerror=true --config-settings=compile-args=-j2 .

# A fresh virtual environment that sees Debian's wxPython, pandas, pytest and mypy, with the
# wheel installed into it (its dependencies must be met by those Debian packages: no index).
venv: wheel
	rm -rf $(VENV)
	$(PYTHON) -m venv --system-site-packages $(VENV)
	$(PIP_ENV) $(VENV)/bin/python -m pip install --no-index --no-cache-dir $(WHEELS)/*.whl

# First the installed type stubs against the installed module, then the whole suite against
# the installed module (the tests refuse to run on any other copy of it), then the same suite
# on every other interpreter of the machine against a build for it, and last on a build
# without fast paths (build-aux/interpreters.py; KESTROVA_WITHOUT_FAST_PATHS=all: on every
# interpreter).
test: venv format-check
	MYPY_CACHE_DIR=$(CURDIR)/$(BUILD)/mypy-cache $(VENV)/bin/python -m mypy.stubtest KestrovaGUI
	$(GUI_ENV) $(XVFB) $(MAIN_PYTHON) build-aux/interpreters.py test --main $(VENV)/bin/python

# The module against its plain-Python peer (benchmarks/run.py): prints the tables and
# writes them to build-bench/results.json. The test suite runs it once in its quick mode.
bench: deps build
	$(GUI_ENV) $(XVFB) $(MAIN_PYTHON) build-aux/interpreters.py bench --main $(MAIN_PYTHON)

# The C++ sources in the style of .clang-format, as clang-format 14 leaves them (the check is
# skipped, and says so, where that version is not installed).
format:
	clang-format -i $(CPP_SOURCES)

format-check:
ifeq ($(CLANG_FORMAT),)
	@echo "format-check: skipped: clang-format 14 (Debian 12's) is not installed"
else
	$(CLANG_FORMAT) --dry-run --Werror $(CPP_SOURCES)
endif

# docs/lines.md's listing, made afresh from the statements of the sources.
lines:
	$(MAIN_PYTHON) build-aux/lines.py

# With a display the window opens; without one the example runs under Xvfb, saves two
# screenshots (at rest, and with the pointer over a button) and prints their paths.
demo: deps build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	    PYTHONPATH=$(CURDIR)/$(BUILD) $(PYTHON) examples/demo.py; \
	else \
	    PYTHONPATH=$(CURDIR)/$(BUILD) $(GUI_ENV) $(XVFB) $(PYTHON) examples/demo.py \
	        --screenshots $(BUILD)/demo; \
	fi

clean:
	rm -rf build build-py build-variants build-bench .mesonpy-native-file.ini

# The Windows build, cross-compiled with MinGW-w64 (build-aux/windows/windows.mk): the
# module for CPython 3.7 on 32-bit x86 and for CPython 3.13, 3.14 and 3.15 on x86-64, and a
# wheel of each, in build-windows/ (3.14 and 3.15 from Debian 14's headers, which it
# fetches there). The win32 thread model needs no threads library at run time (the module
# starts none).
WINDOWS_PACKAGES := g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 \
                    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
WINDOWS_BUILD    := build-windows

.PHONY: windows windows-deps windows-clean
windows-deps:
	@$(MAKE) --no-print-directory deps PACKAGES="$(WINDOWS_PACKAGES)"

windows: windows-deps
	$(MAKE) --no-print-directory -f build-aux/windows/windows.mk -j$$(nproc) \
	    PYTHON=$(PYTHON) OUT=$(WINDOWS_BUILD)

clean: windows-clean
windows-clean:
	rm -rf $(WINDOWS_BUILD)
