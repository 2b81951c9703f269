#ifndef VELMORA_LAZLAYEREDITEMS_H
#define VELMORA_LAZLAYEREDITEMS_H

#include "formats/LazChunkDecoder.h"

#include <cstddef>
#include <memory>
#include <vector>

/// The bytes of one layer of a chunk of the layered LASzip compressor (point formats 6 to
/// 10): each field group is coded in a stream of its own, so that a reader could skip it.
struct LazLayer {
    const unsigned char *data = nullptr;
    size_t size = 0;
};

/// The decoder of one item of the layered compressor. Each item keeps four sets of models,
/// one for each scanner channel; the point item says which channel each point comes from.
class LazLayeredItem {
public:
    explicit LazLayeredItem(unsigned n) : bytes(n) {}
    virtual ~LazLayeredItem() = default;
    unsigned size() const { return bytes; }
    /// How many layers (and so layer sizes in the chunk) the item has.
    virtual unsigned layers() const = 0;
    /// Starts a chunk: `raw` the chunk's first item, `layer` the item's layers in order (the
    /// symbol models are the chunk decoder's to reset).
    virtual void first(const unsigned char *raw, unsigned channel, const LazLayer *layer) = 0;
    /// The next point's item into `out`; `channel` is the point's scanner channel.
    virtual void next(unsigned char *out, unsigned channel) = 0;
    /// The channel of the point just decoded (only the point item knows it).
    virtual unsigned channel() const { return 0; }
    /// True once a layer's decoder has read past its bytes.
    virtual bool overrun() const = 0;

private:
    unsigned bytes;
};

/// Decodes points `from` to `to` of a chunk (from 1 on; its layers started by the items'
/// first()), point `from` into `out`, when `items` are those of point formats 6 to 8, with or
/// without extra bytes, in one loop without a call per item, until point `to` or one after
/// which a layer's decoder has read past its bytes. Returns the index past the last point
/// decoded: `from` (none) for other items.
size_t decodeCommonLayers(const std::vector<std::unique_ptr<LazLayeredItem>> &items, unsigned char *out,
                          size_t from, size_t to, unsigned length);

/// The decoder of `item`; raises std::runtime_error for an item or version it does not know.
std::unique_ptr<LazLayeredItem> makeLayeredItem(const LazItem &item);

#endif
