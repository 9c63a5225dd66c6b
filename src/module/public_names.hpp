// The public names of the module, in the order the load binds them.
#pragma once

#include <cstddef>

#include "loader.hpp"

namespace kestrova {

extern const std::size_t public_name_count;
const PublicName& public_name(std::size_t index);

} // namespace kestrova
