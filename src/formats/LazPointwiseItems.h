#ifndef VELMORA_LAZPOINTWISEITEMS_H
#define VELMORA_LAZPOINTWISEITEMS_H

#include "formats/ArithmeticDecoder.h"
#include "formats/LazChunkDecoder.h"

#include <cstddef>
#include <memory>
#include <vector>

/// The decoder of one item of the pointwise LASzip compressor (point formats 0 to 5, items of
/// versions 1 and 2): each
/// point's item is predicted from the same item of the point before it.
struct LazChunkDecoder::Item {
    explicit Item(unsigned n) : bytes(n) {}
    virtual ~Item() = default;
    unsigned size() const { return bytes; }
    /// Starts a chunk, `raw` its first item: all back to the first state but the symbol models,
    /// which the chunk decoder resets.
    virtual void first(const unsigned char *raw) = 0;
    /// Decodes the next point's item into `out` (size() bytes).
    virtual void next(ArithmeticDecoder &dec, unsigned char *out) = 0;

private:
    unsigned bytes;
};

/// Decodes points `from` to `to` of a chunk (from 1 on: the first is stored as it is), point
/// `from` into `out`, when `items` are those of point formats 0 to 3 in version 2, in one loop
/// without a call per item, until point `to` or one after which `dec` has read past the chunk.
/// Returns the index past the last point decoded: `from` (none) for other items.
size_t decodeCommonItems(const std::vector<std::unique_ptr<LazChunkDecoder::Item>> &items,
                         ArithmeticDecoder &dec, unsigned char *out, size_t from, size_t to, unsigned length);

/// The decoder of `item`; raises std::runtime_error for an item or version it does not know.
std::unique_ptr<LazChunkDecoder::Item> makePointwiseItem(const LazItem &item);

#endif
