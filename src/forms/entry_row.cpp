#include "entry_row.hpp"

#include "../module/statements.hpp"

namespace kestrova::forms {
namespace {

// `self.entryOpenFile.<method>(argument)`
void call_on_entry(const EntryRow& row, const Name& method, PyObject* argument)
{
    Ref entry = attr(row.self, row.entry);
    call_method(entry, method, {argument});
}

} // namespace

void lay_out_entry(Call& call, const EntryRow& row, int first_line)
{
    const Constants& k = call.k;

    // Text = wx.StaticText(TargetPanel, -1, Info, pos=(caption_x, PosTinggi - 22))
    call.at(first_line);
    Ref static_text = call.global_attr(k.wx, k.StaticText);
    Ref caption_top = subtract(row.top, k.int_22);
    Ref caption_pos = pair(row.caption_x, caption_top);
    Ref caption = invoke(static_text, {row.panel, k.int_minus_1, row.info, caption_pos},
                         k.keywords_pos);

    // self.entryOpenFile = wx.TextCtrl(TargetPanel, -1, size=(LebarForm, 20),
    //                                  pos=(text_x, PosTinggi), style=wx.BORDER)
    call.at(first_line + 1);
    {
        Ref wx = call.global(k.wx);
        Ref text_ctrl = attr(wx, k.TextCtrl);
        Ref size = pair(row.width, k.int_20);
        Ref pos = pair(row.text_x, row.top);
        Ref border = attr(wx, k.BORDER);
        Ref entry = invoke(text_ctrl, {row.panel, k.int_minus_1, size, pos, border},
                           k.keywords_size_pos_style);
        set_attr(row.self, row.entry, entry);
    }

    // self.entryOpenFile.SetFont(wx.Font(9, wx.DECORATIVE, wx.NORMAL, wx.NORMAL, False, "Verdana"))
    call.at(first_line + 2);
    {
        Ref entry = attr(row.self, row.entry);
        Method set_font(entry, k.SetFont);
        Ref wx = call.global(k.wx);
        Ref font_type = attr(wx, k.Font);
        Ref family = attr(wx, k.DECORATIVE);
        Ref style = attr(wx, k.NORMAL);
        Ref weight = attr(wx, k.NORMAL);
        Ref font = invoke(font_type, {k.int_9, family, style, weight, Py_False, k.text_verdana});
        set_font({font});
    }

    call.at(first_line + 3);
    call_on_entry(row, k.SetForegroundColour, k.text_white);
    call.at(first_line + 4);
    call_on_entry(row, k.SetBackgroundColour, k.rgb_50_50_50);

    // Text.SetForegroundColour("GREY")
    call.at(first_line + 5);
    call_method(caption, k.SetForegroundColour, {k.text_grey});
}

} // namespace kestrova::forms
