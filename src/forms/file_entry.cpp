// The six file-entry forms: a caption, a text control and a browse button whose file
// dialog writes the chosen path into the text control. They differ only in where the row
// stands and in the wildcard of the dialog.

#include "../module/statements.hpp"
#include "entry_row.hpp"
#include "forms.hpp"

namespace kestrova::forms {
namespace {

// Lines, counted from the class line: the initialiser, then the handler it defines and
// the handler's statements, then the initialiser's own statements.
constexpr int init_line = 1;
constexpr int handler_line = 2;
constexpr int handler_statement = 3;
constexpr int init_statement = 12;

// The browse button's handler, made by each initialiser. It closes over the dialog mode
// and the form, and reads the form's entryOpenFile only when it writes the path.
void file_dialog(Call& call, PyObject* const*)
{
    const auto& form = call.row<FileEntryForm>();
    const Constants& k = call.k;
    const int line = form.line + handler_statement;
    PyObject* wildcard = k.*form.wildcard;
    Ref dialog;

    // if FileDialogStatus == "OpenFile":
    //     dialog = wx.FileDialog(None, "Choose a file", "SETDIREKTORI", "", wildcard, wx.FD_OPEN)
    call.at(line);
    Ref status = call.free_variable(0);
    if (equals(status, k.text_open_mode)) {
        call.at(line + 1);
        Ref wx = call.global(k.wx);
        Ref file_dialog_type = attr(wx, k.FileDialog);
        Ref style = attr(wx, k.FD_OPEN);
        dialog = invoke(file_dialog_type, {Py_None, k.text_choose_file, k.text_default_directory,
                                           k.text_empty, wildcard, style});
    }
    // if FileDialogStatus == "SaveFile":
    //     dialog = wx.FileDialog(None, "Create a file", "SETDIREKTORI", "", wildcard,
    //                            wx.FD_SAVE | wx.FD_OVERWRITE_PROMPT)
    call.at(line + 2);
    status = call.free_variable(0);
    if (equals(status, k.text_save_mode)) {
        call.at(line + 3);
        Ref wx = call.global(k.wx);
        Ref file_dialog_type = attr(wx, k.FileDialog);
        Ref save = attr(wx, k.FD_SAVE);
        Ref overwrite_prompt = attr(wx, k.FD_OVERWRITE_PROMPT);
        Ref style = bitwise_or(save, overwrite_prompt);
        dialog = invoke(file_dialog_type, {Py_None, k.text_create_file, k.text_default_directory,
                                           k.text_empty, wildcard, style});
    }

    // if dialog.ShowModal() == wx.ID_OK:
    call.at(line + 4);
    if (!dialog) {
        PyErr_Format(PyExc_UnboundLocalError, "local variable '%s' referenced before assignment",
                     "dialog");
        throw PythonError{};
    }
    Ref result = call_method(dialog, k.ShowModal);
    Ref id_ok = call.global_attr(k.wx, k.ID_OK);
    if (equals(result, id_ok)) {
        // self.entryOpenFile.SetValue(dialog.GetPath())
        call.at(line + 5);
        Ref self = call.free_variable(1);
        Ref entry = attr(self, k.*form.entry);
        Method set_value(entry, k.SetValue);
        Ref path = call_method(dialog, k.GetPath);
        set_value({path});
        call.at(line + 6);
        call_method(dialog, k.Destroy);
    } else {
        // A cancelled dialog is destroyed too, so that none is left among the top-level
        // windows (where it would also keep the application's main loop alive).
        call.at(line + 7);
        call_method(dialog, k.Destroy);
    }
}

void file_entry_init(Call& call, PyObject* const* arguments)
{
    const auto& form = call.row<FileEntryForm>();
    const Constants& k = call.k;
    const bool at_left = form.placement == Placement::at_pos_left;
    PyObject* self = arguments[0];
    PyObject* status = arguments[1];
    PyObject* info = arguments[2];
    PyObject* width = arguments[3];
    PyObject* left = at_left ? arguments[4] : nullptr;
    PyObject* top = arguments[at_left ? 5 : 4];
    PyObject* panel = arguments[at_left ? 6 : 5];
    const int line = form.line + init_statement;

    // def filedialog(event): ...  (closing over FileDialogStatus and self)
    call.at(form.line + handler_line);
    Ref handler = call.make_inner({status, self});

    PyObject* x = at_left ? left : k.int_15.get();
    lay_out_entry(call, {k.*form.entry, self, info, width, x, x, top, panel}, line);

    // Btn = tombol()
    call.at(line + 6);
    Ref tombol = call.global(k.tombol);
    Ref button = invoke(tombol, {});

    // Btn.btnconfig(parent=TargetPanel, label="...", size=(40, 20), pos=(button_x, PosTinggi),
    //               btntype=3, target=filedialog)
    // where button_x is LebarForm + 25, or (PosLeft + LebarForm) + 15 for a row at PosLeft.
    call.at(line + 7);
    Method btnconfig(button, k.btnconfig);
    Ref button_x;
    if (at_left) {
        Ref right_edge = add(left, width);
        button_x = add(right_edge, k.int_15);
    } else {
        button_x = add(width, k.int_25);
    }
    Ref pos = pair(button_x, top);
    btnconfig({panel, k.text_browse, k.size_40_20, pos, k.int_3, handler}, k.keywords_btnconfig);
}

const Signature init_at_margin{
    CallForm::parameters,
    file_entry_init,
    {"self", "FileDialogStatus", "Info", "LebarForm", "PosTinggi", "TargetPanel"},
    {},
};

const Signature init_at_left{
    CallForm::parameters,
    file_entry_init,
    {"self", "FileDialogStatus", "Info", "LebarForm", "PosLeft", "PosTinggi", "TargetPanel"},
    {},
};

const Signature handler_signature{
    CallForm::one_argument,
    file_dialog,
    {"event"},
    {"FileDialogStatus", "self"},
};

Ref make_file_entry_form(Loader& load, const PublicName& row)
{
    const auto& form = static_cast<const FileEntryForm&>(row);
    ClassBuilder form_class(load, row);
    const Signature* init = form.placement == Placement::at_pos_left ? &init_at_left : &init_at_margin;
    const FunctionDef handler{"filedialog", row.line + handler_line, &handler_signature, &form};
    form_class.method({"__init__", row.line + init_line, init, &form}, &handler);
    return form_class.finish();
}

} // namespace

using K = Constants;
constexpr Placement margin = Placement::fixed_margin;
constexpr Placement at_left = Placement::at_pos_left;

const FileEntryForm FormA{{"FormA", 67, make_file_entry_form}, margin, &K::wildcard_tif, &K::entry_of_FormA};
const FileEntryForm FormFolderTIF{{"FormFolderTIF", 88, make_file_entry_form}, at_left, &K::wildcard_tif, &K::entry_of_FormFolderTIF};
const FileEntryForm FormFolderProjection{{"FormFolderProjection", 109, make_file_entry_form}, at_left, &K::wildcard_projection, &K::entry_of_FormFolderProjection};
const FileEntryForm FormFolderCSV{{"FormFolderCSV", 130, make_file_entry_form}, at_left, &K::wildcard_csv, &K::entry_of_FormFolderCSV};
const FileEntryForm FormA2{{"FormA2", 160, make_file_entry_form}, margin, &K::wildcard_tif, &K::entry_of_FormA2};
const FileEntryForm FormC{{"FormC", 181, make_file_entry_form}, margin, &K::wildcard_csv, &K::entry_of_FormC};

} // namespace kestrova::forms
