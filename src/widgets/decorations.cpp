// showImage, icon and garis: single calls that keep no state.

#include "../module/operations.hpp"
#include "widgets.hpp"

namespace kestrova::widgets {
namespace {

void show_image(Call& call, const PublicName&, PyObject* const* arguments)
{
    const Constants& k = call.k;
    PyObject* url = arguments[0];
    PyObject* parent = arguments[1];
    PyObject* pos = arguments[2];

    //: png = wx.Image(urlfileimage, wx.BITMAP_TYPE_ANY).ConvertToBitmap()
    call.next();
    Ref bitmap;
    {
        Ref wx = call.global(k.wx);
        Ref image_type = attr(wx, k.Image);
        Ref any_type = attr(wx, k.BITMAP_TYPE_ANY);
        Ref image = invoke(call, image_type, {url, any_type});
        bitmap = call_method(call, image, k.ConvertToBitmap);
    } // the image goes as soon as it is converted

    //: wx.StaticBitmap(parent, -1, png, pos, (png.GetWidth(), png.GetHeight()))
    call.next();
    Ref static_bitmap = call.global_attr(k.wx, k.StaticBitmap);
    Ref width = call_method(call, bitmap, k.GetWidth);
    Ref height = call_method(call, bitmap, k.GetHeight);
    Ref size = pair(width, height);
    invoke(call, static_bitmap, {parent, k.int_minus_1, bitmap, pos, size});
}

constexpr int icon_line = 324;
constexpr int icon_kind_statements = 5; // after the comparison, per kind

// ctypes.windll.shell32.SetCurrentProcessExplicitAppUserModelID(myappid)
void set_application_id(Call& call, const Icon& icon, PyObject* ctypes)
{
    const Constants& k = call.k;
    // Only Windows' ctypes has windll. Elsewhere there is no shell to tell, and the icon
    // does not depend on it, so the call is skipped.
    Ref windll = optional_attr(ctypes, k.windll);
    if (!windll) {
        return;
    }
    Ref shell32 = attr(windll, k.shell32);
    call_method(call, shell32, k.SetCurrentProcessExplicitAppUserModelID, {icon.app_id});
}

void set_icon(Call& call, const Icon& icon, PyObject* const* arguments)
{
    const Constants& k = call.k;
    PyObject* parent = arguments[0];
    PyObject* tipe = arguments[1];
    for (const Icon::Kind& kind : icon.kinds) {
        //: [each kind] {if} tipe == {tipe}:
        call.next();
        if (!equals(tipe, kind.tipe)) {
            call.skip(icon_kind_statements);
            continue;
        }
        //: [each kind]     import ctypes
        call.next();
        Ref ctypes = import_in_function(k.ctypes, call.globals());
        //: [each kind]     myappid = {app_id}
        call.next(); // (a constant of the row)
        //: [each kind]     ctypes.windll.shell32.SetCurrentProcessExplicitAppUserModelID(myappid)
        call.next();
        set_application_id(call, icon, ctypes);
        //: [each kind]     ico = wx.Icon({file}, wx.BITMAP_TYPE_ICO)
        call.next();
        Ref wx = call.global(k.wx);
        Ref icon_type = attr(wx, k.Icon);
        Ref ico_type = attr(wx, k.BITMAP_TYPE_ICO);
        Ref ico = invoke(call, icon_type, {kind.file, ico_type});
        //: [each kind]     parent.SetIcon(ico)
        call.next();
        call_method(call, parent, k.SetIcon, {ico});
        return;
    }
}

void print_separator(Call& call, const Separator& separator, PyObject* const*)
{
    //: print({text})
    call.next();
    print(call, separator.text);
    //: print("")
    call.next();
    print(call, call.k.text_empty);
}

constexpr SignatureOf<PublicName> show_image_signature{
    CallForm::parameters, show_image, {"urlfileimage", "parent", "pos"}, {}};
constexpr SignatureOf<Icon> icon_signature{CallForm::parameters, set_icon, {"parent", "tipe"}, {}};
constexpr SignatureOf<Separator> garis_signature{CallForm::no_arguments, print_separator, {}, {}};

Ref make_icon(Loader& load, const PublicName& row)
{
    const auto& icon = static_cast<const Icon&>(row);
    load.make(icon.app_id);
    for (const Icon::Kind& kind : icon.kinds) {
        load.make(kind.tipe);
        load.make(kind.file);
    }
    return make_public_function<Icon>(load, row);
}

Ref make_separator(Loader& load, const PublicName& row)
{
    load.make(static_cast<const Separator&>(row).text);
    return make_public_function<Separator>(load, row);
}

} // namespace

const PublicFunction<PublicName> showImage{{"showImage", 224, make_public_function<PublicName>}, &show_image_signature};
const Icon icon{{{"icon", icon_line, make_icon}, &icon_signature},
                {"mycompany.myproduct.subproduct.version"},
                {{{1}, {"img/icon_zentrova.ico"}}, {{2}, {"tool.ico"}}}};
const Separator garis{{{"garis", 341, make_separator}, &garis_signature},
                      {"---------------------------------------------------------------"}};

} // namespace kestrova::widgets
