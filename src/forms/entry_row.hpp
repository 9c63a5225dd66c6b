// The caption and text control that every form lays out.
#pragma once

#include "../module/function.hpp"

namespace kestrova::forms {

struct EntryRow {
    const Name& entry; // entryOpenFile
    PyObject* self;
    PyObject* info;
    PyObject* width;
    PyObject* caption_x;
    PyObject* text_x;
    PyObject* top;
    PyObject* panel;
};

// Makes the caption at (caption_x, top - 22) and the text control at (text_x, top), sized
// (width, 20) and stored as the form's entryOpenFile, gives the text control the entry
// look and greys the caption: six statements, from `first_line` on.
void lay_out_entry(Call& call, const EntryRow& row, int first_line);

} // namespace kestrova::forms
