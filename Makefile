# Build, test and demo KestrovaGUI on Debian 12. Each target first installs the Debian
# packages it needs that are missing (as root, or through sudo).

PYTHON  ?= /usr/bin/python3
BUILD   ?= build
SUDO    := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
# Tests never open windows on the user's display; the demo does when there is one.
XVFB    := xvfb-run -a -s "-screen 0 1280x800x24"
GUI_ENV := GSETTINGS_BACKEND=memory

PACKAGES := python3-dev python3-venv python3-wxgtk4.0 python3-pandas python3-pytest \
            python3-hypothesis python3-dbg mypy meson python3-mesonpy ninja-build g++ \
            xvfb xauth

.PHONY: all deps build test bench demo clean

all: build

deps:
	@missing=$$(for package in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$package 2>/dev/null | grep -q '^install ok installed' \
	        || echo $$package; done); \
	if [ -n "$$missing" ]; then \
	    echo "Installing:" $$missing; \
	    $(SUDO) apt-get update -q && \
	    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q $$missing; \
	fi

$(BUILD)/build.ninja:
	meson setup $(BUILD) -Dpython=$(PYTHON) -Dwerror=true

build: deps $(BUILD)/build.ninja
	ninja -C $(BUILD)

test: build
	PYTHONPATH=$(CURDIR)/$(BUILD) $(GUI_ENV) $(XVFB) $(PYTHON) -m pytest -p no:cacheprovider tests

# The module against its plain-Python peer (benchmarks/run.py): prints the tables and
# writes them to build-bench/results.json. The test suite runs it once in its quick mode.
bench: build
	$(GUI_ENV) $(XVFB) $(PYTHON) benchmarks/run.py --build $(CURDIR)/$(BUILD)

demo: build
	@mkdir -p $(BUILD)/demo
	@if [ -n "$$DISPLAY" ]; then \
	    PYTHONPATH=$(CURDIR)/$(BUILD) $(PYTHON) examples/demo.py; \
	else \
	    PYTHONPATH=$(CURDIR)/$(BUILD) $(GUI_ENV) $(XVFB) $(PYTHON) examples/demo.py \
	        --screenshot $(BUILD)/demo/screenshot.png; \
	fi

clean:
	rm -rf $(BUILD) build-variants build-bench
