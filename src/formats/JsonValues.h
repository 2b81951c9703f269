#ifndef VELMORA_JSONVALUES_H
#define VELMORA_JSONVALUES_H

// Values of the JSON camera files of other programs, read through nlohmann's library. Some
// writers (Meshroom's property trees) store every number as a string: both forms are read.

#include "formats/TextScanner.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <exception>
#include <fstream>
#include <string>

namespace jsonvalues {

using Json = nlohmann::json;

/// A finite number given as a JSON number or as a string holding exactly one; false for
/// anything else (null, an object, "abc", "1e999").
inline bool number(const Json &value, double &out)
{
    double v;
    if (value.is_number()) {
        v = value.get<double>();
    } else if (value.is_string()) {
        const std::string &s = value.get_ref<const std::string &>();
        TextScanner scan(s.data(), s.data() + s.size());
        if (!scan.number(v))
            return false;
        scan.skipSpace();
        if (!scan.atEnd())
            return false;
    } else {
        return false;
    }
    if (!std::isfinite(v))
        return false;
    out = v;
    return true;
}

/// A whole number in 0 .. 2^32 - 1 (the identifiers of views, poses and intrinsics),
/// as a number or a string.
inline bool identifier(const Json &value, uint32_t &out)
{
    double v;
    if (!number(value, v) || v < 0 || v > 4294967295.0 || v != std::floor(v))
        return false;
    out = static_cast<uint32_t>(v);
    return true;
}

/// `object[key]` when `object` is an object holding `key`, else null.
inline const Json *member(const Json &object, const char *key)
{
    if (!object.is_object())
        return nullptr;
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

/// `n` numbers of the array `value` into `out`; false unless it is an array of exactly `n`.
inline bool numbers(const Json *value, double *out, size_t n)
{
    if (!value || !value->is_array() || value->size() != n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (!number((*value)[i], out[i]))
            return false;
    return true;
}

/// The whole text of the file `path`; false when it cannot be read or is larger than
/// `limit` bytes (a camera file of that size is not one).
inline bool readText(const std::string &path, std::string &text, std::streamoff limit = std::streamoff(1) << 30)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || size > limit)
        return false;
    in.seekg(0);
    text.assign(static_cast<size_t>(size), '\0');
    in.read(&text[0], size);
    return in.gcount() == size;
}

/// `text` parsed into `out`; false with `why` ("not a JSON file: " and the parser's position
/// and reason) when it is no JSON text.
inline bool parse(const std::string &text, Json &out, std::string &why)
{
    try {
        out = Json::parse(text);
        return true;
    } catch (const std::exception &e) {
        // nlohmann's texts start with the exception's id ("[json.exception.parse_error.101] "),
        // which tells a user nothing; the position and the reason follow it.
        why = e.what();
        if (why.rfind("[json.exception.", 0) == 0 && why.find("] ") != std::string::npos)
            why.erase(0, why.find("] ") + 2);
        why = "not a JSON file: " + why;
        return false;
    }
}

/// Why a file named ".json" that none of the readers took is not read: the parser's reason
/// when it is damaged or cut short, else that it is of no kind the viewer reads.
inline std::string whyNotRead(const std::string &path)
{
    std::string text, why;
    Json ignored;
    if (!readText(path, text))
        return "can't read file";
    if (!parse(text, ignored, why))
        return why;
    return "a JSON file of no kind the viewer reads (it reads transforms.json and cameras.json camera files, "
           "Meshroom scenes, ept.json and metadata.json clouds, meta.json splat scenes)";
}

/// True when `path` ends in `extension` (".json"), in either case.
inline bool hasExtension(const std::string &path, const char *extension)
{
    const std::string e = extension;
    if (path.size() < e.size())
        return false;
    for (size_t i = 0; i < e.size(); ++i) {
        const char c = path[path.size() - e.size() + i];
        if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != e[i])
            return false;
    }
    return true;
}

} // namespace jsonvalues

#endif
