// The hover-colour button, the image, the window icon and the console separator.
#pragma once

#include "../module/loader.hpp"

namespace kestrova::widgets {

// icon's constants: the application's identifier, and for each kind the number tipe must
// equal and the icon file.
struct Icon : PublicFunction<Icon> {
    RowText app_id;
    struct Kind {
        RowInteger tipe;
        RowText file;
    } kinds[2];
};

// garis's separator.
struct Separator : PublicFunction<Separator> {
    RowText text;
};

extern const PublicName tombol;
extern const PublicFunction<PublicName> showImage;
extern const Icon icon;
extern const Separator garis;

} // namespace kestrova::widgets
