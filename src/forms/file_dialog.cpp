// The browse button's handler, made by each initialiser of a row with a wildcard. It
// closes over the dialog mode and the form, and reads the form's entryOpenFile only when
// it writes the path.

#include "../module/operations.hpp"
#include "forms.hpp"

namespace kestrova::forms {
namespace {

void file_dialog(Call& call, const Form& form, PyObject* const*)
{
    const Constants& k = call.k;
    Ref dialog;

    //: if FileDialogStatus == "OpenFile":
    call.next();
    Ref status = call.free_variable(0);
    if (equals(status, k.text_open_mode)) {
        //:     dialog = wx.FileDialog(None, "Choose a file", "SETDIREKTORI", "", {wildcard}, wx.FD_OPEN)
        call.next();
        Ref wx = call.global(k.wx);
        Ref file_dialog_type = attr(wx, k.FileDialog);
        Ref style = attr(wx, k.FD_OPEN);
        dialog = invoke(call, file_dialog_type,
                        {Py_None, k.text_choose_file, k.text_default_directory, k.text_empty, form.wildcard, style});
    } else {
        call.skip(1);
    }
    //: if FileDialogStatus == "SaveFile":
    call.next();
    status = call.free_variable(0);
    if (equals(status, k.text_save_mode)) {
        //:     dialog = wx.FileDialog(None, "Create a file", "SETDIREKTORI", "", {wildcard}, wx.FD_SAVE | wx.FD_OVERWRITE_PROMPT)
        call.next();
        Ref wx = call.global(k.wx);
        Ref file_dialog_type = attr(wx, k.FileDialog);
        Ref save = attr(wx, k.FD_SAVE);
        Ref overwrite_prompt = attr(wx, k.FD_OVERWRITE_PROMPT);
        Ref style = bitwise_or(save, overwrite_prompt);
        dialog = invoke(call, file_dialog_type,
                        {Py_None, k.text_create_file, k.text_default_directory, k.text_empty, form.wildcard, style});
    } else {
        call.skip(1);
    }

    //: if dialog.ShowModal() == wx.ID_OK:
    call.next();
    if (!dialog) {
        PyErr_Format(PyExc_UnboundLocalError, "local variable '%s' referenced before assignment", "dialog");
        throw PythonError{};
    }
    Ref result = call_method(call, dialog, k.ShowModal);
    Ref id_ok = call.global_attr(k.wx, k.ID_OK);
    if (equals(result, id_ok)) {
        //:     self.entryOpenFile.SetValue(dialog.GetPath())
        call.next();
        Ref self = call.free_variable(1);
        Ref entry = attr(self, form.entry);
        Method set_value(call, entry, k.SetValue);
        Ref path = call_method(call, dialog, k.GetPath);
        set_value({path});
        //:     dialog.Destroy()
        call.next();
        call_method(call, dialog, k.Destroy);
    } else {
        // A cancelled dialog is destroyed too, so that none is left among the top-level
        // windows (where it would also keep the application's main loop alive).
        call.skip(2);
        //: else: dialog.Destroy()
        call.next();
        call_method(call, dialog, k.Destroy);
    }
}

} // namespace

constexpr SignatureOf<Form> file_dialog_signature{
    CallForm::one_argument, file_dialog, {"event"}, {"FileDialogStatus", "self"}};

} // namespace kestrova::forms
