// The nine input forms: the rows of two tables, one for the file-entry forms (caption,
// text control and a browse button with a file dialog) and one for the text-entry forms
// (caption and text control).
#pragma once

#include "../module/loader.hpp"

namespace kestrova::forms {

// Where a file-entry row stands: at the fixed left margin, or at the caller's PosLeft.
enum class Placement { fixed_margin, at_pos_left };

struct FileEntryForm : PublicName {
    Placement placement;
    NameConstant wildcard; // what the browse dialog offers
    NameConstant entry;    // the name entryOpenFile, with this class's own caches
};

// x of the caption and of the text control: a constant, or null for the caller's PosLeft.
struct TextEntryForm : PublicName {
    Constant caption_x;
    Constant text_x;
    NameConstant entry; // the name entryOpenFile, with this class's own caches
};

extern const FileEntryForm FormA, FormFolderTIF, FormFolderProjection, FormFolderCSV, FormA2,
    FormC;
extern const TextEntryForm FormText, FormB, FormB2;

} // namespace kestrova::forms
