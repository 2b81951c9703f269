#include "formats/PlyValues.h"
#include "formats/NamedValues.h"
#include "math/CLocale.h"

#include <stdlib.h>

bool PlyValues::typeNamed(const std::string &name, PlyHeader::Type &type)
{
    static const NamedValue<PlyHeader::Type> kTypes[] = {
        {"char", PlyHeader::INT8},     {"int8", PlyHeader::INT8},      {"uchar", PlyHeader::UINT8},
        {"uint8", PlyHeader::UINT8},   {"short", PlyHeader::INT16},    {"int16", PlyHeader::INT16},
        {"ushort", PlyHeader::UINT16}, {"uint16", PlyHeader::UINT16},  {"int", PlyHeader::INT32},
        {"int32", PlyHeader::INT32},   {"uint", PlyHeader::UINT32},    {"uint32", PlyHeader::UINT32},
        {"float", PlyHeader::FLOAT32}, {"float32", PlyHeader::FLOAT32}, {"double", PlyHeader::FLOAT64},
        {"float64", PlyHeader::FLOAT64},
    };
    return findNamed(kTypes, name, type);
}

double PlyValues::beyondRange(const char *begin, const char *end)
{
    // Rare enough to take the C library's reading of a copy: it knows which way the number
    // left the range.
    const std::string word(begin, end);
    return strtod_l(word.c_str(), nullptr, CLocale::get());
}
