#ifndef VELMORA_TEXTSCANNER_H
#define VELMORA_TEXTSCANNER_H

#include "math/CLocale.h"

#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <system_error>

/// Numbers of a text in memory, read from the front and never past its end. Numbers are read
/// as std::from_chars reads them, the same whatever the locale (the toolkit sets the user's,
/// where a decimal comma would make scanf misread "0.5"), and may carry a leading '+' as the
/// C library allows, which from_chars alone refuses. Everything is inline: the readers call
/// it in their innermost loops.
class TextScanner {
public:
    TextScanner(const char *begin, const char *end) : p(begin), stop(end) {}

    /// White space as the C library's number parsers skip it.
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

    /// The number that starts at `from` (an optional '+', then what from_chars takes), with
    /// from_chars' own result: where the number ends and what went wrong.
    template <class T> static std::from_chars_result parse(const char *from, const char *end, T &value)
    {
        const char *start = from < end && *from == '+' ? from + 1 : from;
        return std::from_chars(start, end, value);
    }
    static std::from_chars_result parse(const char *from, const char *end, float &value)
    {
        const char *start = from < end && *from == '+' ? from + 1 : from;
        const char *after = shortDecimal(start, end, value);
        return after ? std::from_chars_result{after, std::errc()} : std::from_chars(start, end, value);
    }

    /// A number written with few digits and no exponent ("-12.375"), read faster than
    /// from_chars reads it and to the same float: when its digits without the point make an
    /// integer m below 2^24 and f of them follow the point, f at most 10, both m and 10^f are
    /// floats exactly, and their quotient rounded once is the float nearest the number, which
    /// from_chars gives. Returns where the number ends, or null for any other number.
    static const char *shortDecimal(const char *p, const char *end, float &value)
    {
        const bool negative = p < end && *p == '-';
        p += negative;
        uint32_t m = 0;
        int digits = 0, fraction = -1;
        for (; p < end; ++p) {
            if (*p >= '0' && *p <= '9') {
                m = 10 * m + static_cast<uint32_t>(*p - '0');
                fraction += fraction >= 0;
                ++digits;
                // Past 2^24 (so the next digit cannot wrap m around either).
                if (m > (1u << 24))
                    return nullptr;
            } else if (*p == '.' && fraction < 0 && digits > 0) {
                fraction = 0;
            } else {
                break;
            }
        }
        // "4." and a number with an exponent, or none at all, are left to from_chars.
        if (digits == 0 || fraction == 0 || fraction > 10 || (p < end && (*p == 'e' || *p == 'E')))
            return nullptr;
        static constexpr float kPowers[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
        const float magnitude = static_cast<float>(m) / kPowers[fraction < 0 ? 0 : fraction];
        value = negative ? -magnitude : magnitude;
        return p;
    }

    const char *position() const { return p; }
    const char *end() const { return stop; }
    void moveTo(const char *to) { p = to; }
    bool atEnd() const { return p >= stop; }
    size_t remaining() const { return static_cast<size_t>(stop - p); }

    void skipSpace()
    {
        while (p < stop && isSpace(*p))
            ++p;
    }

    /// The number at the position, if there is one: the scanner moves past it. False, without
    /// moving, when there is none.
    template <class T> bool numberHere(T &value)
    {
        const std::from_chars_result r = parse(p, stop, value);
        if (r.ec != std::errc())
            return false;
        p = r.ptr;
        return true;
    }

    /// The next number after any white space (line ends included); false, with the scanner
    /// after the white space, when none follows.
    template <class T> bool number(T &value)
    {
        skipSpace();
        return numberHere(value);
    }

    /// Moves past the characters for which `inSet` holds.
    template <class Pred> void skipWhile(Pred inSet)
    {
        while (p < stop && inSet(*p))
            ++p;
    }

    /// The next word, [begin, position()): the characters before the next one for which
    /// `separates` holds, after any that do. False at the end.
    template <class Pred> bool word(const char *&begin, Pred separates)
    {
        skipWhile(separates);
        if (p >= stop)
            return false;
        begin = p;
        while (p < stop && !separates(*p))
            ++p;
        return true;
    }

    /// The next line, [begin, lineEnd): the characters up to the next '\n' or the end of the
    /// text; the scanner moves past the '\n'. False at the end.
    bool line(const char *&begin, const char *&lineEnd)
    {
        if (p >= stop)
            return false;
        begin = p;
        const void *nl = std::memchr(p, '\n', static_cast<size_t>(stop - p));
        lineEnd = nl ? static_cast<const char *>(nl) : stop;
        p = nl ? lineEnd + 1 : stop;
        return true;
    }

    /// A number as the C library reads it in the "C" locale (strtod: leading white space,
    /// hexadecimal, "inf"), for the formats whose files have always been read so; the text
    /// must end in a zero byte. False, without moving, when there is none.
    bool cReal(double &value)
    {
        char *after = nullptr;
        value = strtod_l(p, &after, CLocale::get());
        if (after == p)
            return false;
        p = after;
        return true;
    }

    /// A whole number as strtoll reads it in base 10; false, without moving, when there is
    /// none or it is out of range.
    bool cInteger(long long &value)
    {
        char *after = nullptr;
        errno = 0;
        value = std::strtoll(p, &after, 10);
        if (after == p || errno)
            return false;
        p = after;
        return true;
    }

    /// A whole number as strtol reads it in base 10: `value` is 0 when there is none and
    /// saturates at the range of long when it is out of range, as the header readers have
    /// always taken it. The text must end in a zero byte. False, without moving, when there
    /// is no number.
    bool cLong(long &value)
    {
        char *after = nullptr;
        value = std::strtol(p, &after, 10);
        if (after == p)
            return false;
        p = after;
        return true;
    }

private:
    const char *p;
    const char *stop;
};

#endif
