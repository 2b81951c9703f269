#ifndef VELMORA_LAZCHUNKDECODER_H
#define VELMORA_LAZCHUNKDECODER_H

#include "formats/ArithmeticDecoder.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class LazLayeredItem;
struct LazLayer;

/// One field group of a LASzip point record, as the "laszip encoded" record lists them.
struct LazItem {
    enum Type : uint16_t {
        Byte = 0,
        Point10 = 6,
        GpsTime11 = 7,
        Rgb12 = 8,
        Wavepacket13 = 9,
        Point14 = 10,
        Rgb14 = 11,
        RgbNir14 = 12,
        Wavepacket14 = 13,
        Byte14 = 14
    };
    uint16_t type, size, version;
};

/// What the "laszip encoded" variable-length record says about the points.
struct LazLayout {
    enum Compressor : uint16_t { None = 0, Pointwise = 1, PointwiseChunked = 2, LayeredChunked = 3 };
    uint16_t compressor = None;
    /// Points in each chunk but the last; kVariableChunks when the chunk table gives each count.
    uint32_t chunkSize = 0;
    std::vector<LazItem> items;
    static constexpr uint32_t kVariableChunks = 0xFFFFFFFFu;

    /// Parses the record's data (`size` bytes); raises std::runtime_error with a plain text
    /// (no file name) when it is short, names an item this decoder does not know, or when the
    /// items' sizes do not add up to `recordLength`.
    static LazLayout parse(const unsigned char *data, size_t size, unsigned recordLength);
};

/// Decodes whole chunks of LASzip points into uncompressed LAS records. One object keeps the
/// models of one chunk at a time, so each thread decoding chunks needs its own. The symbol
/// models a chunk takes into use are listed, and only those are reset for the next chunk.
class LazChunkDecoder {
public:
    explicit LazChunkDecoder(const LazLayout &layout);
    ~LazChunkDecoder();
    LazChunkDecoder(const LazChunkDecoder &) = delete;
    LazChunkDecoder &operator=(const LazChunkDecoder &) = delete;

    /// Decodes `points` records of `recordLength()` bytes from the chunk's `size` bytes into
    /// `out`. Raises std::runtime_error (a plain text) when the chunk ends before its points do.
    void decode(const unsigned char *chunk, size_t size, size_t points, unsigned char *out)
    {
        begin(chunk, size, points);
        next(points, out);
    }
    /// The same in steps, for a chunk too large to decode at once: starts on the chunk (whose
    /// bytes stay where they are until its points are decoded) ...
    void begin(const unsigned char *chunk, size_t size, size_t points);
    /// ... and decodes its next `n` points into `out`; raises std::runtime_error for more
    /// points than are left.
    void next(size_t n, unsigned char *out);
    unsigned recordLength() const { return length; }

    /// The smallest number of bytes a chunk of `points` points can take, and the largest
    /// number of points `bytes` bytes can hold (the coder spends at least 1/4096 of a byte on
    /// each point after the first): bounds for counts read from a file.
    size_t leastBytes() const { return length; }
    static uint64_t mostPoints(uint64_t bytes) { return 1 + bytes * 4096; }

    struct Item; // one item's decoder, defined beside the decoding

private:
    void beginLayered();
    // Points `from` to `to`, from 1 on, point `from` into `out`.
    void decodePointwise(size_t from, size_t to, unsigned char *out);
    void decodeLayered(size_t from, size_t to, unsigned char *out);
    LazLayout layout;
    const unsigned char *begun = nullptr; // the chunk's bytes
    size_t chunkSize = 0, chunkPoints = 0, done = 0;
    ArithmeticDecoder dec; // the pointwise compressor's coder
    unsigned length = 0;
    std::vector<std::unique_ptr<Item>> items;
    std::vector<std::unique_ptr<LazLayeredItem>> layered;
    std::vector<LazLayer> layers; // of the chunk being decoded, kept for the next one
    ArithmeticModelsInUse inUse;
};

#endif
