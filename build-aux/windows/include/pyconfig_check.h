/* Stops the build where the compiler's own idea of the target differs from what a Windows
 * pyconfig.h states, so that a configuration paired with the wrong target or compiler fails
 * here, not in the interpreter. */
#if __SIZEOF_SHORT__ != SIZEOF_SHORT || __SIZEOF_INT__ != SIZEOF_INT \
    || __SIZEOF_LONG__ != SIZEOF_LONG || __SIZEOF_LONG_LONG__ != SIZEOF_LONG_LONG \
    || __SIZEOF_FLOAT__ != SIZEOF_FLOAT || __SIZEOF_DOUBLE__ != SIZEOF_DOUBLE \
    || __SIZEOF_POINTER__ != SIZEOF_VOID_P || __SIZEOF_SIZE_T__ != SIZEOF_SIZE_T \
    || __SIZEOF_POINTER__ != SIZEOF_UINTPTR_T || __SIZEOF_WCHAR_T__ != SIZEOF_WCHAR_T
#error "The compiler's type sizes differ from this pyconfig.h"
#endif
#if __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "This pyconfig.h describes a little-endian target"
#endif
