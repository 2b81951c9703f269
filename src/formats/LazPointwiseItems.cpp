#include "formats/LazPointwiseItems.h"

#include "formats/ArithmeticDecoder.h"
#include "formats/IntegerDecompressor.h"
#include "formats/LazCommonItems.h"
#include "formats/LazFields.h"
#include "formats/LazMedian.h"
#include "formats/LazWavepacket.h"

#include <array>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

using lazfields::i32;
using lazfields::put16;
using lazfields::put32;
using lazfields::u16;

// Which of the 16 intensity and coordinate predictions a return belongs to, by
// [number of returns][return number]: single returns, first, last and middle ones differ.
constexpr unsigned char kReturnMap[8][8] = {
    {15, 14, 13, 12, 11, 10, 9, 8}, {14, 0, 1, 3, 6, 10, 10, 9},   {13, 1, 2, 4, 7, 11, 11, 10},
    {12, 3, 4, 5, 8, 12, 12, 11},   {11, 6, 7, 8, 9, 13, 13, 12},  {10, 10, 11, 12, 13, 14, 14, 13},
    {9, 10, 11, 12, 13, 14, 15, 14}, {8, 9, 10, 11, 12, 13, 14, 15}};
// Models of a byte picked by the byte's last value, made when first needed: most of the 256
// never are.
using ByteModels = std::array<std::unique_ptr<ArithmeticSymbolModel>, 256>;
// How far a return is from the last one: the height prediction's slot.
constexpr unsigned returnLevel(unsigned n, unsigned r) { return n > r ? n - r : r - n; }

class Point10 final : public LazChunkDecoder::Item {
public:
    Point10()
        : Item(20), changed(64), icIntensity(16, 4), scanAngle{ArithmeticSymbolModel(256), ArithmeticSymbolModel(256)},
          icSource(16), icDx(32, 2), icDy(32, 22), icZ(32, 20)
    {
    }
    void first(const unsigned char *raw) override
    {
        for (IntegerDecompressor *ic : {&icIntensity, &icSource, &icDx, &icDy, &icZ})
            ic->restart();
        // The first point's intensity is not a prediction for the second.
        for (int k = 0; k < 16; ++k) {
            lastIntensity[k] = 0;
            dxMedian[k].reset();
            dyMedian[k].reset();
        }
        for (int32_t &h : lastHeight)
            h = 0;
        x = i32(raw);
        y = i32(raw + 4);
        returns = raw[14];
        classByte = raw[15];
        angle = raw[16];
        user = raw[17];
        source = u16(raw + 18);
    }
    void next(ArithmeticDecoder &decoder, unsigned char *out) override { step(decoder, out); }
    LAZ_DECODE_STEP void step(ArithmeticDecoder &decoder, unsigned char *out)
    {
        // The coder's state in registers while the point is decoded: in memory, each step
        // would wait for the one before to store it.
        ArithmeticDecoder dec = decoder;
        const unsigned values = dec.decodeSymbol(changed);
        if (values & 32)
            returns = static_cast<unsigned char>(dec.decodeSymbol(lazyModel(bitByte, returns, 256)));
        const unsigned r = returns & 7, n = (returns >> 3) & 7;
        const unsigned m = kReturnMap[n][r], l = returnLevel(n, r);
        if (values & 16)
            lastIntensity[m] = static_cast<uint16_t>(icIntensity.decompress(dec, lastIntensity[m], m < 3 ? m : 3));
        if (values & 8)
            classByte = static_cast<unsigned char>(dec.decodeSymbol(lazyModel(classification, classByte, 256)));
        if (values & 4)
            angle = static_cast<unsigned char>(dec.decodeSymbol(scanAngle[(returns >> 6) & 1]) + angle);
        if (values & 2)
            user = static_cast<unsigned char>(dec.decodeSymbol(lazyModel(userData, user, 256)));
        if (values & 1)
            source = static_cast<uint16_t>(icSource.decompress(dec, source));

        const unsigned single = n == 1;
        const int32_t dx = icDx.decompress(dec, dxMedian[m].get(), single);
        x = static_cast<int32_t>(static_cast<uint32_t>(x) + static_cast<uint32_t>(dx));
        dxMedian[m].add(dx);
        unsigned k = icDx.k();
        const int32_t dy = icDy.decompress(dec, dyMedian[m].get(), single + (k < 20 ? k & ~1u : 20));
        y = static_cast<int32_t>(static_cast<uint32_t>(y) + static_cast<uint32_t>(dy));
        dyMedian[m].add(dy);
        k = (icDx.k() + icDy.k()) / 2;
        const int32_t z = lastHeight[l] = icZ.decompress(dec, lastHeight[l], single + (k < 18 ? k & ~1u : 18));
        // The record from the fields, field by field (reading back a record just written a
        // byte at a time would stall the processor).
        put32(out, static_cast<uint32_t>(x));
        put32(out + 4, static_cast<uint32_t>(y));
        put32(out + 8, static_cast<uint32_t>(z));
        put16(out + 12, lastIntensity[m]);
        out[14] = returns;
        out[15] = classByte;
        out[16] = angle;
        out[17] = user;
        put16(out + 18, source);
        decoder = dec;
    }

private:
    int32_t x = 0, y = 0;
    unsigned char returns = 0, classByte = 0, angle = 0, user = 0;
    uint16_t source = 0;
    uint16_t lastIntensity[16];
    LazMedian5 dxMedian[16], dyMedian[16];
    int32_t lastHeight[8];
    ArithmeticSymbolModel changed;
    IntegerDecompressor icIntensity;
    ArithmeticSymbolModel scanAngle[2];
    IntegerDecompressor icSource, icDx, icDy, icZ;
    ByteModels bitByte, classification, userData;
};

// GPS time as 64-bit integers in four running sequences (returns of interleaved pulses).
class GpsTime11 final : public LazChunkDecoder::Item {
public:
    GpsTime11() : Item(8), multi(kTotal), zeroDiff(6), ic(32, 9) {}
    void first(const unsigned char *raw) override
    {
        ic.restart();
        last = nextSeq = 0;
        for (int k = 0; k < 4; ++k) {
            lastTime[k] = 0;
            lastDiff[k] = 0;
            extremes[k] = 0;
        }
        std::memcpy(&lastTime[0], raw, 8);
    }
    void next(ArithmeticDecoder &decoder, unsigned char *out) override { step(decoder, out); }
    LAZ_DECODE_STEP void step(ArithmeticDecoder &decoder, unsigned char *out)
    {
        ArithmeticDecoder dec = decoder;
        // A switch of sequence is followed by the value in that sequence: at most a few rounds.
        for (int round = 0; round < 8 && !step(dec); ++round) {
        }
        std::memcpy(out, &lastTime[last], 8);
        decoder = dec;
    }

private:
    static constexpr int32_t kMulti = 500, kMultiMinus = -10;
    static constexpr uint32_t kUnchanged = kMulti - kMultiMinus + 1, kCodeFull = kUnchanged + 1,
                              kTotal = kCodeFull + 4;

    LAZ_DECODE_STEP void full(ArithmeticDecoder &dec)
    {
        nextSeq = (nextSeq + 1) & 3;
        const uint64_t high =
            static_cast<uint32_t>(ic.decompress(dec, static_cast<int32_t>(lastTime[last] >> 32), 8));
        lastTime[nextSeq] = high << 32 | dec.readInt();
        last = nextSeq;
        lastDiff[last] = 0;
        extremes[last] = 0;
    }
    void extreme(int32_t diff)
    {
        if (++extremes[last] > 3) {
            lastDiff[last] = diff;
            extremes[last] = 0;
        }
    }
    // False when the point only switched sequence and its value is still to come.
    LAZ_DECODE_STEP bool step(ArithmeticDecoder &dec)
    {
        if (lastDiff[last] == 0) {
            const uint32_t s = dec.decodeSymbol(zeroDiff);
            if (s == 1) {
                lastDiff[last] = ic.decompress(dec, 0, 0);
                lastTime[last] += static_cast<uint64_t>(static_cast<int64_t>(lastDiff[last]));
                extremes[last] = 0;
            } else if (s == 2) {
                full(dec);
            } else if (s > 2) {
                last = (last + s - 2) & 3;
                return false;
            }
            return true;
        }
        uint32_t s = dec.decodeSymbol(multi);
        const int64_t d = lastDiff[last];
        if (s == 1) {
            lastTime[last] += static_cast<uint64_t>(static_cast<int64_t>(ic.decompress(dec, lastDiff[last], 1)));
            extremes[last] = 0;
        } else if (s < kUnchanged) {
            int32_t diff;
            auto predict = [](int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); };
            if (s == 0) {
                diff = ic.decompress(dec, 0, 7);
                extreme(diff);
            } else if (s < static_cast<uint32_t>(kMulti)) {
                diff = ic.decompress(dec, predict(int64_t(s) * d), s < 10 ? 2 : 3);
            } else if (s == static_cast<uint32_t>(kMulti)) {
                diff = ic.decompress(dec, predict(kMulti * d), 4);
                extreme(diff);
            } else {
                const int32_t back = kMulti - static_cast<int32_t>(s);
                if (back > kMultiMinus) {
                    diff = ic.decompress(dec, predict(back * d), 5);
                } else {
                    diff = ic.decompress(dec, predict(kMultiMinus * d), 6);
                    extreme(diff);
                }
            }
            lastTime[last] += static_cast<uint64_t>(static_cast<int64_t>(diff));
        } else if (s == kCodeFull) {
            full(dec);
        } else if (s > kCodeFull) {
            last = (last + s - kCodeFull) & 3;
            return false;
        }
        return true;
    }

    ArithmeticSymbolModel multi, zeroDiff;
    IntegerDecompressor ic;
    unsigned last = 0, nextSeq = 0;
    uint64_t lastTime[4];
    int32_t lastDiff[4];
    int extremes[4];
};

unsigned char fold(int v) { return static_cast<unsigned char>(v < 0 ? v + 256 : v > 255 ? v - 256 : v); }
int clamp8(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

// RGB: red's bytes coded, green and blue predicted from red's change.
class Rgb12 final : public LazChunkDecoder::Item {
public:
    Rgb12() : Item(6), used(128), diff{ArithmeticSymbolModel(256), ArithmeticSymbolModel(256), ArithmeticSymbolModel(256), ArithmeticSymbolModel(256), ArithmeticSymbolModel(256), ArithmeticSymbolModel(256)} {}
    void first(const unsigned char *raw) override
    {
        for (int k = 0; k < 3; ++k)
            last[k] = u16(raw + 2 * k);
    }
    void next(ArithmeticDecoder &decoder, unsigned char *out) override { step(decoder, out); }
    LAZ_DECODE_STEP void step(ArithmeticDecoder &decoder, unsigned char *out)
    {
        ArithmeticDecoder dec = decoder;
        const unsigned s = dec.decodeSymbol(used);
        unsigned c[3];
        auto low = [](unsigned v) { return static_cast<int>(v & 0xFF); };
        auto high = [](unsigned v) { return static_cast<int>(v >> 8); };
        c[0] = s & 1 ? fold(static_cast<int>(dec.decodeSymbol(diff[0])) + low(last[0])) : low(last[0]);
        c[0] |= (s & 2 ? fold(static_cast<int>(dec.decodeSymbol(diff[1])) + high(last[0])) : high(last[0])) << 8;
        if (s & 64) {
            int d = low(c[0]) - low(last[0]);
            c[1] = s & 4 ? fold(static_cast<int>(dec.decodeSymbol(diff[2])) + clamp8(d + low(last[1]))) : low(last[1]);
            if (s & 16) {
                d = (d + (low(c[1]) - low(last[1]))) / 2;
                c[2] = fold(static_cast<int>(dec.decodeSymbol(diff[4])) + clamp8(d + low(last[2])));
            } else {
                c[2] = low(last[2]);
            }
            d = high(c[0]) - high(last[0]);
            if (s & 8)
                c[1] |= fold(static_cast<int>(dec.decodeSymbol(diff[3])) + clamp8(d + high(last[1]))) << 8;
            else
                c[1] |= last[1] & 0xFF00;
            if (s & 32) {
                d = (d + (high(c[1]) - high(last[1]))) / 2;
                c[2] |= fold(static_cast<int>(dec.decodeSymbol(diff[5])) + clamp8(d + high(last[2]))) << 8;
            } else {
                c[2] |= last[2] & 0xFF00;
            }
        } else {
            c[1] = c[2] = c[0];
        }
        for (int k = 0; k < 3; ++k) {
            last[k] = static_cast<uint16_t>(c[k]);
            put16(out + 2 * k, c[k]);
        }
        decoder = dec;
    }

private:
    ArithmeticSymbolModel used;
    ArithmeticSymbolModel diff[6];
    uint16_t last[3];
};

// Extra bytes: each byte's change from the point before.
class Bytes final : public LazChunkDecoder::Item {
public:
    explicit Bytes(unsigned n) : Item(n), last(n), models(n, ArithmeticSymbolModel(256)) {}
    void first(const unsigned char *raw) override
    {
        std::memcpy(last.data(), raw, last.size());
    }
    void next(ArithmeticDecoder &dec, unsigned char *out) override
    {
        for (size_t i = 0; i < last.size(); ++i)
            out[i] = last[i] = static_cast<unsigned char>(last[i] + dec.decodeSymbol(models[i]));
    }

private:
    std::vector<unsigned char> last;
    std::vector<ArithmeticSymbolModel> models;
};

// The items of the first LASzip versions (version 1): the same fields with simpler predictions.
class Point10v1 final : public LazChunkDecoder::Item {
public:
    Point10v1()
        : Item(20), icDx(32), icDy(32, 20), icZ(32, 20), changed(64), icIntensity(16), icScanAngle(8, 2), icSource(16)
    {
    }
    void first(const unsigned char *raw) override
    {
        for (IntegerDecompressor *ic : {&icDx, &icDy, &icZ, &icIntensity, &icScanAngle, &icSource})
            ic->restart();
        for (int k = 0; k < 3; ++k)
            lastDx[k] = lastDy[k] = 0;
        incr = 0;
        std::memcpy(last, raw, 20);
    }
    void next(ArithmeticDecoder &dec, unsigned char *out) override
    {
        const int32_t dx = icDx.decompress(dec, median3(lastDx));
        put32(last, static_cast<uint32_t>(i32(last)) + static_cast<uint32_t>(dx));
        unsigned k = icDx.k();
        const int32_t dy = icDy.decompress(dec, median3(lastDy), k < 19 ? k : 19);
        put32(last + 4, static_cast<uint32_t>(i32(last + 4)) + static_cast<uint32_t>(dy));
        k = (k + icDy.k()) / 2;
        put32(last + 8, static_cast<uint32_t>(icZ.decompress(dec, i32(last + 8), k < 19 ? k : 19)));
        const unsigned values = dec.decodeSymbol(changed);
        if (values & 32)
            put16(last + 12, static_cast<uint16_t>(icIntensity.decompress(dec, u16(last + 12))));
        if (values & 16)
            last[14] = static_cast<unsigned char>(dec.decodeSymbol(lazyModel(bitByte, last[14], 256)));
        if (values & 8)
            last[15] = static_cast<unsigned char>(dec.decodeSymbol(lazyModel(classification, last[15], 256)));
        if (values & 4)
            last[16] = static_cast<unsigned char>(icScanAngle.decompress(dec, static_cast<int8_t>(last[16]), k < 3 ? 1 : 0));
        if (values & 2)
            last[17] = static_cast<unsigned char>(dec.decodeSymbol(lazyModel(userData, last[17], 256)));
        if (values & 1)
            put16(last + 18, static_cast<uint16_t>(icSource.decompress(dec, u16(last + 18))));
        lastDx[incr] = dx;
        lastDy[incr] = dy;
        incr = (incr + 1) % 3;
        std::memcpy(out, last, 20);
    }

private:
    static int32_t median3(const int32_t *d)
    {
        if (d[0] < d[1])
            return d[1] < d[2] ? d[1] : d[0] < d[2] ? d[2] : d[0];
        return d[0] < d[2] ? d[0] : d[1] < d[2] ? d[2] : d[1];
    }
    unsigned char last[20];
    int32_t lastDx[3], lastDy[3];
    unsigned incr = 0;
    IntegerDecompressor icDx, icDy, icZ;
    ArithmeticSymbolModel changed;
    IntegerDecompressor icIntensity, icScanAngle, icSource;
    ByteModels bitByte, classification, userData;
};

class GpsTime11v1 final : public LazChunkDecoder::Item {
public:
    GpsTime11v1() : Item(8), multi(kMultiMax), zeroDiff(3), ic(32, 6) {}
    void first(const unsigned char *raw) override
    {
        ic.restart();
        lastDiff = 0;
        extremes = 0;
        std::memcpy(&time, raw, 8);
    }
    void next(ArithmeticDecoder &dec, unsigned char *out) override
    {
        if (lastDiff == 0) {
            const uint32_t s = dec.decodeSymbol(zeroDiff);
            if (s == 1) {
                lastDiff = ic.decompress(dec, 0, 0);
                time += static_cast<uint64_t>(static_cast<int64_t>(lastDiff));
            } else if (s == 2) {
                time = readInt64(dec);
            }
        } else {
            const uint32_t s = dec.decodeSymbol(multi);
            auto predict = [](int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); };
            if (s < kMultiMax - 2) {
                int32_t diff;
                if (s == 1) {
                    diff = lastDiff = ic.decompress(dec, lastDiff, 1);
                    extremes = 0;
                } else if (s == 0) {
                    diff = ic.decompress(dec, lastDiff / 4, 2);
                    extreme(diff);
                } else {
                    diff = ic.decompress(dec, predict(int64_t(s) * lastDiff), s < 10 ? 3 : s < 50 ? 4 : 5);
                    if (s == kMultiMax - 3)
                        extreme(diff);
                }
                time += static_cast<uint64_t>(static_cast<int64_t>(diff));
            } else if (s < kMultiMax - 1) {
                time = readInt64(dec);
            }
        }
        std::memcpy(out, &time, 8);
    }

private:
    static constexpr uint32_t kMultiMax = 512;
    static uint64_t readInt64(ArithmeticDecoder &dec)
    {
        const uint64_t low = dec.readInt();
        return static_cast<uint64_t>(dec.readInt()) << 32 | low;
    }
    void extreme(int32_t diff)
    {
        if (++extremes > 3) {
            lastDiff = diff;
            extremes = 0;
        }
    }
    ArithmeticSymbolModel multi, zeroDiff;
    IntegerDecompressor ic;
    uint64_t time = 0;
    int32_t lastDiff = 0;
    int extremes = 0;
};

class Rgb12v1 final : public LazChunkDecoder::Item {
public:
    Rgb12v1() : Item(6), used(64), ic(8, 6) {}
    void first(const unsigned char *raw) override
    {
        ic.restart();
        for (int k = 0; k < 3; ++k)
            last[k] = u16(raw + 2 * k);
    }
    void next(ArithmeticDecoder &dec, unsigned char *out) override
    {
        const unsigned s = dec.decodeSymbol(used);
        for (unsigned k = 0; k < 3; ++k) {
            unsigned low = last[k] & 0xFF, high = last[k] >> 8;
            if (s & (1u << (2 * k)))
                low = static_cast<unsigned>(ic.decompress(dec, static_cast<int32_t>(low), 2 * k)) & 0xFF;
            if (s & (2u << (2 * k)))
                high = static_cast<unsigned>(ic.decompress(dec, static_cast<int32_t>(high), 2 * k + 1)) & 0xFF;
            last[k] = static_cast<uint16_t>(low | high << 8);
            put16(out + 2 * k, last[k]);
        }
    }

private:
    ArithmeticSymbolModel used;
    IntegerDecompressor ic;
    uint16_t last[3];
};

class BytesV1 final : public LazChunkDecoder::Item {
public:
    explicit BytesV1(unsigned n) : Item(n), last(n), ic(8, n) {}
    void first(const unsigned char *raw) override
    {
        ic.restart();
        std::memcpy(last.data(), raw, last.size());
    }
    void next(ArithmeticDecoder &dec, unsigned char *out) override
    {
        for (unsigned i = 0; i < last.size(); ++i)
            out[i] = last[i] = static_cast<unsigned char>(ic.decompress(dec, last[i], i));
    }

private:
    std::vector<unsigned char> last;
    IntegerDecompressor ic;
};

// Waveform packets (point formats 4 and 5).
class Wavepacket13 final : public LazChunkDecoder::Item {
public:
    Wavepacket13() : Item(29) {}
    void first(const unsigned char *raw) override { packet.reset(raw); }
    void next(ArithmeticDecoder &dec, unsigned char *out) override { packet.next(dec, out); }

private:
    LazWavepacket packet;
};

// Points `from` to `to`, each item's step inlined in one loop (the coder stays in registers
// from item to item); stops after a point that read past the chunk.
template <class... Items>
size_t run(ArithmeticDecoder &decoder, unsigned char *out, size_t from, size_t to, unsigned length,
           Items &...items)
{
    ArithmeticDecoder dec = decoder; // a local the compiler keeps in registers
    size_t i = from;
    for (; i < to; ++i) {
        unsigned char *p = out + (i - from) * length;
        ((items.step(dec, p), p += items.size()), ...);
        if (dec.overrun()) {
            ++i;
            break;
        }
    }
    decoder = dec;
    return i;
}

} // namespace

size_t decodeCommonItems(const std::vector<std::unique_ptr<LazChunkDecoder::Item>> &items,
                         ArithmeticDecoder &dec, unsigned char *out, size_t from, size_t to, unsigned length)
{
    return runCommonItems<Point10, GpsTime11, Rgb12>(
        items, from, [&](auto &...common) { return run(dec, out, from, to, length, common...); });
}

std::unique_ptr<LazChunkDecoder::Item> makePointwiseItem(const LazItem &item)
{
    if (item.version == 1) {
        switch (item.type) {
        case LazItem::Point10: return std::make_unique<Point10v1>();
        case LazItem::GpsTime11: return std::make_unique<GpsTime11v1>();
        case LazItem::Rgb12: return std::make_unique<Rgb12v1>();
        case LazItem::Byte: return std::make_unique<BytesV1>(item.size);
        case LazItem::Wavepacket13: return std::make_unique<Wavepacket13>();
        default: break;
        }
    }
    if (item.version != 2 && item.version != 1)
        throw std::runtime_error("LASzip item type " + std::to_string(item.type) + " version " +
                                 std::to_string(item.version) + " is not read (versions 1 and 2 are)");
    switch (item.type) {
    case LazItem::Point10: return std::make_unique<Point10>();
    case LazItem::GpsTime11: return std::make_unique<GpsTime11>();
    case LazItem::Rgb12: return std::make_unique<Rgb12>();
    case LazItem::Byte: return std::make_unique<Bytes>(item.size);
    // The waveform packet item has one version; files of version 2 items name it so too.
    case LazItem::Wavepacket13: return std::make_unique<Wavepacket13>();
    default:
        throw std::runtime_error("LASzip item type " + std::to_string(item.type) +
                                 " is not read by the pointwise compressor");
    }
}
