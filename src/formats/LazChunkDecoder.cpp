#include "formats/LazChunkDecoder.h"

#include "formats/ArithmeticDecoder.h"
#include "formats/IntegerDecompressor.h"
#include "formats/LazLayeredItems.h"
#include "formats/LazPointwiseItems.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace {

uint16_t u16(const unsigned char *b) { return static_cast<uint16_t>(b[0] | b[1] << 8); }
uint32_t u32(const unsigned char *b)
{
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
           static_cast<uint32_t>(b[3]) << 24;
}

[[noreturn]] void fail(const std::string &text) { throw std::runtime_error(text); }
// Point `i` (from 0) of a chunk's `points` read past the chunk's bytes.
[[noreturn]] void failInside(size_t i, size_t points)
{
    fail("a chunk ends inside its point " + std::to_string(i + 1) + " of " + std::to_string(points));
}

// The fixed sizes of the items that have one.
unsigned itemSize(uint16_t type)
{
    switch (type) {
    case LazItem::Point10: return 20;
    case LazItem::GpsTime11: return 8;
    case LazItem::Rgb12: return 6;
    case LazItem::Wavepacket13: return 29;
    case LazItem::Point14: return 30;
    case LazItem::Rgb14: return 6;
    case LazItem::RgbNir14: return 8;
    case LazItem::Wavepacket14: return 29;
    default: return 0;
    }
}

} // namespace

LazLayout LazLayout::parse(const unsigned char *d, size_t size, unsigned recordLength)
{
    if (size < 34)
        fail("the LASzip record is " + std::to_string(size) + " bytes, shorter than its 34-byte header");
    LazLayout l;
    l.compressor = u16(d);
    if (u16(d + 2) != 0)
        fail("LASzip coder " + std::to_string(u16(d + 2)) + ", only the arithmetic coder (0) is read");
    l.chunkSize = u32(d + 12);
    const unsigned n = u16(d + 32);
    if (size < 34 + 6 * size_t(n))
        fail("the LASzip record lists " + std::to_string(n) + " items but holds " + std::to_string((size - 34) / 6));
    if (l.compressor > LayeredChunked)
        fail("LASzip compressor " + std::to_string(l.compressor) + " is not known");
    unsigned total = 0;
    for (unsigned i = 0; i < n; ++i) {
        const unsigned char *e = d + 34 + 6 * i;
        LazItem item{u16(e), u16(e + 2), u16(e + 4)};
        const unsigned fixed = itemSize(item.type);
        if (item.type != LazItem::Byte && item.type != LazItem::Byte14 && fixed == 0)
            fail("LASzip item type " + std::to_string(item.type) + " is not known");
        if (fixed && item.size != fixed)
            fail("LASzip item type " + std::to_string(item.type) + " of " + std::to_string(item.size) +
                 " bytes, not " + std::to_string(fixed));
        if (item.size == 0)
            fail("LASzip item of no bytes");
        total += item.size;
        l.items.push_back(item);
    }
    if (l.items.empty())
        fail("the LASzip record lists no item");
    if (total != recordLength)
        fail("the LASzip items make records of " + std::to_string(total) + " bytes, the header says " +
             std::to_string(recordLength));
    if (l.chunkSize == 0 && l.compressor != Pointwise)
        fail("LASzip chunks of no point");
    return l;
}

LazChunkDecoder::LazChunkDecoder(const LazLayout &l) : layout(l)
{
    for (const LazItem &item : l.items)
        length += item.size;
    if (l.compressor == LazLayout::LayeredChunked) {
        for (const LazItem &item : l.items)
            layered.push_back(makeLayeredItem(item));
        if (l.items[0].type != LazItem::Point14)
            fail("the layered LASzip compressor needs the point item first");
        return;
    }
    for (const LazItem &item : l.items)
        items.push_back(makePointwiseItem(item));
}

LazChunkDecoder::~LazChunkDecoder() = default;

void LazChunkDecoder::begin(const unsigned char *chunk, size_t size, size_t points)
{
    begun = chunk;
    chunkSize = size;
    chunkPoints = points;
    done = 0;
    if (points == 0)
        return;
    if (size < length)
        fail("a chunk of " + std::to_string(size) + " bytes is shorter than its first point");
    // The items reset everything but their symbol models: those the last chunk used are reset
    // here, and those this one takes into use are listed as it goes.
    inUse.resetAll();
    ArithmeticModelsInUse::Scope scope(inUse);
    if (layout.compressor == LazLayout::LayeredChunked) {
        beginLayered();
        return;
    }
    // The first point is stored as it is; the coder starts after it.
    const unsigned char *raw = chunk;
    for (const std::unique_ptr<Item> &item : items) {
        item->first(raw);
        raw += item->size();
    }
    dec.start(chunk + length, chunk + size);
}

void LazChunkDecoder::next(size_t n, unsigned char *out)
{
    if (n > chunkPoints - done)
        fail("no " + std::to_string(n) + " points are left in the chunk");
    if (n == 0)
        return;
    ArithmeticModelsInUse::Scope scope(inUse);
    size_t from = done;
    if (from == 0) {
        std::memcpy(out, begun, length);
        out += length;
        ++from;
    }
    if (from < done + n) {
        if (layout.compressor == LazLayout::LayeredChunked)
            decodeLayered(from, done + n, out);
        else
            decodePointwise(from, done + n, out);
    }
    done += n;
}

void LazChunkDecoder::decodePointwise(size_t from, size_t to, unsigned char *out)
{
    // The common item lists in one loop, which stops after the point that read past the chunk.
    size_t i = decodeCommonItems(items, dec, out, from, to, length);
    if (i > from && dec.overrun())
        failInside(i - 1, chunkPoints);
    for (; i < to; ++i) {
        unsigned char *p = out + (i - from) * length;
        for (const std::unique_ptr<Item> &item : items) {
            item->next(dec, p);
            p += item->size();
        }
        // Checked per point so that a cut chunk costs one point's work, not the chunk's.
        if (dec.overrun())
            failInside(i, chunkPoints);
    }
}

void LazChunkDecoder::beginLayered()
{
    const unsigned char *at = begun + length, *end = begun + chunkSize;
    // A chunk of one point may end with it.
    if (chunkPoints == 1 && end - at < 4)
        return;
    if (end - at < 4)
        fail("a chunk ends before its point count");
    if (u32(at) != chunkPoints)
        fail("a chunk holds " + std::to_string(u32(at)) + " points, the chunk table says " +
             std::to_string(chunkPoints));
    at += 4;
    layers.clear();
    for (const std::unique_ptr<LazLayeredItem> &item : layered)
        for (unsigned k = 0; k < item->layers(); ++k) {
            if (end - at < 4)
                fail("a chunk ends inside its layer sizes");
            layers.push_back({nullptr, u32(at)});
            at += 4;
        }
    for (LazLayer &l : layers) {
        if (l.size > static_cast<size_t>(end - at))
            fail("a layer of " + std::to_string(l.size) + " bytes runs past its chunk");
        l.data = at;
        at += l.size;
    }
    const LazLayer *layer = layers.data();
    const unsigned char *raw = begun;
    for (const std::unique_ptr<LazLayeredItem> &item : layered) {
        item->first(raw, layered[0]->channel(), layer);
        raw += item->size();
        layer += item->layers();
    }
}

void LazChunkDecoder::decodeLayered(size_t from, size_t to, unsigned char *out)
{
    // The point item first: it says the channel whose models the other items use.
    size_t i = decodeCommonLayers(layered, out, from, to, length);
    if (i > from) {
        bool past = false;
        for (const std::unique_ptr<LazLayeredItem> &item : layered)
            past |= item->overrun();
        if (past)
            failInside(i - 1, chunkPoints);
    }
    LazLayeredItem &point = *layered[0];
    for (; i < to; ++i) {
        unsigned char *p = out + (i - from) * length;
        point.next(p, 0);
        const unsigned channel = point.channel();
        bool past = point.overrun();
        p += point.size();
        for (size_t k = 1; k < layered.size(); ++k) {
            layered[k]->next(p, channel);
            past |= layered[k]->overrun();
            p += layered[k]->size();
        }
        if (past)
            failInside(i, chunkPoints);
    }
}
