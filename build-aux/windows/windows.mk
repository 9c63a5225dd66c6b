# The Windows build of the module, cross-compiled with MinGW-w64 from the sources that
# meson.build lists: `make windows` runs this file (after installing the compilers).
#
#   build-windows/KestrovaGUI.cp37-win32.pyd      CPython 3.7, 32-bit x86
#   build-windows/KestrovaGUI.cp313-win_amd64.pyd  CPython 3.13, x86-64
#
# Each target compiles against the interpreter's own headers (from the pyenv installs)
# with this folder's pyconfig.h in place of theirs, links the import library of the
# interpreter's DLL that dlltool makes from the C API names the objects use, and carries
# the C++ runtime inside: the .pyd needs only the Python DLL and Windows' own DLLs. The C
# runtime is the Universal CRT, as python.org's builds use.

PYTHON       ?= /usr/bin/python3
OUT          ?= build-windows
PYENV_ROOT   ?= $(HOME)/.pyenv
HERE         := build-aux/windows
SOURCES      := $(shell sed -n "s/^ *'\(src\/[^']*\.cpp\)',*$$/\1/p" meson.build)
CXXFLAGS     := -std=c++17 -Wall -Wextra -Werror -O3 -DNDEBUG -D_UCRT
# Only the init function leaves the DLL (it is declared dllexport); nothing of the static
# C++ runtime is exported. No timestamp: the same sources give the same file.
LDFLAGS      := -shared -s -static -static-libstdc++ -static-libgcc \
                -Wl,--exclude-all-symbols -Wl,--no-insert-timestamp

ifeq ($(SOURCES),)
$(error no sources found in meson.build)
endif

# $(call target,TAG,TRIPLET,PYTHON INCLUDE DIR,DLL BASE NAME,DLLTOOL MACHINE,NM OPTION)
define target
$(1)_OBJECTS := $$(patsubst src/%.cpp,$(OUT)/$(1)/obj/%.o,$(SOURCES))

ifeq ($(3),)
$$(error no CPython headers for $(1) under $(PYENV_ROOT)/versions (set PYENV_ROOT))
endif

# The interpreter's headers less its pyconfig.h, with this folder's in its place. A copy
# of links rather than a second -I directory, since Python.h includes "pyconfig.h" from
# its own directory before any -I directory.
$(OUT)/$(1)/include/.stamp: $(HERE)/$(1)/pyconfig.h $(HERE)/windows.mk
	rm -rf $(OUT)/$(1)/include && mkdir -p $(OUT)/$(1)/include
	for header in $(3)/*; do \
	    [ "$$$${header##*/}" = pyconfig.h ] || ln -s "$$$$header" $(OUT)/$(1)/include/; done
	ln -s $(CURDIR)/$(HERE)/$(1)/pyconfig.h $(OUT)/$(1)/include/pyconfig.h
	touch $$@

$(OUT)/$(1)/obj/%.o: src/%.cpp $(OUT)/$(1)/include/.stamp $(HERE)/windows.mk
	@mkdir -p $$(@D)
	$(2)-g++-win32 $(CXXFLAGS) -I$(OUT)/$(1)/include -I$(HERE)/include -MMD -MP -c $$< -o $$@

$(OUT)/$(1)/$(4).def: $$($(1)_OBJECTS) $(HERE)/python_def.py
	$(PYTHON) $(HERE)/python_def.py $(6) $(2)-nm $(4).dll $(3) $$($(1)_OBJECTS) > $$@.tmp
	mv $$@.tmp $$@

$(OUT)/$(1)/lib$(4).a: $(OUT)/$(1)/$(4).def
	$(2)-dlltool -m $(5) -d $$< -D $(4).dll -l $$@

# The GCC driver links the C runtime as -lmsvcrt; these specs name the Universal CRT.
$(OUT)/$(1)/ucrt.specs: $(HERE)/windows.mk
	@mkdir -p $$(@D)
	$(2)-g++-win32 -dumpspecs | sed 's/-lmsvcrt\b/-lucrt/g' > $$@.tmp
	grep -q -e -lucrt $$@.tmp && ! grep -q -e -lmsvcrt $$@.tmp
	mv $$@.tmp $$@

$(OUT)/KestrovaGUI.$(1).pyd: $$($(1)_OBJECTS) $(OUT)/$(1)/lib$(4).a $(OUT)/$(1)/ucrt.specs
	$(2)-g++-win32 -specs=$(OUT)/$(1)/ucrt.specs $(LDFLAGS) -o $$@ $$($(1)_OBJECTS) \
	    -L$(OUT)/$(1) -l$(4)

-include $$($(1)_OBJECTS:.o=.d)
endef

$(eval $(call target,cp37-win32,i686-w64-mingw32,$(firstword $(wildcard $(PYENV_ROOT)/versions/3.7.*/include/python3.7m)),python37,i386,--underscore))
$(eval $(call target,cp313-win_amd64,x86_64-w64-mingw32,$(firstword $(wildcard $(PYENV_ROOT)/versions/3.13.*/include/python3.13)),python313,i386:x86-64,))

all: $(OUT)/KestrovaGUI.cp37-win32.pyd $(OUT)/KestrovaGUI.cp313-win_amd64.pyd

# Build output only: git leaves the folder alone.
$(OUT)/.gitignore:
	@mkdir -p $(@D)
	echo '*' > $@

all: $(OUT)/.gitignore

.PHONY: all
.DEFAULT_GOAL := all
