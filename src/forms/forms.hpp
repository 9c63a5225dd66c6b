// The nine input forms, each a row of one table: a caption and a text control, and for a
// row with a wildcard a browse button whose file dialog offers that wildcard.
#pragma once

#include <climits>
#include <cstddef>

#include "../module/loader.hpp"

namespace kestrova::forms {

// The x of a widget that stands at the caller's PosLeft (the initialiser of a row with
// one takes PosLeft as a parameter).
constexpr long pos_left = LONG_MIN;

struct Form : PublicName {
    RowInteger caption_x; // a fixed x, or pos_left
    RowInteger text_x;
    RowText wildcard; // what the browse dialog offers; null for a row without a button
    RowName entry{};  // entryOpenFile, with this class's own caches

    bool browses() const { return wildcard.value != nullptr; }
    bool takes_pos_left() const { return caption_x.value == pos_left || text_x.value == pos_left; }
};

// The table of the forms, in definition order.
extern const Form form_rows[];
extern const std::size_t form_count;

// A row's definitions, from its class line on: the initialiser's, then for a row with a
// wildcard the browse button's handler's, as the initialiser's first statement.
constexpr int init_offset = 1;
constexpr int handler_offset = 2;

// The browse button's handler, which each initialiser of a row with a wildcard makes
// (file_dialog.cpp).
extern const SignatureOf<Form> file_dialog_signature;
// The lines of the handler's body that follow its definition: its statements and a blank
// line. The initialiser's next statement stands after them.
constexpr int file_dialog_lines = 9;

} // namespace kestrova::forms
