// The objects every call shares: interned names, texts, numbers and tuples. They are
// built once per load and reached through one struct; rows of the forms' and widgets'
// tables point at them with member pointers (`Name Constants::*` for the interned
// strings, `Ref Constants::*` for the rest). Each interned string is a Name, which also
// carries the caches of the lookups made with it.
#pragma once

#include <utility>
#include <vector>

#include "caches.hpp"
#include "ref.hpp"

namespace kestrova {

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
    X(OnMouseEnter0) X(OnMouseEnter1) X(OnMouseEnter2) X(OnMouseEnter3)                  \
    X(OnMouseEnter4) X(OnMouseEnter5) X(OnMouseLeave0) X(OnMouseLeave1)                  \
    X(OnMouseLeave2) X(OnMouseLeave3) X(OnMouseLeave4) X(OnMouseLeave5)                  \
    /* keywords */                                                                       \
    X(parent) X(label) X(size) X(pos) X(btntype) X(target) X(style)                      \
    /* the load */                                                                       \
    X(os) X(locale) X(pandas) X(print) X(name) X(loader) X(origin)                       \
    X(submodule_search_locations)

// Other texts: member name, then the text.
#define KESTROVA_TEXTS(X)                                                                \
    X(module_name, "KestrovaGUI")                                                        \
    X(dunder_builtins, "__builtins__")                                                   \
    X(dunder_module, "__module__")                                                       \
    X(dunder_qualname, "__qualname__")                                                   \
    X(dunder_loader, "__loader__")                                                       \
    X(dunder_file, "__file__")                                                           \
    X(dunder_package, "__package__")                                                     \
    X(dunder_path, "__path__")                                                           \
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
    X(wildcard_tif, "TIF Image (*.tif)|*.tif|All files (*.*)|*.*")                       \
    X(wildcard_projection,                                                               \
      "WLD Projection (*.wld)|*.wld|PRJ Projection (*.prj)|*.prj|All files (*.*)|*.*")   \
    X(wildcard_csv, "CSV(*.csv)|*.csv|All files (*.*)|*.*")                              \
    X(text_app_id, "mycompany.myproduct.subproduct.version")                             \
    X(text_icon_main, "img/icon_zentrova.ico")                                           \
    X(text_icon_tool, "tool.ico")                                                        \
    X(text_separator, "---------------------------------------------------------------")   \
    /* `entryOpenFile` once per form class: each class's own lookups keep their own */   \
    /* caches, as each __init__'s own code would */                                      \
    X(entry_of_FormA, "entryOpenFile")                                                   \
    X(entry_of_FormFolderTIF, "entryOpenFile")                                           \
    X(entry_of_FormFolderProjection, "entryOpenFile")                                    \
    X(entry_of_FormFolderCSV, "entryOpenFile")                                           \
    X(entry_of_FormText, "entryOpenFile")                                                \
    X(entry_of_FormA2, "entryOpenFile")                                                  \
    X(entry_of_FormC, "entryOpenFile")                                                   \
    X(entry_of_FormB, "entryOpenFile")                                                   \
    X(entry_of_FormB2, "entryOpenFile")                                                  \
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
    X(int_minus_1, -1) X(int_0, 0) X(int_1, 1) X(int_2, 2) X(int_3, 3) X(int_4, 4)       \
    X(int_5, 5) X(int_9, 9) X(int_15, 15) X(int_20, 20) X(int_22, 22) X(int_25, 25)      \
    X(int_580, 580)

// Tuples of integers: sizes and RGB colours, named by their values.
#define KESTROVA_INTEGER_TUPLES(X)                                                       \
    X(size_40_20, 40, 20)                                                                \
    X(rgb_0_170_213, 0, 170, 213)                                                        \
    X(rgb_0_190_255, 0, 190, 255)                                                        \
    X(rgb_0_204_255, 0, 204, 255)                                                        \
    X(rgb_50_50_50, 50, 50, 50)                                                          \
    X(rgb_51_51_51, 51, 51, 51)                                                          \
    X(rgb_54_54_63, 54, 54, 63)                                                          \
    X(rgb_100_100_100, 100, 100, 100)                                                    \
    X(rgb_220_220_220, 220, 220, 220)                                                    \
    X(rgb_225_225_225, 225, 225, 225)                                                    \
    X(rgb_230_230_230, 230, 230, 230)                                                    \
    X(rgb_250_250_250, 250, 250, 250)                                                    \
    X(rgb_255_120_0, 255, 120, 0)                                                        \
    X(rgb_255_153_0, 255, 153, 0)                                                        \
    X(rgb_255_191_0, 255, 191, 0)                                                        \
    X(rgb_255_255_255, 255, 255, 255)

// Keyword-name tuples of the calls that pass keywords.
#define KESTROVA_KEYWORD_NAMES(X)                                                        \
    X(keywords_pos, "pos")                                                               \
    X(keywords_size_pos_style, "size", "pos", "style")                                   \
    X(keywords_btnconfig, "parent", "label", "size", "pos", "btntype", "target")

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

using Constant = Ref Constants::*;
using NameConstant = Name Constants::*;

// Builds a fresh set of constants and makes it current; on failure the previous set
// stays current. Called by every load that runs the module body.
void build_constants();

// The current constants. Valid from the first successful build for the rest of the
// process: a set is replaced only by a complete new one.
extern Constants* current_constants;
inline const Constants& constants() { return *current_constants; }

} // namespace kestrova
