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

/// The decoder of `item`; raises std::runtime_error for an item or version it does not know.
std::unique_ptr<LazLayeredItem> makeLayeredItem(const LazItem &item);

#endif
