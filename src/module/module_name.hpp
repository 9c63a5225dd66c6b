// The module's name, stated once: what it is imported as, the module source its code
// objects and traceback entries name, and the name of its init function.
#pragma once

#define KESTROVA_MODULE KestrovaGUI

#define KESTROVA_TEXT_(x) #x
#define KESTROVA_TEXT(x) KESTROVA_TEXT_(x)
#define KESTROVA_JOIN_(a, b) a##b
#define KESTROVA_JOIN(a, b) KESTROVA_JOIN_(a, b)

// The name as a text.
#define KESTROVA_MODULE_NAME KESTROVA_TEXT(KESTROVA_MODULE)
// The major.minor version of the interpreter the build is for, as text ("3.11").
#define KESTROVA_BUILT_FOR KESTROVA_TEXT(PY_MAJOR_VERSION) "." KESTROVA_TEXT(PY_MINOR_VERSION)
// The init function's symbol: PyInit_ followed by the name, as the interpreter looks it up.
#define KESTROVA_INIT_FUNCTION KESTROVA_JOIN(PyInit_, KESTROVA_MODULE)
