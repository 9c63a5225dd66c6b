// tombol: a flat GenButton whose press calls the caller's handler and whose colours, in
// one of six schemes, change while the pointer is over it.

#include <algorithm>
#include <iterator>

#include "../module/operations.hpp"
#include "widgets.hpp"

namespace kestrova::widgets {
namespace {

constexpr NameConstant foreground = &Constants::SetForegroundColour;
constexpr NameConstant background = &Constants::SetBackgroundColour;

// A hover handler: its definition line, and up to two recolourings of the button before
// it repaints the button.
struct Hover {
    int line;
    struct {
        NameConstant method; // foreground or background; null for none
        RowColour colour;
    } steps[2];
};

// A colour scheme: the btntype that selects it, the colours btnconfig gives the button,
// and the handlers bound to the pointer's entering and leaving it, OnMouseEnterN and
// OnMouseLeaveN for scheme N.
struct Scheme {
    RowInteger number;
    RowColour rest_background, rest_foreground;
    Hover enter, leave;
    RowName enter_name{}, leave_name{};
};

// In the order btnconfig compares btntype with them.
const Scheme schemes[] = {
    {{0},
     {51, 51, 51},
     {230, 230, 230},
     {266, {{foreground, {250, 250, 250}}, {background, {0, 190, 255}}}},
     {271, {{foreground, {250, 250, 250}}, {background, {51, 51, 51}}}}},
    {{1},
     {225, 225, 225},
     {100, 100, 100},
     {287, {{background, {100, 100, 100}}, {foreground, {250, 250, 250}}}},
     {292, {{foreground, {100, 100, 100}}, {background, {225, 225, 225}}}}},
    {{2},
     {50, 50, 50},
     {220, 220, 220},
     {276, {{foreground, {50, 50, 50}}, {background, {255, 191, 0}}}},
     {281, {{foreground, {250, 250, 250}}, {background, {50, 50, 50}}}}},
    {{3}, {54, 54, 63}, {255, 255, 255}, {297, {{background, {255, 191, 0}}}}, {301, {{background, {54, 54, 63}}}}},
    {{4}, {0, 204, 255}, {255, 255, 255}, {305, {{background, {0, 170, 213}}}}, {309, {{background, {0, 204, 255}}}}},
    {{5}, {255, 153, 0}, {255, 255, 255}, {313, {{background, {255, 120, 0}}}}, {316, {{background, {255, 153, 0}}}}},
};

constexpr int btnconfig_line = 231;
constexpr int scheme_statements = 4; // after the comparison, per scheme

// `self.btn.<method>(argument)`, reading the button afresh.
KESTROVA_ALWAYS_INLINE void on_button(Call& call, PyObject* self, const Name& method, PyObject* argument)
{
    Ref button = attr(self, call.k.btn);
    call_method(call, button, method, {argument});
}

// `self.btn.<method>()`, reading the button afresh.
KESTROVA_ALWAYS_INLINE void on_button(Call& call, PyObject* self, const Name& method)
{
    Ref button = attr(self, call.k.btn);
    call_method(call, button, method);
}

// self.btn.Bind(wx.<event>, self.<handler>)
void bind_hover(Call& call, PyObject* self, const Name& event, const Name& handler)
{
    Ref button = attr(self, call.k.btn);
    Method bind(call, button, call.k.Bind);
    Ref event_type = call.global_attr(call.k.wx, event);
    Ref bound_handler = attr(self, handler);
    bind({event_type, bound_handler});
}

void btnconfig(Call& call, const PublicName&, PyObject* const* arguments)
{
    const Constants& k = call.k;
    PyObject* self = arguments[0];
    PyObject* parent = arguments[1];
    PyObject* label = arguments[2];
    PyObject* pos = arguments[3];
    PyObject* size = arguments[4];
    PyObject* btntype = arguments[5];
    PyObject* target = arguments[6];

    //: self.btn = GenButton(parent, -1, label, pos, size)
    call.next();
    {
        Ref gen_button = call.global(k.GenButton);
        Ref button = invoke(call, gen_button, {parent, k.int_minus_1, label, pos, size});
        set_attr(self, k.btn, button);
    }
    //: self.btn.Bind(wx.EVT_BUTTON, target)
    call.next();
    {
        Ref button = attr(self, k.btn);
        Method bind(call, button, k.Bind);
        Ref event_type = call.global_attr(k.wx, k.EVT_BUTTON);
        bind({event_type, target});
    }
    //: self.btn.SetBezelWidth(0)
    call.next();
    on_button(call, self, k.SetBezelWidth, k.int_0);

    // The first scheme whose number equals btntype; none is no error.
    for (const Scheme& scheme : schemes) {
        //: [each scheme] {if} btntype == {number}:
        call.next();
        if (!equals(btntype, scheme.number)) {
            call.skip(scheme_statements);
            continue;
        }
        //: [each scheme]     self.btn.SetBackgroundColour({rest_background})
        call.next();
        on_button(call, self, k.SetBackgroundColour, scheme.rest_background);
        //: [each scheme]     self.btn.SetForegroundColour({rest_foreground})
        call.next();
        on_button(call, self, k.SetForegroundColour, scheme.rest_foreground);
        //: [each scheme]     self.btn.Bind(wx.EVT_ENTER_WINDOW, self.{enter_name})
        call.next();
        bind_hover(call, self, k.EVT_ENTER_WINDOW, scheme.enter_name);
        //: [each scheme]     self.btn.Bind(wx.EVT_LEAVE_WINDOW, self.{leave_name})
        call.next();
        bind_hover(call, self, k.EVT_LEAVE_WINDOW, scheme.leave_name);
        return;
    }
}

void hover(Call& call, const Hover& handler, PyObject* const* arguments)
{
    PyObject* self = arguments[0];
    for (const auto& step : handler.steps) {
        if (step.method == nullptr) {
            break;
        }
        //: [each step] self.btn.{method}({colour})
        call.next();
        on_button(call, self, call.k.*step.method, step.colour);
    }
    //: self.btn.Refresh()
    call.next();
    on_button(call, self, call.k.Refresh);
}

constexpr SignatureOf<PublicName> btnconfig_signature{
    CallForm::parameters, btnconfig, {"self", "parent", "label", "pos", "size", "btntype", "target"}, {}};
constexpr SignatureOf<Hover> hover_signature{CallForm::parameters, hover, {"self", "event"}, {}};

Ref make_tombol(Loader& load, const PublicName& row)
{
    struct Handler {
        const Hover* hover;
        char name[24];
    } handlers[2 * std::size(schemes)];
    Handler* next = handlers;
    for (const Scheme& scheme : schemes) {
        load.make(scheme.number);
        load.make(scheme.rest_background);
        load.make(scheme.rest_foreground);
        const Hover* hovers[] = {&scheme.enter, &scheme.leave};
        const RowName* names[] = {&scheme.enter_name, &scheme.leave_name};
        for (int i = 0; i < 2; ++i) {
            for (const auto& step : hovers[i]->steps) {
                if (step.method != nullptr) {
                    load.make(step.colour);
                }
            }
            next->hover = hovers[i];
            PyOS_snprintf(next->name, sizeof next->name, "OnMouse%s%ld", i == 0 ? "Enter" : "Leave",
                          scheme.number.value);
            load.make(*names[i], next->name);
            ++next;
        }
    }
    // The class lists its methods in definition order, the order of their lines.
    std::sort(std::begin(handlers), std::end(handlers),
              [](const Handler& a, const Handler& b) { return a.hover->line < b.hover->line; });

    ClassBuilder button_class(load, row);
    button_class.method({"btnconfig", btnconfig_line, btnconfig_signature, row});
    for (const Handler& handler : handlers) {
        button_class.method({handler.name, handler.hover->line, hover_signature, *handler.hover});
    }
    return button_class.finish();
}

} // namespace

const PublicName tombol{"tombol", 230, make_tombol};

} // namespace kestrova::widgets
