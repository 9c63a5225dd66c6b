#include "constants.hpp"

#include <initializer_list>
#include <memory>

namespace kestrova {

// Never deleted at exit: its references may only be released while the interpreter lives.
Constants* current_constants = nullptr;

namespace {

Ref interned(const char* text) { return checked(PyUnicode_InternFromString(text)); }

Ref integer(long value) { return checked(PyLong_FromLong(value)); }

Ref integer_tuple(std::initializer_list<long> values)
{
    Ref tuple = checked(PyTuple_New(static_cast<Py_ssize_t>(values.size())));
    Py_ssize_t index = 0;
    for (long value : values) {
        PyTuple_SET_ITEM(tuple.get(), index++, integer(value).release());
    }
    return tuple;
}

} // namespace

Ref name_tuple(const char* const* names, int count)
{
    Ref tuple = checked(PyTuple_New(count));
    for (int i = 0; i < count; ++i) {
        PyTuple_SET_ITEM(tuple.get(), i, interned(names[i]).release());
    }
    return tuple;
}

void build_constants()
{
    auto built = std::make_unique<Constants>();
    Constants& k = *built;
#define KESTROVA_BUILD_IDENTIFIER(member) k.member.object = interned(#member);
#define KESTROVA_BUILD_TEXT(member, text) k.member.object = interned(text);
#define KESTROVA_BUILD_INTEGER(member, value) k.member = integer(value);
#define KESTROVA_BUILD_INTEGER_TUPLE(member, ...) k.member = integer_tuple({__VA_ARGS__});
#define KESTROVA_BUILD_NAME_TUPLE(member, ...)                                                                         \
    {                                                                                                                  \
        const char* const names[] = {__VA_ARGS__};                                                                     \
        k.member = name_tuple(names, static_cast<int>(sizeof names / sizeof names[0]));                                \
    }
    KESTROVA_IDENTIFIERS(KESTROVA_BUILD_IDENTIFIER)
    KESTROVA_TEXTS(KESTROVA_BUILD_TEXT)
    KESTROVA_INTEGERS(KESTROVA_BUILD_INTEGER)
    KESTROVA_INTEGER_TUPLES(KESTROVA_BUILD_INTEGER_TUPLE)
    KESTROVA_KEYWORD_NAMES(KESTROVA_BUILD_NAME_TUPLE)
#undef KESTROVA_BUILD_IDENTIFIER
#undef KESTROVA_BUILD_TEXT
#undef KESTROVA_BUILD_INTEGER
#undef KESTROVA_BUILD_INTEGER_TUPLE
#undef KESTROVA_BUILD_NAME_TUPLE
    k.empty_tuple = checked(PyTuple_New(0));

    // Function objects keep their own references, so the previous set may go now.
    delete current_constants;
    current_constants = built.release();
}

} // namespace kestrova
