#include "public_names.hpp"

#include "../forms/forms.hpp"
#include "../widgets/widgets.hpp"

namespace kestrova {

// Definition order: each name's line is greater than the one before.
const PublicName* const public_names[] = {
    &forms::FormA,    &forms::FormFolderTIF, &forms::FormFolderProjection,
    &forms::FormFolderCSV, &forms::FormText, &forms::FormA2,
    &forms::FormC,    &forms::FormB,         &forms::FormB2,
    &widgets::showImage, &widgets::tombol,   &widgets::icon,
    &widgets::garis,
};

const std::size_t public_name_count = sizeof public_names / sizeof public_names[0];

} // namespace kestrova
