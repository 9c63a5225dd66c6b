#include "public_names.hpp"

#include <iterator>

#include "../forms/forms.hpp"
#include "../widgets/widgets.hpp"

namespace kestrova {
namespace {

// After the forms, in definition order (each name's line is greater than the one before).
const PublicName* const widgets_in_order[] = {&widgets::showImage, &widgets::tombol, &widgets::icon, &widgets::garis};

} // namespace

const std::size_t public_name_count = forms::form_count + std::size(widgets_in_order);

const PublicName& public_name(std::size_t index)
{
    return index < forms::form_count ? forms::form_rows[index] : *widgets_in_order[index - forms::form_count];
}

} // namespace kestrova
