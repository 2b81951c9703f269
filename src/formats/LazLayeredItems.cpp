#include "formats/LazLayeredItems.h"

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

using lazfields::put16;
using lazfields::put32;
using lazfields::u16;
using lazfields::u32;

// A layer's stream, or nothing when the layer is empty (the field never changes in the chunk).
struct LayerStream {
    ArithmeticDecoder dec;
    bool present = false;
    void start(const LazLayer &l)
    {
        present = l.size > 0;
        // An absent layer's coder is never used: it stays without an overrun.
        dec = present ? ArithmeticDecoder(l.data, l.data + l.size) : ArithmeticDecoder();
    }
    bool overrun() const { return dec.overrun(); }
};
// Whether any of a set of layer streams ran past its layer.
template <class Streams>
bool anyOverrun(const Streams &streams)
{
    bool past = false;
    for (const LayerStream &s : streams)
        past |= s.overrun();
    return past;
}

// The six return contexts of the coordinates by [number of returns][return number]: single,
// first or last of two, first, middle or last of more, with invalid pairs mapped too.
constexpr unsigned char kReturnMap6[16][16] = {
    {0, 1, 2, 3, 4, 5, 3, 4, 4, 5, 5, 5, 5, 5, 5, 5}, {1, 0, 1, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3},
    {2, 1, 2, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3}, {3, 3, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4}, {5, 3, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {3, 3, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4}, {4, 3, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4}, {5, 3, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4},
    {5, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4}, {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 4, 4, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4, 4}, {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5}, {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5}};
// The height prediction's slot: how far the return is from the last, at most 7.
unsigned returnLevel8(unsigned n, unsigned r)
{
    const unsigned d = n > r ? n - r : r - n;
    return d > 7 ? 7 : d;
}

using LazyModels = std::vector<std::unique_ptr<ArithmeticSymbolModel>>;

// The fields of a point of formats 6 to 10, as the coder predicts them.
struct Point14Fields {
    int32_t x, y, z;
    uint16_t intensity;
    unsigned r, n, flags, channel, scanDirection, edge, classification, userData;
    int16_t scanAngle;
    uint16_t source;
    uint64_t gps;
    bool gpsChange;

    void parse(const unsigned char *b)
    {
        x = static_cast<int32_t>(u32(b));
        y = static_cast<int32_t>(u32(b + 4));
        z = static_cast<int32_t>(u32(b + 8));
        intensity = u16(b + 12);
        r = b[14] & 15;
        n = b[14] >> 4;
        flags = b[15] & 15;
        channel = (b[15] >> 4) & 3;
        scanDirection = (b[15] >> 6) & 1;
        edge = b[15] >> 7;
        classification = b[16];
        userData = b[17];
        scanAngle = static_cast<int16_t>(u16(b + 18));
        source = u16(b + 20);
        std::memcpy(&gps, b + 22, 8);
        gpsChange = false;
    }
    void write(unsigned char *b) const
    {
        put32(b, static_cast<uint32_t>(x));
        put32(b + 4, static_cast<uint32_t>(y));
        put32(b + 8, static_cast<uint32_t>(z));
        put16(b + 12, intensity);
        b[14] = static_cast<unsigned char>(r | n << 4);
        b[15] = static_cast<unsigned char>(flags | channel << 4 | scanDirection << 6 | edge << 7);
        b[16] = static_cast<unsigned char>(classification);
        b[17] = static_cast<unsigned char>(userData);
        put16(b + 18, static_cast<uint16_t>(scanAngle));
        put16(b + 20, source);
        std::memcpy(b + 22, &gps, 8);
    }
};

class Point14 final : public LazLayeredItem {
public:
    Point14() : LazLayeredItem(30) {}
    unsigned layers() const override { return 9; }
    void first(const unsigned char *raw, unsigned, const LazLayer *layer) override
    {
        for (int k = 0; k < 9; ++k)
            streams[k].start(layer[k]);
        for (Context &c : contexts)
            c.used = false;
        Point14Fields p;
        p.parse(raw);
        current = p.channel;
        startContext(current, p);
    }
    void next(unsigned char *out, unsigned) override { step(out); }
    LAZ_DECODE_STEP void step(unsigned char *out);
    unsigned channel() const override { return current; }
    bool overrun() const override { return anyOverrun(streams); }

private:
    enum { XY, Z, Class, Flags, Intensity, ScanAngle, UserData, Source, Gps };
    static constexpr int32_t kMulti = 500, kMultiMinus = -10;
    static constexpr uint32_t kCodeFull = kMulti - kMultiMinus + 1, kTotal = kCodeFull + 4;

    struct Context {
        bool used = false;
        Point14Fields last;
        std::vector<ArithmeticSymbolModel> changed = std::vector<ArithmeticSymbolModel>(8, ArithmeticSymbolModel(128));
        ArithmeticSymbolModel scanner{3}, returnGpsSame{13}, gpsMulti{kTotal}, gps0Diff{5};
        LazyModels returns = LazyModels(16), returnNumber = LazyModels(16), classification = LazyModels(64),
                   flags = LazyModels(64), userData = LazyModels(64);
        IntegerDecompressor dx{32, 2}, dy{32, 22}, z{32, 20}, intensity{16, 4}, scanAngle{16, 2}, source{16},
            gps{32, 9};
        LazMedian5 dxMedian[12], dyMedian[12];
        int32_t lastZ[8];
        uint16_t lastIntensity[8];
        uint64_t lastTime[4];
        int32_t lastDiff[4];
        int extremes[4];
        unsigned seq, nextSeq;
    };

    void startContext(unsigned k, const Point14Fields &from)
    {
        Context &c = contexts[k];
        // Its symbol models are in their first state: the chunk decoder resets those in use.
        for (IntegerDecompressor *ic : {&c.dx, &c.dy, &c.z, &c.intensity, &c.scanAngle, &c.source, &c.gps})
            ic->restart();
        for (int i = 0; i < 12; ++i) {
            c.dxMedian[i].reset();
            c.dyMedian[i].reset();
        }
        for (int i = 0; i < 8; ++i) {
            c.lastZ[i] = from.z;
            c.lastIntensity[i] = from.intensity;
        }
        c.seq = c.nextSeq = 0;
        for (int i = 0; i < 4; ++i) {
            c.lastTime[i] = 0;
            c.lastDiff[i] = 0;
            c.extremes[i] = 0;
        }
        c.lastTime[0] = from.gps;
        c.last = from;
        c.last.gpsChange = false;
        c.used = true;
    }
    void readGpsTime(Context &c);

    LayerStream streams[9];
    Context contexts[4];
    unsigned current = 0;
};

void Point14::step(unsigned char *out)
{
    // The coder of the first layer in registers while the point is decoded (it holds most
    // of the point's symbols, one after the other).
    ArithmeticDecoder xy = streams[XY].dec;
    Context *c = &contexts[current];
    unsigned changedValues;
    {
        const Point14Fields &l = c->last;
        const unsigned lpr = (l.r == 1 ? 1 : 0) + (l.r >= l.n ? 2 : 0) + (l.gpsChange ? 4 : 0);
        const unsigned values = xy.decodeSymbol(c->changed[lpr]);
        if (values & (1 << 6)) {
            const unsigned channel = (current + xy.decodeSymbol(c->scanner) + 1) % 4;
            if (!contexts[channel].used)
                startContext(channel, c->last);
            current = channel;
            c = &contexts[current];
            c->last.channel = channel;
        }
        changedValues = values;
    }
    Point14Fields &p = c->last;
    const bool sourceChange = changedValues & (1 << 5), gpsChange = changedValues & (1 << 4),
               angleChange = changedValues & (1 << 3);
    const unsigned lastN = p.n, lastR = p.r;
    if (changedValues & (1 << 2))
        p.n = xy.decodeSymbol(lazyModel(c->returns, lastN, 16));
    switch (changedValues & 3) {
    case 0: break;
    case 1: p.r = (lastR + 1) % 16; break;
    case 2: p.r = (lastR + 15) % 16; break;
    default:
        if (gpsChange)
            p.r = xy.decodeSymbol(lazyModel(c->returnNumber, lastR, 16));
        else
            p.r = (lastR + xy.decodeSymbol(c->returnGpsSame) + 2) % 16;
    }
    const unsigned n = p.n, r = p.r;
    const unsigned m = kReturnMap6[n][r], l = returnLevel8(n, r);
    const unsigned cpr = (r == 1 ? 2 : 0) + (r >= n ? 1 : 0);
    const unsigned single = n == 1, slot = m << 1 | (gpsChange ? 1 : 0);

    const int32_t dx = c->dx.decompress(xy, c->dxMedian[slot].get(), single);
    p.x = static_cast<int32_t>(static_cast<uint32_t>(p.x) + static_cast<uint32_t>(dx));
    c->dxMedian[slot].add(dx);
    unsigned k = c->dx.k();
    const int32_t dy = c->dy.decompress(xy, c->dyMedian[slot].get(), single + (k < 20 ? k & ~1u : 20));
    p.y = static_cast<int32_t>(static_cast<uint32_t>(p.y) + static_cast<uint32_t>(dy));
    c->dyMedian[slot].add(dy);
    streams[XY].dec = xy;
    if (streams[Z].present) {
        k = (c->dx.k() + c->dy.k()) / 2;
        p.z = c->lastZ[l] = c->z.decompress(streams[Z].dec, c->lastZ[l], single + (k < 18 ? k & ~1u : 18));
    }
    if (streams[Class].present) {
        const unsigned ccc = ((p.classification & 0x1F) << 1) + (cpr == 3 ? 1 : 0);
        p.classification = streams[Class].dec.decodeSymbol(lazyModel(c->classification, ccc, 256));
    }
    if (streams[Flags].present) {
        const unsigned lastFlags = p.edge << 5 | p.scanDirection << 4 | p.flags;
        const unsigned f = streams[Flags].dec.decodeSymbol(lazyModel(c->flags, lastFlags, 64));
        p.edge = (f >> 5) & 1;
        p.scanDirection = (f >> 4) & 1;
        p.flags = f & 15;
    }
    if (streams[Intensity].present) {
        uint16_t &last = c->lastIntensity[cpr << 1 | (gpsChange ? 1 : 0)];
        p.intensity = last = static_cast<uint16_t>(c->intensity.decompress(streams[Intensity].dec, last, cpr));
    }
    if (streams[ScanAngle].present && angleChange)
        p.scanAngle = static_cast<int16_t>(c->scanAngle.decompress(streams[ScanAngle].dec, p.scanAngle, gpsChange));
    if (streams[UserData].present)
        p.userData = streams[UserData].dec.decodeSymbol(lazyModel(c->userData, p.userData / 4, 256));
    if (streams[Source].present && sourceChange)
        p.source = static_cast<uint16_t>(c->source.decompress(streams[Source].dec, p.source));
    if (streams[Gps].present && gpsChange)
        readGpsTime(*c);
    p.write(out);
    p.gpsChange = gpsChange;
}

void Point14::readGpsTime(Context &c)
{
    ArithmeticDecoder &dec = streams[Gps].dec;
    auto full = [&] {
        c.nextSeq = (c.nextSeq + 1) & 3;
        const uint64_t high = static_cast<uint32_t>(c.gps.decompress(dec, static_cast<int32_t>(c.lastTime[c.seq] >> 32), 8));
        c.lastTime[c.nextSeq] = high << 32 | dec.readInt();
        c.seq = c.nextSeq;
        c.lastDiff[c.seq] = 0;
        c.extremes[c.seq] = 0;
    };
    auto extreme = [&](int32_t diff) {
        if (++c.extremes[c.seq] > 3) {
            c.lastDiff[c.seq] = diff;
            c.extremes[c.seq] = 0;
        }
    };
    auto predict = [](int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); };
    // A switch of sequence is followed by the time in that sequence; a corrupt stream could
    // switch for ever, so the rounds are bounded.
    for (int round = 0; round < 8; ++round) {
        if (c.lastDiff[c.seq] == 0) {
            const uint32_t s = dec.decodeSymbol(c.gps0Diff);
            if (s == 0) {
                c.lastDiff[c.seq] = c.gps.decompress(dec, 0, 0);
                c.lastTime[c.seq] += static_cast<uint64_t>(static_cast<int64_t>(c.lastDiff[c.seq]));
                c.extremes[c.seq] = 0;
            } else if (s == 1) {
                full();
            } else {
                c.seq = (c.seq + s - 1) & 3;
                continue;
            }
            break;
        }
        const uint32_t s = dec.decodeSymbol(c.gpsMulti);
        const int64_t d = c.lastDiff[c.seq];
        if (s == 1) {
            c.lastTime[c.seq] += static_cast<uint64_t>(static_cast<int64_t>(c.gps.decompress(dec, c.lastDiff[c.seq], 1)));
            c.extremes[c.seq] = 0;
        } else if (s < kCodeFull) {
            int32_t diff;
            if (s == 0) {
                diff = c.gps.decompress(dec, 0, 7);
                extreme(diff);
            } else if (s < static_cast<uint32_t>(kMulti)) {
                diff = c.gps.decompress(dec, predict(int64_t(s) * d), s < 10 ? 2 : 3);
            } else if (s == static_cast<uint32_t>(kMulti)) {
                diff = c.gps.decompress(dec, predict(kMulti * d), 4);
                extreme(diff);
            } else {
                const int32_t back = kMulti - static_cast<int32_t>(s);
                if (back > kMultiMinus) {
                    diff = c.gps.decompress(dec, predict(back * d), 5);
                } else {
                    diff = c.gps.decompress(dec, predict(kMultiMinus * d), 6);
                    extreme(diff);
                }
            }
            c.lastTime[c.seq] += static_cast<uint64_t>(static_cast<int64_t>(diff));
        } else if (s == kCodeFull) {
            full();
        } else {
            c.seq = (c.seq + s - kCodeFull) & 3;
            continue;
        }
        break;
    }
    c.last.gps = c.lastTime[c.seq];
}

// The contexts of an item that keeps one for each scanner channel: the chunk's first point
// starts its channel's, and the first point of another channel starts that channel's from
// the context of the channel before it.
template <class Context> struct ByChannel {
    Context contexts[4];
    unsigned current = 0;
    void restart(unsigned channel)
    {
        for (Context &c : contexts)
            c.used = false;
        current = channel;
    }
    // The context of a point of `channel`; `start(k, from)` starts context k from `from`.
    template <class Start> LAZ_DECODE_STEP Context &of(unsigned channel, Start &&start)
    {
        if (channel != current) {
            if (!contexts[channel].used)
                start(channel, contexts[current]);
            current = channel;
        }
        return contexts[current];
    }
};

unsigned char fold(int v) { return static_cast<unsigned char>(v < 0 ? v + 256 : v > 255 ? v - 256 : v); }
int clamp8(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

// Colours (and the near-infrared channel) per scanner channel, as the pointwise coder does
// them but each in a layer of its own.
class Rgb14 final : public LazLayeredItem {
public:
    explicit Rgb14(bool hasNir) : LazLayeredItem(hasNir ? 8 : 6), withNir(hasNir) {}
    unsigned layers() const override { return withNir ? 2 : 1; }
    void first(const unsigned char *raw, unsigned channel, const LazLayer *layer) override
    {
        rgb.start(layer[0]);
        if (withNir)
            nir.start(layer[1]);
        uint16_t v[4];
        for (unsigned k = 0; k < (withNir ? 4u : 3u); ++k)
            v[k] = u16(raw + 2 * k);
        byChannel.restart(channel);
        startContext(channel, v);
    }
    void next(unsigned char *out, unsigned channel) override { step(out, channel); }
    LAZ_DECODE_STEP void step(unsigned char *out, unsigned channel)
    {
        Context &c =
            byChannel.of(channel, [this](unsigned k, const Context &from) { startContext(k, from.last); });
        if (rgb.present)
            decodeRgb(c);
        if (withNir && nir.present) {
            const unsigned s = nir.dec.decodeSymbol(c.nirUsed);
            unsigned v = s & 1 ? fold(static_cast<int>(nir.dec.decodeSymbol(c.nirDiff[0])) + (c.last[3] & 0xFF))
                               : c.last[3] & 0xFF;
            v |= (s & 2 ? fold(static_cast<int>(nir.dec.decodeSymbol(c.nirDiff[1])) + (c.last[3] >> 8)) : c.last[3] >> 8)
                 << 8;
            c.last[3] = static_cast<uint16_t>(v);
        }
        for (unsigned k = 0; k < (withNir ? 4u : 3u); ++k)
            put16(out + 2 * k, c.last[k]);
    }
    bool overrun() const override { return rgb.overrun() | nir.overrun(); }

private:
    struct Context {
        bool used = false;
        uint16_t last[4] = {0, 0, 0, 0};
        ArithmeticSymbolModel used128{128}, nirUsed{4};
        std::vector<ArithmeticSymbolModel> diff = std::vector<ArithmeticSymbolModel>(6, ArithmeticSymbolModel(256));
        std::vector<ArithmeticSymbolModel> nirDiff = std::vector<ArithmeticSymbolModel>(2, ArithmeticSymbolModel(256));
    };
    void startContext(unsigned k, const uint16_t *from)
    {
        Context &c = byChannel.contexts[k];
        std::memcpy(c.last, from, sizeof c.last);
        c.used = true;
    }
    void decodeRgb(Context &c)
    {
        ArithmeticDecoder dec = rgb.dec;
        const unsigned s = dec.decodeSymbol(c.used128);
        const uint16_t *last = c.last;
        auto low = [](unsigned v) { return static_cast<int>(v & 0xFF); };
        auto high = [](unsigned v) { return static_cast<int>(v >> 8); };
        auto sym = [&](int k) { return static_cast<int>(dec.decodeSymbol(c.diff[k])); };
        unsigned v[3];
        v[0] = s & 1 ? fold(sym(0) + low(last[0])) : low(last[0]);
        v[0] |= (s & 2 ? fold(sym(1) + high(last[0])) : high(last[0])) << 8;
        if (s & 64) {
            int d = low(v[0]) - low(last[0]);
            v[1] = s & 4 ? fold(sym(2) + clamp8(d + low(last[1]))) : low(last[1]);
            if (s & 16) {
                d = (d + (low(v[1]) - low(last[1]))) / 2;
                v[2] = fold(sym(4) + clamp8(d + low(last[2])));
            } else {
                v[2] = low(last[2]);
            }
            d = high(v[0]) - high(last[0]);
            v[1] |= (s & 8 ? fold(sym(3) + clamp8(d + high(last[1]))) : high(last[1])) << 8;
            if (s & 32) {
                d = (d + (high(v[1]) - high(last[1]))) / 2;
                v[2] |= fold(sym(5) + clamp8(d + high(last[2]))) << 8;
            } else {
                v[2] |= last[2] & 0xFF00;
            }
        } else {
            v[1] = v[2] = v[0];
        }
        for (int k = 0; k < 3; ++k)
            c.last[k] = static_cast<uint16_t>(v[k]);
        rgb.dec = dec;
    }
    LayerStream rgb, nir;
    ByChannel<Context> byChannel;
    bool withNir;
};

// Extra bytes: each byte in a layer of its own, its change from the point before.
class Byte14 final : public LazLayeredItem {
public:
    explicit Byte14(unsigned n) : LazLayeredItem(n), streams(n) {}
    unsigned layers() const override { return size(); }
    void first(const unsigned char *raw, unsigned channel, const LazLayer *layer) override
    {
        for (unsigned i = 0; i < size(); ++i)
            streams[i].start(layer[i]);
        byChannel.restart(channel);
        startContext(channel, raw);
    }
    void next(unsigned char *out, unsigned channel) override { step(out, channel); }
    LAZ_DECODE_STEP void step(unsigned char *out, unsigned channel)
    {
        Context &c = byChannel.of(
            channel, [this](unsigned k, const Context &from) { startContext(k, from.last.data()); });
        for (unsigned i = 0; i < size(); ++i) {
            if (streams[i].present)
                c.last[i] = static_cast<unsigned char>(c.last[i] + streams[i].dec.decodeSymbol(c.models[i]));
            out[i] = c.last[i];
        }
    }
    bool overrun() const override { return anyOverrun(streams); }

private:
    struct Context {
        bool used = false;
        std::vector<unsigned char> last;
        std::vector<ArithmeticSymbolModel> models;
    };
    void startContext(unsigned k, const unsigned char *from)
    {
        Context &c = byChannel.contexts[k];
        c.last.assign(from, from + size());
        if (c.models.empty())
            c.models.assign(size(), ArithmeticSymbolModel(256));
        c.used = true;
    }
    std::vector<LayerStream> streams;
    ByChannel<Context> byChannel;
};

// Waveform packets (point formats 9 and 10) in a layer of their own, a set of models for
// each scanner channel; an empty layer repeats the chunk's first packet.
class Wavepacket14 final : public LazLayeredItem {
public:
    Wavepacket14() : LazLayeredItem(29) {}
    unsigned layers() const override { return 1; }
    void first(const unsigned char *raw, unsigned channel, const LazLayer *layer) override
    {
        stream.start(layer[0]);
        for (bool &u : used)
            u = false;
        current = channel;
        contexts[current].reset(raw);
        used[current] = true;
    }
    void next(unsigned char *out, unsigned channel) override
    {
        if (channel != current) {
            if (!used[channel]) {
                unsigned char from[29];
                std::memcpy(from, contexts[current].lastItem(), 29);
                contexts[channel].reset(from);
                used[channel] = true;
            }
            current = channel;
        }
        if (stream.present)
            contexts[current].next(stream.dec, out);
        else
            std::memcpy(out, contexts[current].lastItem(), 29);
    }
    bool overrun() const override { return stream.overrun(); }

private:
    LayerStream stream;
    LazWavepacket contexts[4];
    bool used[4] = {false, false, false, false};
    unsigned current = 0;
};

// Points `from` to `to`, each item's step inlined in one loop (no call per item and point);
// stops after a point that read past a layer.
template <class... Items>
size_t run(unsigned char *out, size_t from, size_t to, unsigned length, Point14 &point, Items &...items)
{
    for (size_t i = from; i < to; ++i) {
        unsigned char *p = out + (i - from) * length;
        point.step(p);
        [[maybe_unused]] const unsigned channel = point.channel();
        bool past = point.overrun();
        p += point.size();
        ((items.step(p, channel), past |= items.overrun(), p += items.size()), ...);
        if (past)
            return i + 1;
    }
    return to;
}

} // namespace

size_t decodeCommonLayers(const std::vector<std::unique_ptr<LazLayeredItem>> &items, unsigned char *out,
                          size_t from, size_t to, unsigned length)
{
    return runCommonItems<Point14, Rgb14, Byte14>(items, from, [&](Point14 &point, auto &...others) {
        return run(out, from, to, length, point, others...);
    });
}

std::unique_ptr<LazLayeredItem> makeLayeredItem(const LazItem &item)
{
    if (item.version != 3)
        throw std::runtime_error("LASzip item type " + std::to_string(item.type) + " version " +
                                 std::to_string(item.version) + " is not read by the layered compressor");
    switch (item.type) {
    case LazItem::Point14: return std::make_unique<Point14>();
    case LazItem::Rgb14: return std::make_unique<Rgb14>(false);
    case LazItem::RgbNir14: return std::make_unique<Rgb14>(true);
    case LazItem::Byte14: return std::make_unique<Byte14>(item.size);
    case LazItem::Wavepacket14: return std::make_unique<Wavepacket14>();
    default:
        throw std::runtime_error("LASzip item type " + std::to_string(item.type) +
                                 " is not read by the layered compressor");
    }
}
