#ifndef VELMORA_LAZWAVEPACKET_H
#define VELMORA_LAZWAVEPACKET_H

#include "formats/ArithmeticDecoder.h"
#include "formats/IntegerDecompressor.h"
#include "formats/LazFields.h"

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
        uint64_t offset = lazfields::u64(last + 1);
        // The offset: the last one, the last one past the last packet, a 32-bit step or all 64 bits.
        lastCase = dec.decodeSymbol(offsetCase[lastCase]);
        if (lastCase == 1) {
            offset += lazfields::u32(last + 9);
        } else if (lastCase == 2) {
            lastDiff = icOffset.decompress(dec, lastDiff);
            offset += static_cast<uint64_t>(static_cast<int64_t>(lastDiff));
        } else if (lastCase == 3) {
            const uint64_t low = dec.readInt();
            offset = static_cast<uint64_t>(dec.readInt()) << 32 | low;
        }
        lazfields::put32(item + 1, static_cast<uint32_t>(offset));
        lazfields::put32(item + 5, static_cast<uint32_t>(offset >> 32));
        auto corrected = [&](IntegerDecompressor &ic, unsigned at, unsigned context) {
            const int32_t before = static_cast<int32_t>(lazfields::u32(last + at));
            lazfields::put32(item + at, static_cast<uint32_t>(ic.decompress(dec, before, context)));
        };
        corrected(icSize, 9, 0);
        corrected(icReturn, 13, 0);
        for (unsigned k = 0; k < 3; ++k)
            corrected(icXyz, 17 + 4 * k, k);
        std::memcpy(last, item, 29);
        std::memcpy(out, item, 29);
    }
    const unsigned char *lastItem() const { return last; }

private:
    ArithmeticSymbolModel packetIndex{256};
    ArithmeticSymbolModel offsetCase[4] = {ArithmeticSymbolModel(4), ArithmeticSymbolModel(4),
                                           ArithmeticSymbolModel(4), ArithmeticSymbolModel(4)};
    IntegerDecompressor icOffset{32}, icSize{32}, icReturn{32}, icXyz{32, 3};
    unsigned char last[29];
    int32_t lastDiff = 0;
    unsigned lastCase = 0;
};

#endif
