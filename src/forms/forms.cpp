// The nine forms: one initialiser for every row of the table at the end. It lays out the
// caption and the text control where the row places them, gives them the entry look, and
// for a row with a wildcard adds the browse button.

#include <iterator>

#include "../module/operations.hpp"
#include "forms.hpp"

namespace kestrova::forms {
namespace {

PyObject* x_of(const RowInteger& x, PyObject* left) { return x.value == pos_left ? left : x.object; }

// `self.entryOpenFile.<method>(argument)`
KESTROVA_ALWAYS_INLINE void call_on_entry(Call& call, PyObject* self, const Form& form, const Name& method,
                                          PyObject* argument)
{
    Ref entry = attr(self, form.entry);
    call_method(call, entry, method, {argument});
}

void form_init(Call& call, const Form& form, PyObject* const* arguments)
{
    const Constants& k = call.k;
    // self, FileDialogStatus (a row with a wildcard), Info, LebarForm, PosLeft (a row that
    // stands there), PosTinggi, TargetPanel
    PyObject* const* next = arguments;
    PyObject* self = *next++;
    PyObject* status = form.browses() ? *next++ : nullptr;
    PyObject* info = *next++;
    PyObject* width = *next++;
    PyObject* left = form.takes_pos_left() ? *next++ : nullptr;
    PyObject* top = *next++;
    PyObject* panel = *next++;

    // The handler, closing over FileDialogStatus and self.
    Ref handler;
    if (form.browses()) {
        //: [browses] def filedialog(event):
        call.next();
        handler = call.make_inner({status, self});
        call.skip(file_dialog_lines);
    }

    //: Text = wx.StaticText(TargetPanel, -1, Info, pos=({caption_x}, PosTinggi - 22))
    call.next();
    Ref static_text = call.global_attr(k.wx, k.StaticText);
    Ref caption_top = subtract(top, k.int_22);
    Ref caption_pos = pair(x_of(form.caption_x, left), caption_top);
    Ref caption = invoke(call, static_text, {panel, k.int_minus_1, info, caption_pos}, k.keywords_pos);

    //: self.entryOpenFile = wx.TextCtrl(TargetPanel, -1, size=(LebarForm, 20), pos=({text_x}, PosTinggi), style=wx.BORDER)
    call.next();
    {
        Ref wx = call.global(k.wx);
        Ref text_ctrl = attr(wx, k.TextCtrl);
        Ref size = pair(width, k.int_20);
        Ref pos = pair(x_of(form.text_x, left), top);
        Ref border = attr(wx, k.BORDER);
        Ref entry = invoke(call, text_ctrl, {panel, k.int_minus_1, size, pos, border}, k.keywords_size_pos_style);
        set_attr(self, form.entry, entry);
    }

    //: self.entryOpenFile.SetFont(wx.Font(9, wx.DECORATIVE, wx.NORMAL, wx.NORMAL, False, "Verdana"))
    call.next();
    {
        Ref entry = attr(self, form.entry);
        Method set_font(call, entry, k.SetFont);
        Ref wx = call.global(k.wx);
        Ref font_type = attr(wx, k.Font);
        Ref family = attr(wx, k.DECORATIVE);
        Ref style = attr(wx, k.NORMAL);
        Ref weight = attr(wx, k.NORMAL);
        Ref font = invoke(call, font_type, {k.int_9, family, style, weight, Py_False, k.text_verdana});
        set_font({font});
    }

    //: self.entryOpenFile.SetForegroundColour("WHITE")
    call.next();
    call_on_entry(call, self, form, k.SetForegroundColour, k.text_white);
    //: self.entryOpenFile.SetBackgroundColour((50, 50, 50))
    call.next();
    call_on_entry(call, self, form, k.SetBackgroundColour, k.rgb_50_50_50);
    //: Text.SetForegroundColour("GREY")
    call.next();
    call_method(call, caption, k.SetForegroundColour, {k.text_grey});
    if (!form.browses()) {
        return;
    }

    //: [browses] Btn = tombol()
    call.next();
    Ref tombol = call.global(k.tombol);
    Ref button = invoke(call, tombol);

    // The button stands right of the text control: at LebarForm + 25, or for a row at
    // PosLeft at (PosLeft + LebarForm) + 15.
    //: [browses] Btn.btnconfig(parent=TargetPanel, label="...", size=(40, 20), pos=({button_x}, PosTinggi), btntype=3, target=filedialog)
    call.next();
    Method btnconfig(call, button, k.btnconfig);
    Ref button_x;
    if (left != nullptr) {
        Ref right_edge = add(left, width);
        button_x = add(right_edge, k.int_15);
    } else {
        button_x = add(width, k.int_25);
    }
    Ref pos = pair(button_x, top);
    btnconfig({panel, k.text_browse, k.size_40_20, pos, k.int_3, handler}, k.keywords_btnconfig);
}

// The initialisers' parameters, by whether the row browses and whether it takes PosLeft.
constexpr SignatureOf<Form> initialisers[2][2] = {
    {{CallForm::parameters, form_init, {"self", "Info", "LebarForm", "PosTinggi", "TargetPanel"}, {}},
     {CallForm::parameters, form_init, {"self", "Info", "LebarForm", "PosLeft", "PosTinggi", "TargetPanel"}, {}}},
    {{CallForm::parameters,
      form_init,
      {"self", "FileDialogStatus", "Info", "LebarForm", "PosTinggi", "TargetPanel"},
      {}},
     {CallForm::parameters,
      form_init,
      {"self", "FileDialogStatus", "Info", "LebarForm", "PosLeft", "PosTinggi", "TargetPanel"},
      {}}},
};

Ref make_form(Loader& load, const PublicName& row)
{
    const auto& form = static_cast<const Form&>(row);
    for (const RowInteger* x : {&form.caption_x, &form.text_x}) {
        if (x->value != pos_left) {
            load.make(*x);
        }
    }
    load.make(form.wildcard);
    load.make(form.entry, "entryOpenFile");
    ClassBuilder form_class(load, row);
    const FunctionDef init{"__init__", row.line + init_offset, initialisers[form.browses()][form.takes_pos_left()],
                           form};
    const FunctionDef handler{"filedialog", row.line + handler_offset, file_dialog_signature, form};
    form_class.method(init, form.browses() ? &handler : nullptr);
    return form_class.finish();
}

constexpr long margin = 15;
constexpr const char* tif = "TIF Image (*.tif)|*.tif|All files (*.*)|*.*";
constexpr const char* projection = "WLD Projection (*.wld)|*.wld|PRJ Projection (*.prj)|*.prj|All files (*.*)|*.*";
constexpr const char* csv = "CSV(*.csv)|*.csv|All files (*.*)|*.*";
constexpr const char* no_button = nullptr;

} // namespace

// The forms, in definition order: the class name and line, the caption's x, the text
// control's x, and the wildcard of the browse dialog.
const Form form_rows[] = {
    {{"FormA", 67, make_form}, {margin}, {margin}, {tif}},
    {{"FormFolderTIF", 88, make_form}, {pos_left}, {pos_left}, {tif}},
    {{"FormFolderProjection", 109, make_form}, {pos_left}, {pos_left}, {projection}},
    {{"FormFolderCSV", 130, make_form}, {pos_left}, {pos_left}, {csv}},
    {{"FormText", 151, make_form}, {pos_left}, {pos_left}, {no_button}},
    {{"FormA2", 160, make_form}, {margin}, {margin}, {tif}},
    {{"FormC", 181, make_form}, {margin}, {margin}, {csv}},
    {{"FormB", 203, make_form}, {margin}, {margin}, {no_button}},
    {{"FormB2", 212, make_form}, {margin}, {580}, {no_button}},
};

const std::size_t form_count = std::size(form_rows);

} // namespace kestrova::forms
