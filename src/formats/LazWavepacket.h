#ifndef VELMORA_LAZWAVEPACKET_H
#define VELMORA_LAZWAVEPACKET_H

#include "formats/ArithmeticDecoder.h"
#include "formats/IntegerDecompressor.h"

#include <cstdint>
#include <cstring>

/// The models of a LASzip waveform packet item (29 bytes: descriptor index, offset of the
/// samples, their size in bytes, the return point's location and the x, y, z steps, the last
/// four floats): the pointwise compressor keeps one set, the layered one a set for each
/// scanner channel. Each field is predicted from the same field of the point before.
class LazWavepacket {
public:
    void reset(const unsigned char *from)
    {
        packetIndex.reset();
        for (ArithmeticSymbolModel &m : offsetCase)
            m.reset();
        for (IntegerDecompressor *ic : {&icOffset, &icSize, &icReturn, &icXyz})
            ic->reset();
        std::memcpy(last, from, 29);
        lastDiff = 0;
        lastCase = 0;
    }
    /// Decodes the next point's packet into `out` (29 bytes).
    void next(ArithmeticDecoder &dec, unsigned char *out)
    {
        unsigned char item[29];
        item[0] = static_cast<unsigned char>(dec.decodeSymbol(packetIndex));
        uint64_t offset = u64(last + 1);
        // The offset: the last one, the last one past the last packet, a 32-bit step or all 64 bits.
        lastCase = dec.decodeSymbol(offsetCase[lastCase]);
        if (lastCase == 1) {
            offset += u32(last + 9);
        } else if (lastCase == 2) {
            lastDiff = icOffset.decompress(dec, lastDiff);
            offset += static_cast<uint64_t>(static_cast<int64_t>(lastDiff));
        } else if (lastCase == 3) {
            const uint64_t low = dec.readInt();
            offset = static_cast<uint64_t>(dec.readInt()) << 32 | low;
        }
        put32(item + 1, static_cast<uint32_t>(offset));
        put32(item + 5, static_cast<uint32_t>(offset >> 32));
        put32(item + 9, static_cast<uint32_t>(icSize.decompress(dec, static_cast<int32_t>(u32(last + 9)))));
        put32(item + 13, static_cast<uint32_t>(icReturn.decompress(dec, static_cast<int32_t>(u32(last + 13)))));
        for (unsigned k = 0; k < 3; ++k)
            put32(item + 17 + 4 * k,
                  static_cast<uint32_t>(icXyz.decompress(dec, static_cast<int32_t>(u32(last + 17 + 4 * k)), k)));
        std::memcpy(last, item, 29);
        std::memcpy(out, item, 29);
    }
    const unsigned char *lastItem() const { return last; }

private:
    static uint32_t u32(const unsigned char *b)
    {
        return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
               static_cast<uint32_t>(b[3]) << 24;
    }
    static uint64_t u64(const unsigned char *b) { return u32(b) | static_cast<uint64_t>(u32(b + 4)) << 32; }
    static void put32(unsigned char *b, uint32_t v)
    {
        for (int k = 0; k < 4; ++k)
            b[k] = static_cast<unsigned char>(v >> (8 * k));
    }
    ArithmeticSymbolModel packetIndex{256};
    ArithmeticSymbolModel offsetCase[4] = {ArithmeticSymbolModel(4), ArithmeticSymbolModel(4),
                                           ArithmeticSymbolModel(4), ArithmeticSymbolModel(4)};
    IntegerDecompressor icOffset{32}, icSize{32}, icReturn{32}, icXyz{32, 3};
    unsigned char last[29];
    int32_t lastDiff = 0;
    unsigned lastCase = 0;
};

#endif
