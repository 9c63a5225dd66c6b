// FormText, FormB and FormB2: a caption and a text control to type into. They differ only
// in where the two widgets stand.

#include "entry_row.hpp"
#include "forms.hpp"

namespace kestrova::forms {
namespace {

// The row's statements start two lines after the class line.
constexpr int first_statement = 2;

void text_entry_init(Call& call, PyObject* const* arguments)
{
    const auto& form = call.row<TextEntryForm>();
    const bool takes_left = form.caption_x == nullptr;
    PyObject* self = arguments[0];
    PyObject* info = arguments[1];
    PyObject* width = arguments[2];
    PyObject* left = takes_left ? arguments[3] : nullptr;
    PyObject* top = arguments[takes_left ? 4 : 3];
    PyObject* panel = arguments[takes_left ? 5 : 4];
    PyObject* caption_x = takes_left ? left : (call.k.*form.caption_x).get();
    PyObject* text_x = form.text_x == nullptr ? left : (call.k.*form.text_x).get();
    lay_out_entry(call, {call.k.*form.entry, self, info, width, caption_x, text_x, top, panel},
                  form.line + first_statement);
}

const Signature init_with_left{
    CallForm::parameters,
    text_entry_init,
    {"self", "Info", "LebarForm", "PosLeft", "PosTinggi", "TargetPanel"},
    {},
};

const Signature init_at_fixed_x{
    CallForm::parameters,
    text_entry_init,
    {"self", "Info", "LebarForm", "PosTinggi", "TargetPanel"},
    {},
};

Ref make_text_entry_form(Loader& load, const PublicName& row)
{
    const auto& form = static_cast<const TextEntryForm&>(row);
    ClassBuilder form_class(load, row);
    const Signature* init = form.caption_x == nullptr ? &init_with_left : &init_at_fixed_x;
    form_class.method({"__init__", row.line + 1, init, &form});
    return form_class.finish();
}

} // namespace

using K = Constants;

const TextEntryForm FormText{{"FormText", 151, make_text_entry_form}, nullptr, nullptr, &K::entry_of_FormText};
const TextEntryForm FormB{{"FormB", 203, make_text_entry_form}, &K::int_15, &K::int_15, &K::entry_of_FormB};
const TextEntryForm FormB2{{"FormB2", 212, make_text_entry_form}, &K::int_15, &K::int_580, &K::entry_of_FormB2};

} // namespace kestrova::forms
