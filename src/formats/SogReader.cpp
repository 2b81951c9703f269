#include "formats/SogReader.h"

#include "formats/ReadRefusal.h"
#include "formats/SplatFilter.h"
#include "formats/StreamedSog.h"
#include "formats/WholeFile.h"
#include "math/Messages.h"
#include "math/Parallel.h"

#include <nlohmann/json.hpp>
#include <webp/decode.h>
#include <zip.h>

#include <sys/stat.h>

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr QuietRefusal refuse{"SOG: "};
// A lossless WebP of one colour holds a great many pixels in a few bytes; a scene whose
// images hold fewer than one byte per this many splats is refused before its arrays exist.
constexpr double kSplatsPerByte = 20000;

using json = nlohmann::json;

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    const uint8_t *at(size_t i) const { return rgba.data() + 4 * i; }
};

// The size the WebP header of `file` gives, refused when it holds fewer than `atLeast` pixels:
// read before anything the splat count sizes is allocated.
Image imageSize(const std::string &bytes, const std::string &file, size_t atLeast)
{
    Image im;
    if (!WebPGetInfo(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), &im.width, &im.height))
        refuse(file + " is not a WebP image");
    if (static_cast<size_t>(im.width) * static_cast<size_t>(im.height) < atLeast)
        refuse(file + " (" + std::to_string(im.width) + " x " + std::to_string(im.height) + ") holds fewer than " +
               std::to_string(atLeast) + " pixels");
    return im;
}

Image decodeImage(const std::string &bytes, const std::string &file, size_t atLeast)
{
    Image im = imageSize(bytes, file, atLeast);
    const auto *data = reinterpret_cast<const uint8_t *>(bytes.data());
    im.rgba.resize(4 * static_cast<size_t>(im.width) * static_cast<size_t>(im.height));
    if (!WebPDecodeRGBAInto(data, bytes.size(), im.rgba.data(), im.rgba.size(), 4 * im.width))
        refuse(file + " does not decode");
    return im;
}

// The member `key` of `o`, or null when `o` is no object or has none (a const json's
// operator[] must not be asked for a missing key).
const json &member(const json &o, const char *key)
{
    static const json none;
    if (!o.is_object())
        return none;
    const auto at = o.find(key);
    return at == o.end() ? none : *at;
}

std::vector<float> floatsOf(const json &v, size_t n, const std::string &what)
{
    if (!v.is_array() || v.size() != n)
        refuse(what + ": " + std::to_string(n) + " numbers expected");
    std::vector<float> out;
    for (const json &x : v) {
        if (!x.is_number())
            refuse(what + ": a value that is not a number");
        out.push_back(x.get<float>());
    }
    return out;
}

std::vector<std::string> filesOf(const json &meta, const char *key, size_t n)
{
    const std::string what = std::string(key) + ".files";
    const json &list = member(member(meta, key), "files");
    if (!list.is_array() || list.size() != n)
        refuse(what + ": " + std::to_string(n) + " file names expected");
    std::vector<std::string> names;
    for (const json &f : list) {
        if (!f.is_string())
            refuse(what + ": a name that is not a string");
        names.push_back(f.get<std::string>());
    }
    return names;
}

std::vector<float> codebookOf(const json &meta, const char *key)
{
    const json &book = member(member(meta, key), "codebook");
    if (book.is_null())
        refuse(std::string(key) + ".codebook missing (version 2 has codebooks)");
    return floatsOf(book, 256, std::string(key) + ".codebook");
}

int degreeOfBands(const json &shN)
{
    if (!shN.contains("bands") || !shN["bands"].is_number_integer())
        refuse("shN.bands missing");
    const int bands = shN["bands"].get<int>();
    if (bands < 1 || bands > 3)
        refuse("shN.bands " + std::to_string(bands) + " (1 to 3)");
    return bands;
}

// A file's bytes, fetched once and kept (the reference lives as long as the reading).
using Fetched = std::function<const std::string &(const std::string &name)>;

// An image decoded ahead of its use, with the refusal it met kept until then.
struct AheadImage {
    Image image;
    std::exception_ptr failed;
    const Image &get() const
    {
        if (failed)
            std::rethrow_exception(failed);
        return image;
    }
};

// Two images decoded side by side, one a core, refused as decoding them one after the other
// would refuse them (the second's refusal is kept in `laterB` when it is given): the files are
// fetched first, on this thread (a bundle's archive is not to be read from two at once).
std::pair<Image, Image> decodeTwo(const Fetched &files, const std::string &a, const std::string &b, size_t atLeastA,
                                  size_t atLeastB, std::exception_ptr *laterB = nullptr)
{
    const std::string &bytesA = files(a), &bytesB = files(b);
    std::pair<Image, Image> images;
    std::exception_ptr failed[2];
    Parallel::run(2, [&](unsigned k) {
        try {
            if (k == 0)
                images.first = decodeImage(bytesA, a, atLeastA);
            else
                images.second = decodeImage(bytesB, b, atLeastB);
        } catch (...) {
            failed[k] = std::current_exception();
        }
    });
    if (failed[0]) // the first image's refusal before the second's
        std::rethrow_exception(failed[0]);
    if (failed[1] && !laterB)
        std::rethrow_exception(failed[1]);
    if (laterB)
        *laterB = failed[1];
    return images;
}

// part(first, last) for the splats [first, last) on both cores. A part that finds a splat it
// refuses gives its index, and the first such splat of all is refused with `reason(i)`, as
// a reading one splat after the other would refuse it.
template <class Part, class Reason> void splatsOnBothCores(size_t n, const Part &part, const Reason &reason)
{
    size_t bad[2] = {n, n};
    Parallel::split(n, n < 8192 ? 1 : 2, [&](unsigned k, size_t first, size_t last) { bad[k] = part(first, last); });
    const size_t first = std::min(bad[0], bad[1]);
    if (first < n)
        refuse(reason(first));
}

// The images two at a time (their RGBA pixels take 4 bytes a splat each), so that at most two
// are held at once; with SH terms, their labels are decoded beside the rotations, into `labels`.
void decodeSplats(const json &meta, const Fetched &files, SplatScene &s, AheadImage *labels)
{
    const size_t n = s.count;
    const std::vector<std::string> means = filesOf(meta, "means", 2), scales = filesOf(meta, "scales", 1),
                                   quats = filesOf(meta, "quats", 1), sh0 = filesOf(meta, "sh0", 1);
    const std::vector<float> mins = floatsOf(member(member(meta, "means"), "mins"), 3, "means.mins"),
                             maxs = floatsOf(member(member(meta, "means"), "maxs"), 3, "means.maxs");
    const std::vector<float> scaleBook = codebookOf(meta, "scales"), colourBook = codebookOf(meta, "sh0");
    const auto none = [](size_t) { return std::string(); };
    {
        const auto images = decodeTwo(files, means[0], means[1], n, n);
        const Image &low = images.first, &high = images.second;
        const auto position = [&](int k, uint32_t code) {
            const float v = mins[k] + (maxs[k] - mins[k]) * (static_cast<float>(code) / 65535.f);
            return std::copysign(std::expm1(std::fabs(v)), v);
        };
        // A large scene's coordinates through a table of every code's (one axis has 65,536).
        std::vector<float> table(n > 65536 ? 3 * 65536 : 0);
        Parallel::split(table.size(), table.empty() ? 1 : 2, [&](unsigned, size_t first, size_t last) {
            for (size_t e = first; e < last; ++e)
                table[e] = position(static_cast<int>(e >> 16), e & 65535u);
        });
        splatsOnBothCores(n, [&](size_t first, size_t last) {
            for (size_t i = first; i < last; ++i)
                for (int k = 0; k < 3; ++k) {
                    const uint32_t code = static_cast<uint32_t>(high.at(i)[k] << 8 | low.at(i)[k]);
                    s.position[3 * i + k] = table.empty() ? position(k, code) : table[(static_cast<size_t>(k) << 16) | code];
                }
            return n;
        }, none);
    }
    {
        float scaleOf[256];
        for (size_t b = 0; b < 256; ++b)
            scaleOf[b] = std::exp(scaleBook[b]);
        const auto images = decodeTwo(files, scales[0], sh0[0], n, n);
        const Image &sc = images.first, &c = images.second;
        splatsOnBothCores(n, [&](size_t first, size_t last) {
            for (size_t i = first; i < last; ++i) {
                for (int k = 0; k < 3; ++k) {
                    s.scale[3 * i + k] = scaleOf[sc.at(i)[k]];
                    s.dc[3 * i + k] = colourBook[c.at(i)[k]];
                }
                s.opacity[i] = static_cast<float>(c.at(i)[3]) / 255.f;
            }
            return n;
        }, none);
    }
    Image q;
    if (labels) {
        const std::string name = filesOf(json{{"shN", member(meta, "shN")}}, "shN", 2)[1];
        auto images = decodeTwo(files, quats[0], name, n, n, &labels->failed);
        q = std::move(images.first);
        labels->image = std::move(images.second);
    } else {
        q = decodeImage(files(quats[0]), quats[0], n);
    }
    splatsOnBothCores(n, [&](size_t first, size_t last) {
        for (size_t i = first; i < last; ++i) {
            const uint8_t *p = q.at(i);
            if (p[3] < 252)
                return i;
            const int largest = p[3] - 252;
            float small[3], sum = 0;
            for (int k = 0; k < 3; ++k) {
                small[k] = (static_cast<float>(p[k]) / 255.f - 0.5f) * static_cast<float>(M_SQRT2);
                sum += small[k] * small[k];
            }
            float *r = &s.rotation[4 * i];
            for (int k = 0, j = 0; k < 4; ++k)
                r[k] = k == largest ? std::sqrt(std::max(0.f, 1 - sum)) : small[j++];
            SplatFilter::normaliseRotation(r);
        }
        return n;
    }, [&](size_t i) { return "splat " + std::to_string(i) + ": quaternion tag " + std::to_string(q.at(i)[3]) + " (252 to 255)"; });
}

void decodePalette(const json &shN, const Fetched &files, SplatScene &s, const AheadImage &labelsAhead)
{
    const std::vector<std::string> names = filesOf(json{{"shN", shN}}, "shN", 2);
    if (!shN.contains("count") || !shN["count"].is_number_integer() || shN["count"].get<long long>() < 1 ||
        shN["count"].get<long long>() > 65536)
        refuse("shN.count missing or beyond 1 to 65536");
    const size_t entries = shN["count"].get<size_t>();
    const std::vector<float> book = codebookOf(json{{"shN", shN}}, "shN");
    const int coeffs = s.shCoefficients() - 1;
    const Image &labels = labelsAhead.get();
    const Image centroids = decodeImage(files(names[0]), names[0], 0);
    // 64 entries a row, each `coeffs` pixels wide.
    const size_t rows = (entries + 63) / 64;
    if (static_cast<size_t>(centroids.width) < 64 * static_cast<size_t>(coeffs) || static_cast<size_t>(centroids.height) < rows)
        refuse(names[0] + " (" + std::to_string(centroids.width) + " x " + std::to_string(centroids.height) +
               ") is too small for " + std::to_string(entries) + " entries of " + std::to_string(coeffs) + " coefficients");
    const auto labelOf = [&](size_t i) { return static_cast<size_t>(labels.at(i)[0] | labels.at(i)[1] << 8); };
    splatsOnBothCores(s.count, [&](size_t first, size_t last) {
        for (size_t i = first; i < last; ++i) {
            const size_t label = labelOf(i);
            if (label >= entries)
                return i;
            const size_t x0 = (label % 64) * static_cast<size_t>(coeffs), y = label / 64;
            float rest[45];
            for (int k = 0; k < coeffs; ++k) {
                const uint8_t *px = centroids.at(y * static_cast<size_t>(centroids.width) + x0 + static_cast<size_t>(k));
                for (int ch = 0; ch < 3; ++ch)
                    rest[3 * k + ch] = book[px[ch]];
            }
            s.setRest(i, rest);
        }
        return s.count;
    }, [&](size_t i) {
        return "splat " + std::to_string(i) + ": SH label " + std::to_string(labelOf(i)) + " beyond the " +
               std::to_string(entries) + " entries";
    });
}

} // namespace

bool SogReader::trainedAntialiased(const nlohmann::json &meta)
{
    // "model": "antialiased" as the format documents it; the first version-2 description
    // named it "antialias": true instead.
    const json &model = member(meta, "model"), &flag = member(meta, "antialias");
    return (model.is_string() && model.get<std::string>() == "antialiased") || (flag.is_boolean() && flag.get<bool>());
}

SplatScene SogReader::decode(const std::string &metaText, const Files &fetch)
{
    // Each image is fetched once: its size bounds the count before it is decoded.
    std::map<std::string, std::string> cache;
    const Fetched files = [&cache, &fetch](const std::string &f) -> const std::string & {
        auto at = cache.find(f);
        if (at == cache.end())
            at = cache.emplace(f, fetch(f)).first;
        return at->second;
    };
    json meta;
    try {
        meta = json::parse(metaText);
    } catch (const json::exception &e) {
        refuse(std::string("meta.json is not JSON (") + e.what() + ")");
    }
    if (!meta.is_object() || !meta.contains("count") || !meta["count"].is_number_integer())
        refuse("meta.json has no count");
    const int version = meta.contains("version") && meta["version"].is_number_integer() ? meta["version"].get<int>() : 1;
    if (version != 2)
        refuse("version " + std::to_string(version) + " (2 is read)");
    const long long count = meta["count"].get<long long>();
    const bool sh = meta.contains("shN") && meta["shN"].is_object();
    try {
        // The images of one pixel a splat must hold the count, by their headers and their bytes
        // (a lossless WebP of one colour holds a great many pixels in a few bytes).
        std::vector<std::string> perSplat;
        for (const char *key : {"means", "scales", "quats", "sh0"})
            for (const std::string &f : filesOf(meta, key, key == std::string("means") ? 2 : 1))
                perSplat.push_back(f);
        if (sh)
            perSplat.push_back(filesOf(json{{"shN", meta["shN"]}}, "shN", 2)[1]);
        double bytes = 0;
        for (const std::string &f : perSplat)
            bytes += static_cast<double>(files(f).size());
        if (count < 0 || static_cast<double>(count) > kSplatsPerByte * bytes)
            refuse(std::to_string(count) + " splats do not fit in the images");
        for (const std::string &f : perSplat)
            imageSize(files(f), f, static_cast<size_t>(count));
        SplatScene s;
        s.resize(static_cast<size_t>(count), sh ? degreeOfBands(meta["shN"]) : 0);
        s.antialiased = trainedAntialiased(meta);
        AheadImage labels;
        decodeSplats(meta, files, s, sh ? &labels : nullptr);
        if (sh)
            decodePalette(meta["shN"], files, s, labels);
        return s;
    } catch (const json::exception &e) {
        refuse(std::string("meta.json: ") + e.what());
    }
}

SplatScene SogReader::read(const std::string &metaText, const Files &files, const std::string &name)
{
    SplatScene s = decode(metaText, files);
    SplatFilter::apply(s, name);
    return s;
}

SogReader::Source SogReader::folder(const std::string &folder, bool subfolders)
{
    const auto path = [folder, subfolders](const std::string &name) {
        if (!safeName(name, subfolders))
            refuse("\"" + name + "\" is not a file " + (subfolders ? "below" : "beside") + " the scene's index");
        return folder + name;
    };
    Source s;
    s.read = [path](const std::string &name) {
        std::vector<char> bytes;
        if (!readWholeFile(path(name).c_str(), bytes))
            refuse("cannot read " + path(name));
        return std::string(bytes.begin(), bytes.end());
    };
    s.has = [path, subfolders](const std::string &name) {
        return safeName(name, subfolders) && access(path(name).c_str(), R_OK) == 0;
    };
    return s;
}

bool SogReader::safeName(const std::string &name, bool subfolders)
{
    if (name.empty() || name[0] == '/' || name.find('\\') != std::string::npos || name.find(':') != std::string::npos)
        return false;
    if (!subfolders)
        return name.find('/') == std::string::npos && name != "..";
    for (size_t from = 0; from <= name.size();) {
        const size_t to = std::min(name.find('/', from), name.size());
        const std::string part = name.substr(from, to - from);
        if (part.empty() || part == "." || part == "..")
            return false;
        from = to + 1;
    }
    return true;
}

namespace {

struct ZipCloser {
    void operator()(zip_t *z) const { zip_discard(z); }
};

bool endsWith(const std::string &s, const char *tail)
{
    const size_t m = std::strlen(tail);
    return s.size() >= m && strcasecmp(s.c_str() + s.size() - m, tail) == 0;
}

// The files of a zip of `archiveBytes` bytes by name (the source keeps the archive).
SogReader::Source zipSource(zip_t *raw, double archiveBytes)
{
    std::shared_ptr<zip_t> z(raw, ZipCloser());
    SogReader::Source s;
    s.read = [z, archiveBytes](const std::string &name) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat(z.get(), name.c_str(), 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
            refuse("the bundle has no " + name);
        // Deflate expands by at most 1032 times, and a member's compressed bytes lie within the
        // archive whatever its directory says.
        double packed = archiveBytes;
        if (st.valid & ZIP_STAT_COMP_SIZE)
            packed = std::min(packed, static_cast<double>(st.comp_size));
        if (static_cast<double>(st.size) > 1032.0 * packed + 1024)
            refuse(name + " claims more bytes than it can hold");
        std::unique_ptr<zip_file_t, int (*)(zip_file_t *)> f(zip_fopen(z.get(), name.c_str(), 0), zip_fclose);
        if (!f)
            refuse(name + " cannot be opened in the bundle");
        std::string bytes(static_cast<size_t>(st.size), '\0');
        if (zip_fread(f.get(), &bytes[0], st.size) != static_cast<zip_int64_t>(st.size))
            refuse(name + " is cut short in the bundle");
        return bytes;
    };
    s.has = [z](const std::string &name) { return zip_name_locate(z.get(), name.c_str(), 0) >= 0; };
    return s;
}

} // namespace

SogReader::Source SogReader::bundle(const char *data, size_t size)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_buffer_create(data, size, 0, &error);
    if (!source)
        refuse("the bundle cannot be read");
    zip_t *z = zip_open_from_source(source, ZIP_RDONLY, &error);
    zip_error_fini(&error);
    if (!z) {
        zip_source_free(source);
        refuse("not a zip bundle");
    }
    return zipSource(z, static_cast<double>(size));
}

SplatScene SogReader::readBundle(const char *data, size_t size, const std::string &name)
{
    const Source files = bundle(data, size);
    return read(files.read("meta.json"), files.read, name);
}

SplatScene SogReader::read(const char *path)
{
    const std::string p = path;
    if (endsWith(p, "lod-meta.json"))
        return StreamedSog::read(path);
    if (endsWith(p, ".json")) {
        const std::vector<char> meta = refuse.wholeFile(path);
        return read(std::string(meta.begin(), meta.end()), folder(folderOf(p), false).read, p);
    }
    int error = 0;
    struct stat info;
    zip_t *z = stat(path, &info) == 0 ? zip_open(path, ZIP_RDONLY, &error) : nullptr;
    if (!z)
        refuse(std::string("cannot open the bundle ") + path);
    const Source files = zipSource(z, static_cast<double>(info.st_size));
    return read(files.read("meta.json"), files.read, p);
}

std::string SogReader::folderOf(const std::string &path)
{
    return path.find('/') == std::string::npos ? "" : path.substr(0, path.rfind('/') + 1);
}
