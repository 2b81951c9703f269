#ifndef VELMORA_LAZPOINTWISEITEMS_H
#define VELMORA_LAZPOINTWISEITEMS_H

#include "formats/ArithmeticDecoder.h"
#include "formats/LazChunkDecoder.h"

#include <memory>

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

/// The decoder of `item`; raises std::runtime_error for an item or version it does not know.
std::unique_ptr<LazChunkDecoder::Item> makePointwiseItem(const LazItem &item);

#endif
