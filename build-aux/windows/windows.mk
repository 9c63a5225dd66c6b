# The Windows build of the module, cross-compiled with MinGW-w64 from the sources that
# src/sources.txt lists (the list meson.build reads), and a wheel of each: `make windows`
# runs this file (after installing the compilers).
#
#   build-windows/KestrovaGUI.cp37-win32.pyd       CPython 3.7, 32-bit x86
#   build-windows/KestrovaGUI.cp313-win_amd64.pyd  CPython 3.13, x86-64
#   build-windows/KestrovaGUI.cp314-win_amd64.pyd  CPython 3.14, x86-64
#   build-windows/KestrovaGUI.cp315-win_amd64.pyd  CPython 3.15, x86-64
#   build-windows/KestrovaGUI-VERSION-TAG.whl      each of them with the type stubs
#   build-windows/targets                          per target: built (with its headers) or
#                                                  skipped (with the reason)
#
# Each target compiles against the interpreter's own headers with this folder's pyconfig.h
# in place of theirs: for 3.7 and 3.13 from the pyenv installs, for 3.14 and 3.15 from
# Debian 14's libpython3.X-dev, which debian_headers.py fetches into
# build-windows/debian-forky/ once (nothing is installed into the system). A target whose
# headers cannot be had is skipped with its reason; the others are built. Each links the
# import library of the interpreter's DLL that dlltool makes from the C API names the
# objects use, and carries the C++ runtime inside: the .pyd needs only the Python DLL and
# Windows' own DLLs. The C runtime is the Universal CRT, as python.org's builds use.

PYTHON       ?= /usr/bin/python3
OUT          ?= build-windows
PYENV_ROOT   ?= $(HOME)/.pyenv
HERE         := build-aux/windows
THIS         := $(HERE)/windows.mk
DEBIAN_SUITE := forky
DEBIAN       := $(abspath $(OUT))/debian-$(DEBIAN_SUITE)
DEBIAN_PYTHONS := 3.14 3.15
SOURCES      := $(shell cat src/sources.txt)
CXXFLAGS     := -std=c++17 -Wall -Wextra -Werror -O3 -DNDEBUG -D_UCRT
# Only the init function leaves the DLL (it is declared dllexport); nothing of the static
# C++ runtime is exported. No timestamp: the same sources give the same file.
LDFLAGS      := -shared -s -static -static-libstdc++ -static-libgcc \
                -Wl,--exclude-all-symbols -Wl,--no-insert-timestamp

ifeq ($(SOURCES),)
$(error no sources listed in src/sources.txt)
endif

# First the headers that Debian 14 has (a run of its own, so that the second sees what the
# first fetched), then the targets.
all:
	$(PYTHON) $(HERE)/debian_headers.py $(DEBIAN) $(DEBIAN_SUITE) $(DEBIAN_PYTHONS)
	@$(MAKE) --no-print-directory -f $(THIS) modules

.PHONY: all modules
.DEFAULT_GOAL := all

# NAME-VERSION (pyproject.toml's name, meson.build's version), which every wheel's name starts with.
DIST := $(shell $(PYTHON) $(HERE)/wheel.py dist-name)
ifeq ($(DIST),)
$(error $(HERE)/wheel.py found no name in pyproject.toml or no version in meson.build)
endif

# The headers of CPython X.Y from pyenv, or from Debian, or nothing.
pyenv_headers  = $(firstword $(wildcard $(PYENV_ROOT)/versions/$(1).*/include/python$(2)))
debian_headers = $(if $(wildcard $(DEBIAN)/include/python$(1)/Python.h),$(DEBIAN)/include/python$(1))
debian_reason  = $(or $(if $(wildcard $(DEBIAN)/python$(1).skipped),$(file <$(DEBIAN)/python$(1).skipped)),$\
                   CPython $(1) headers not fetched (make windows fetches them from Debian $(DEBIAN_SUITE)))

# $(call target,TAG,WHEEL TAG,TRIPLET,DLL BASE NAME,DLLTOOL MACHINE,NM OPTION); the headers
# are in $(TAG_HEADERS), or the reason for their absence in $(TAG_REASON).
define target
$(1)_WHEEL   := $(OUT)/$$(DIST)-$(2).whl
ifeq ($$($(1)_HEADERS),)
SKIPPED      += $(1)
else
BUILT        += $(1)
$(1)_OBJECTS := $$(patsubst src/%.cpp,$(OUT)/$(1)/obj/%.o,$(SOURCES))

# The interpreter's headers less its pyconfig.h, with this folder's in its place. A copy
# of links rather than a second -I directory, since Python.h includes "pyconfig.h" from
# its own directory before any -I directory.
$(OUT)/$(1)/include/.stamp: $(HERE)/$(1)/pyconfig.h $(THIS)
	rm -rf $(OUT)/$(1)/include && mkdir -p $(OUT)/$(1)/include
	for header in $$($(1)_HEADERS)/*; do \
	    [ "$$$${header##*/}" = pyconfig.h ] || ln -s "$$$$header" $(OUT)/$(1)/include/; done
	ln -s $(CURDIR)/$(HERE)/$(1)/pyconfig.h $(OUT)/$(1)/include/pyconfig.h
	touch $$@

$(OUT)/$(1)/obj/%.o: src/%.cpp $(OUT)/$(1)/include/.stamp $(THIS)
	@mkdir -p $$(@D)
	$(3)-g++-win32 $(CXXFLAGS) -I$(OUT)/$(1)/include -I$(HERE)/include -MMD -MP -c $$< -o $$@

$(OUT)/$(1)/$(4).def: $$($(1)_OBJECTS) $(HERE)/python_def.py
	$(PYTHON) $(HERE)/python_def.py $(6) $(3)-nm $(4).dll $$($(1)_HEADERS) $$($(1)_OBJECTS) > $$@.tmp
	mv $$@.tmp $$@

$(OUT)/$(1)/lib$(4).a: $(OUT)/$(1)/$(4).def
	$(3)-dlltool -m $(5) -d $$< -D $(4).dll -l $$@

# The GCC driver links the C runtime as -lmsvcrt; these specs name the Universal CRT.
$(OUT)/$(1)/ucrt.specs: $(THIS)
	@mkdir -p $$(@D)
	$(3)-g++-win32 -dumpspecs | sed 's/-lmsvcrt\b/-lucrt/g' > $$@.tmp
	grep -q -e -lucrt $$@.tmp && ! grep -q -e -lmsvcrt $$@.tmp
	mv $$@.tmp $$@

$(OUT)/KestrovaGUI.$(1).pyd: $$($(1)_OBJECTS) $(OUT)/$(1)/lib$(4).a $(OUT)/$(1)/ucrt.specs
	$(3)-g++-win32 -specs=$(OUT)/$(1)/ucrt.specs $(LDFLAGS) -o $$@ $$($(1)_OBJECTS) \
	    -L$(OUT)/$(1) -l$(4)

$$($(1)_WHEEL): $(OUT)/KestrovaGUI.$(1).pyd src/KestrovaGUI.pyi pyproject.toml README.md $(HERE)/wheel.py
	$(PYTHON) $(HERE)/wheel.py pack $(OUT) $(2) $$< > /dev/null

-include $$($(1)_OBJECTS:.o=.d)
endif
endef

cp37-win32_HEADERS      := $(call pyenv_headers,3.7,3.7m)
cp37-win32_REASON       := no CPython 3.7 headers under $(PYENV_ROOT)/versions (set PYENV_ROOT)
cp313-win_amd64_HEADERS := $(call pyenv_headers,3.13,3.13)
cp313-win_amd64_REASON  := no CPython 3.13 headers under $(PYENV_ROOT)/versions (set PYENV_ROOT)
cp314-win_amd64_HEADERS := $(call debian_headers,3.14)
cp314-win_amd64_REASON  := $(call debian_reason,3.14)
cp315-win_amd64_HEADERS := $(call debian_headers,3.15)
cp315-win_amd64_REASON  := $(call debian_reason,3.15)

$(eval $(call target,cp37-win32,cp37-cp37m-win32,i686-w64-mingw32,python37,i386,--underscore))
$(eval $(call target,cp313-win_amd64,cp313-cp313-win_amd64,x86_64-w64-mingw32,python313,i386:x86-64,))
$(eval $(call target,cp314-win_amd64,cp314-cp314-win_amd64,x86_64-w64-mingw32,python314,i386:x86-64,))
$(eval $(call target,cp315-win_amd64,cp315-cp315-win_amd64,x86_64-w64-mingw32,python315,i386:x86-64,))

define newline


endef
tab := $(shell printf '\t')
empty :=
space := $(empty) $(empty)

# The list of targets, each "TAG<tab>built<tab>HEADERS" or "TAG<tab>skipped<tab>REASON"; a
# skipped target's files from an earlier run are removed. Then what was made, and why the
# rest was not.
MANIFEST = $(subst $(newline)$(space),$(newline),$(foreach tag,$(BUILT) $(SKIPPED),$\
           $(tag)$(tab)$(if $(filter $(tag),$(BUILT)),built$(tab)$($(tag)_HEADERS),skipped$(tab)$($(tag)_REASON))$\
           $(newline)))

modules: $(foreach tag,$(BUILT),$(OUT)/KestrovaGUI.$(tag).pyd $($(tag)_WHEEL)) $(OUT)/.gitignore
	@rm -f $(foreach tag,$(SKIPPED),$(OUT)/KestrovaGUI.$(tag).pyd $($(tag)_WHEEL))
	$(file >$(OUT)/targets,$(MANIFEST))
	@echo "The Windows builds in $(OUT)/:"
	@$(if $(BUILT),ls -l $(foreach tag,$(BUILT),$(OUT)/KestrovaGUI.$(tag).pyd $($(tag)_WHEEL)))
	@$(foreach tag,$(SKIPPED),echo 'Skipped $(tag): $(subst ','\'',$($(tag)_REASON))';) true

# Build output only: git leaves the folder alone.
$(OUT)/.gitignore:
	@mkdir -p $(@D)
	echo '*' > $@
