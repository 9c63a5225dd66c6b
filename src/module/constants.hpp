// The objects that several rows of the tables or several bodies share: the toolkit's and
// the module's names, the texts and numbers of the forms and the load, a size and a colour,
// interned strings and tuples. They are built once per load and reached through one
// struct; what one row alone uses, it holds itself (see RowObject in loader.hpp). Each
// interned string is a Name, which also carries the caches of the lookups made with it.
#pragma once

#include <utility>
#include <vector>

#include "module_name.hpp"
#include "names.hpp"
#include "ref.hpp"

namespace kestrova {

// clang-format off
// Names whose text is the C++ identifier itself.
#define KESTROVA_IDENTIFIERS(X)                                                          \
    /* toolkit */                                                                        \
    X(wx) X(GenButton) X(StaticText) X(TextCtrl) X(BORDER) X(Font) X(DECORATIVE)         \
    X(NORMAL) X(SetFont) X(SetForegroundColour) X(SetBackgroundColour) X(FileDialog)     \
    X(FD_OPEN) X(FD_SAVE) X(FD_OVERWRITE_PROMPT) X(ShowModal) X(ID_OK) X(GetPath)        \
    X(SetValue) X(Destroy) X(Bind) X(EVT_BUTTON) X(SetBezelWidth) X(EVT_ENTER_WINDOW)    \
    X(EVT_LEAVE_WINDOW) X(Refresh) X(Image) X(BITMAP_TYPE_ANY) X(ConvertToBitmap)        \
    X(StaticBitmap) X(GetWidth) X(GetHeight) X(Icon) X(BITMAP_TYPE_ICO) X(SetIcon)       \
    X(ctypes) X(windll) X(shell32) X(SetCurrentProcessExplicitAppUserModelID)            \
    /* this module's own names */                                                        \
    X(btn) X(tombol) X(btnconfig)                                                        \
    /* the load */                                                                       \
    X(os) X(locale) X(pandas) X(print)                                                   \
    /* lazy imports */                                                                   \
    X(resolve)

// Other texts: member name, then the text.
#define KESTROVA_TEXTS(X)                                                                \
    X(module_name, KESTROVA_MODULE_NAME)                                                    \
    X(dunder_builtins, "__builtins__")                                                   \
    X(dunder_module, "__module__")                                                       \
    X(dunder_qualname, "__qualname__")                                                   \
    X(dunder_test, "__test__")                                                           \
    X(os_path, "os.path")                                                                \
    X(wx_lib_buttons, "wx.lib.buttons")                                                  \
    X(text_empty, "")                                                                    \
    X(text_verdana, "Verdana")                                                           \
    X(text_white, "WHITE")                                                               \
    X(text_grey, "GREY")                                                                 \
    X(text_browse, "...")                                                                \
    X(text_open_mode, "OpenFile")                                                        \
    X(text_save_mode, "SaveFile")                                                        \
    X(text_choose_file, "Choose a file")                                                 \
    X(text_create_file, "Create a file")                                                 \
    X(text_default_directory, "SETDIREKTORI")                                            \
    /* code objects */                                                                   \
    X(code_name, "co_name")                                                              \
    X(code_argcount, "co_argcount")                                                      \
    X(code_posonlyargcount, "co_posonlyargcount")                                        \
    X(code_nlocals, "co_nlocals")                                                        \
    X(code_varnames, "co_varnames")                                                      \
    X(code_freevars, "co_freevars")                                                      \
    X(code_flags, "co_flags")                                                            \
    X(code_qualname, "co_qualname")                                                      \
    X(code_replace, "replace")

#define KESTROVA_INTEGERS(X)                                                             \
    X(int_minus_1, -1) X(int_0, 0) X(int_3, 3) X(int_9, 9) X(int_15, 15) X(int_20, 20)   \
    X(int_22, 22) X(int_25, 25)

// Tuples of integers: the browse button's size and the entry look's background, named by
// their values.
#define KESTROVA_INTEGER_TUPLES(X)                                                       \
    X(size_40_20, 40, 20)                                                                \
    X(rgb_50_50_50, 50, 50, 50)

// Keyword-name tuples of the calls that pass keywords.
#define KESTROVA_KEYWORD_NAMES(X)                                                        \
    X(keywords_pos, "pos")                                                               \
    X(keywords_size_pos_style, "size", "pos", "style")                                   \
    X(keywords_btnconfig, "parent", "label", "size", "pos", "btntype", "target")
// clang-format on

struct Constants {
#define KESTROVA_MEMBER(member, ...) Ref member;
#define KESTROVA_NAME_MEMBER(member, ...) Name member;
    KESTROVA_IDENTIFIERS(KESTROVA_NAME_MEMBER)
    KESTROVA_TEXTS(KESTROVA_NAME_MEMBER)
    KESTROVA_INTEGERS(KESTROVA_MEMBER)
    KESTROVA_INTEGER_TUPLES(KESTROVA_MEMBER)
    KESTROVA_KEYWORD_NAMES(KESTROVA_MEMBER)
#undef KESTROVA_NAME_MEMBER
#undef KESTROVA_MEMBER
    Ref empty_tuple;

    // Tuples of interned names (parameters, free variables) made while the functions are
    // made, one per list of names, shared by the functions that have that list.
    mutable std::vector<std::pair<const char* const*, Ref>> name_tuples;
};

// A tuple of the interned `names`.
Ref name_tuple(const char* const* names, int count);

using NameConstant = Name Constants::*;

// Builds a fresh set of constants and makes it current; on failure the previous set
// stays current. Called by every load that runs the module body.
void build_constants();

// The current constants. Valid from the first successful build for the rest of the
// process: a set is replaced only by a complete new one.
extern Constants* current_constants;
inline const Constants& constants() { return *current_constants; }

} // namespace kestrova
