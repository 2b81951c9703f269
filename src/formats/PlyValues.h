#ifndef VELMORA_PLYVALUES_H
#define VELMORA_PLYVALUES_H

#include "formats/PlyHeader.h"
#include "formats/TextScanner.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <system_error>

/// The scalar values of a PLY body: the types a header names, their bytes in either order,
/// and their text. The readers of meshes and clouds, of clouds by cells and of splat scenes
/// take their values here, so that a file reads alike whichever of them reads it. Text is
/// read as TextScanner reads it, the same in every locale. Everything a reader calls per
/// value is inline.
class PlyValues {
public:
    /// The type of a header's name for it (char/int8, uchar/uint8, short/int16, ushort/uint16,
    /// int/int32, uint/uint32, float/float32, double/float64); false for any other word.
    static bool typeNamed(const std::string &name, PlyHeader::Type &type);

    /// The bytes of a binary value of type t.
    static size_t size(PlyHeader::Type t)
    {
        switch (t) {
        case PlyHeader::INT8:
        case PlyHeader::UINT8: return 1;
        case PlyHeader::INT16:
        case PlyHeader::UINT16: return 2;
        case PlyHeader::INT32:
        case PlyHeader::UINT32:
        case PlyHeader::FLOAT32: return 4;
        case PlyHeader::FLOAT64: return 8;
        }
        return 1;
    }

    /// True when the binary values of `format` come in the other byte order than this
    /// machine's (never for text).
    static bool swapped(PlyHeader::Format format)
    {
        const uint16_t one = 1;
        unsigned char first;
        std::memcpy(&first, &one, 1);
        return format != PlyHeader::ASCII && (format == PlyHeader::BINARY_BIG_ENDIAN) == (first == 1);
    }

    /// The value of type T whose bytes are at `at`, reversed first when `swap`.
    template <class T> static T load(const char *at, bool swap = false)
    {
        unsigned char b[sizeof(T)];
        std::memcpy(b, at, sizeof b);
        if (swap)
            for (size_t k = 0; k < sizeof b / 2; ++k) {
                const unsigned char c = b[k];
                b[k] = b[sizeof b - 1 - k];
                b[sizeof b - 1 - k] = c;
            }
        T v;
        std::memcpy(&v, b, sizeof v);
        return v;
    }

    /// The binary value of type t at `at` (size(t) bytes), exactly: a double holds every value
    /// of every type.
    static double decode(const char *at, PlyHeader::Type t, bool swap)
    {
        switch (t) {
        case PlyHeader::INT8: return load<int8_t>(at);
        case PlyHeader::UINT8: return load<uint8_t>(at);
        case PlyHeader::INT16: return load<int16_t>(at, swap);
        case PlyHeader::UINT16: return load<uint16_t>(at, swap);
        case PlyHeader::INT32: return load<int32_t>(at, swap);
        case PlyHeader::UINT32: return load<uint32_t>(at, swap);
        case PlyHeader::FLOAT32: return load<float>(at, swap);
        case PlyHeader::FLOAT64: return load<double>(at, swap);
        }
        return 0;
    }

    /// Moves `p` to the next word of a text body, past any white space (a word ends at white
    /// space or at `end`); false, at the end, when only white space is left.
    static bool toWord(const char *&p, const char *end)
    {
        while (p < end && TextScanner::isSpace(*p))
            ++p;
        return p < end;
    }

    /// What the word at `p` is.
    enum Word {
        NUMBER,       ///< its value in `value`, `p` past it
        OUT_OF_RANGE, ///< a number beyond a double's range, `p` past it: `value` is the
                      ///< infinity (too large) or the zero (too small) of its sign, as strtod gives
        NO_NUMBER,    ///< `p` where it was
    };
    static Word number(const char *&p, const char *end, double &value)
    {
        const std::from_chars_result r = TextScanner::parse(p, end, value);
        if (r.ptr == p || (r.ptr < end && !TextScanner::isSpace(*r.ptr)))
            return NO_NUMBER;
        if (r.ec == std::errc::result_out_of_range) {
            value = beyondRange(p, r.ptr);
            p = r.ptr;
            return OUT_OF_RANGE;
        }
        if (r.ec != std::errc())
            return NO_NUMBER;
        p = r.ptr;
        return NUMBER;
    }

    /// Moves `p` past the next word; false, at the end, when there is none.
    static bool skipWord(const char *&p, const char *end)
    {
        if (!toWord(p, end))
            return false;
        while (p < end && !TextScanner::isSpace(*p))
            ++p;
        return true;
    }

private:
    static double beyondRange(const char *begin, const char *end);
};

#endif
