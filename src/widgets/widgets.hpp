// The hover-colour button, the image, the window icon and the console separator.
#pragma once

#include "../module/loader.hpp"

namespace kestrova::widgets {

extern const PublicName tombol;
extern const PublicFunction showImage, icon, garis;

} // namespace kestrova::widgets
