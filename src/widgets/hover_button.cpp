// tombol: a flat GenButton whose press calls the caller's handler and whose colours, in
// one of six schemes, change while the pointer is over it.

#include "../module/statements.hpp"
#include "widgets.hpp"

namespace kestrova::widgets {
namespace {

using K = Constants;

struct Scheme {
    Constant number; // the btntype that selects it
    Constant rest_background;
    Constant rest_foreground;
    NameConstant enter_handler;
    NameConstant leave_handler;
};

// In the order btnconfig compares btntype with them.
const Scheme schemes[] = {
    {&K::int_0, &K::rgb_51_51_51, &K::rgb_230_230_230, &K::OnMouseEnter0, &K::OnMouseLeave0},
    {&K::int_1, &K::rgb_225_225_225, &K::rgb_100_100_100, &K::OnMouseEnter1, &K::OnMouseLeave1},
    {&K::int_2, &K::rgb_50_50_50, &K::rgb_220_220_220, &K::OnMouseEnter2, &K::OnMouseLeave2},
    {&K::int_3, &K::rgb_54_54_63, &K::rgb_255_255_255, &K::OnMouseEnter3, &K::OnMouseLeave3},
    {&K::int_4, &K::rgb_0_204_255, &K::rgb_255_255_255, &K::OnMouseEnter4, &K::OnMouseLeave4},
    {&K::int_5, &K::rgb_255_153_0, &K::rgb_255_255_255, &K::OnMouseEnter5, &K::OnMouseLeave5},
};

struct Recolour {
    NameConstant method; // SetForegroundColour or SetBackgroundColour; null for none
    Constant colour;
};

// A hover handler: up to two recolourings of the button, then a repaint.
struct HoverHandler {
    const char* name;
    int line;
    Recolour steps[2];
};

constexpr NameConstant foreground = &K::SetForegroundColour;
constexpr NameConstant background = &K::SetBackgroundColour;

// In definition order, which is the order of the class namespace.
const HoverHandler hover_handlers[] = {
    {"OnMouseEnter0", 266, {{foreground, &K::rgb_250_250_250}, {background, &K::rgb_0_190_255}}},
    {"OnMouseLeave0", 271, {{foreground, &K::rgb_250_250_250}, {background, &K::rgb_51_51_51}}},
    {"OnMouseEnter2", 276, {{foreground, &K::rgb_50_50_50}, {background, &K::rgb_255_191_0}}},
    {"OnMouseLeave2", 281, {{foreground, &K::rgb_250_250_250}, {background, &K::rgb_50_50_50}}},
    {"OnMouseEnter1", 287, {{background, &K::rgb_100_100_100}, {foreground, &K::rgb_250_250_250}}},
    {"OnMouseLeave1", 292, {{foreground, &K::rgb_100_100_100}, {background, &K::rgb_225_225_225}}},
    {"OnMouseEnter3", 297, {{background, &K::rgb_255_191_0}, {}}},
    {"OnMouseLeave3", 301, {{background, &K::rgb_54_54_63}, {}}},
    {"OnMouseEnter4", 305, {{background, &K::rgb_0_170_213}, {}}},
    {"OnMouseLeave4", 309, {{background, &K::rgb_0_204_255}, {}}},
    {"OnMouseEnter5", 313, {{background, &K::rgb_255_120_0}, {}}},
    {"OnMouseLeave5", 316, {{background, &K::rgb_255_153_0}, {}}},
};

constexpr int btnconfig_line = 231;
constexpr int scheme_lines = 5; // the comparison and four statements per scheme

// `self.btn.<method>(*arguments)`, reading the button afresh.
void on_button(Call& call, PyObject* self, const Name& method,
               std::initializer_list<PyObject*> arguments = {})
{
    Ref button = attr(self, call.k.btn);
    call_method(button, method, arguments);
}

// self.btn.Bind(wx.<event>, self.<handler>)
void bind_hover(Call& call, PyObject* self, const Name& event, const Name& handler)
{
    Ref button = attr(self, call.k.btn);
    Method bind(button, call.k.Bind);
    Ref event_type = call.global_attr(call.k.wx, event);
    Ref bound_handler = attr(self, handler);
    bind({event_type, bound_handler});
}

void btnconfig(Call& call, PyObject* const* arguments)
{
    const Constants& k = call.k;
    PyObject* self = arguments[0];
    PyObject* parent = arguments[1];
    PyObject* label = arguments[2];
    PyObject* pos = arguments[3];
    PyObject* size = arguments[4];
    PyObject* btntype = arguments[5];
    PyObject* target = arguments[6];
    int line = btnconfig_line + 1;

    // self.btn = GenButton(parent, -1, label, pos, size)
    call.at(line++);
    {
        Ref gen_button = call.global(k.GenButton);
        Ref button = invoke(gen_button, {parent, k.int_minus_1, label, pos, size});
        set_attr(self, k.btn, button);
    }
    // self.btn.Bind(wx.EVT_BUTTON, target)
    call.at(line++);
    {
        Ref button = attr(self, k.btn);
        Method bind(button, k.Bind);
        Ref event_type = call.global_attr(k.wx, k.EVT_BUTTON);
        bind({event_type, target});
    }
    // self.btn.SetBezelWidth(0)
    call.at(line++);
    on_button(call, self, k.SetBezelWidth, {k.int_0});

    // The first scheme whose number equals btntype; none is no error.
    for (const Scheme& scheme : schemes) {
        call.at(line);
        if (equals(btntype, k.*scheme.number)) {
            call.at(line + 1);
            on_button(call, self, k.SetBackgroundColour, {k.*scheme.rest_background});
            call.at(line + 2);
            on_button(call, self, k.SetForegroundColour, {k.*scheme.rest_foreground});
            call.at(line + 3);
            bind_hover(call, self, k.EVT_ENTER_WINDOW, k.*scheme.enter_handler);
            call.at(line + 4);
            bind_hover(call, self, k.EVT_LEAVE_WINDOW, k.*scheme.leave_handler);
            return;
        }
        line += scheme_lines;
    }
}

void hover(Call& call, PyObject* const* arguments)
{
    const auto& handler = call.row<HoverHandler>();
    PyObject* self = arguments[0];
    int line = handler.line;
    for (const Recolour& step : handler.steps) {
        if (step.method == nullptr) {
            break;
        }
        call.at(++line);
        on_button(call, self, call.k.*step.method, {call.k.*step.colour});
    }
    call.at(++line);
    on_button(call, self, call.k.Refresh);
}

const Signature btnconfig_signature{
    CallForm::parameters,
    btnconfig,
    {"self", "parent", "label", "pos", "size", "btntype", "target"},
    {},
};

const Signature hover_signature{CallForm::parameters, hover, {"self", "event"}, {}};

Ref make_tombol(Loader& load, const PublicName& row)
{
    ClassBuilder button_class(load, row);
    button_class.method({"btnconfig", btnconfig_line, &btnconfig_signature, nullptr});
    for (const HoverHandler& handler : hover_handlers) {
        button_class.method({handler.name, handler.line, &hover_signature, &handler});
    }
    return button_class.finish();
}

} // namespace

const PublicName tombol{"tombol", 230, make_tombol};

} // namespace kestrova::widgets
