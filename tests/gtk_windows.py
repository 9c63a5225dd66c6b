"""Finds and answers native GTK file dialogs, which the toolkit does not list among its
top-level windows."""

import ctypes

_gtk = ctypes.CDLL("libgtk-3.so.0")
_gobject = ctypes.CDLL("libgobject-2.0.so.0")
_glib = ctypes.CDLL("libglib-2.0.so.0")

_gtk.gtk_window_list_toplevels.restype = ctypes.c_void_p
_gtk.gtk_dialog_response.argtypes = [ctypes.c_void_p, ctypes.c_int]
_gtk.gtk_file_chooser_set_filename.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
_gtk.gtk_file_chooser_set_current_name.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
_gobject.g_type_name.restype = ctypes.c_char_p
_gobject.g_type_name.argtypes = [ctypes.c_size_t]
_glib.g_list_free.argtypes = [ctypes.c_void_p]

GTK_RESPONSE_ACCEPT = -3
GTK_RESPONSE_CANCEL = -6


class _GList(ctypes.Structure):
    pass


_GList._fields_ = [("data", ctypes.c_void_p), ("next", ctypes.POINTER(_GList)),
                   ("prev", ctypes.POINTER(_GList))]


def toplevels():
    """(GTK type name, pointer) of every GTK top-level window."""
    head = _gtk.gtk_window_list_toplevels()
    found = []
    node = ctypes.cast(head, ctypes.POINTER(_GList))
    while node:
        instance = node.contents.data
        klass = ctypes.c_void_p.from_address(instance).value
        type_id = ctypes.c_size_t.from_address(klass).value
        found.append((_gobject.g_type_name(type_id).decode(), instance))
        node = node.contents.next
    _glib.g_list_free(head)
    return found


def file_dialogs():
    return [pointer for name, pointer in toplevels() if name == "GtkFileChooserDialog"]


def choose(dialog, path=None, name=None):
    """Selects `path`, or types `name` into a save dialog."""
    if path is not None:
        _gtk.gtk_file_chooser_set_filename(dialog, str(path).encode())
    if name is not None:
        _gtk.gtk_file_chooser_set_current_name(dialog, name.encode())


def respond(dialog, confirm):
    _gtk.gtk_dialog_response(dialog, GTK_RESPONSE_ACCEPT if confirm else GTK_RESPONSE_CANCEL)
