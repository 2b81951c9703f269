#ifndef VELMORA_INTEGERDECOMPRESSOR_H
#define VELMORA_INTEGERDECOMPRESSOR_H

#include "formats/ArithmeticDecoder.h"

#include <cstdint>
#include <vector>

/// The corrector of LAZ integer fields: a value is its prediction plus a correction coded as
/// a bit count k (one model per context) and then the k bits, the high ones through a model of
/// their own and the low ones raw. The result wraps into the field's range.
class IntegerDecompressor {
public:
    /// `bits`: the field's width (32 for coordinates); `contexts`: how many k models there are.
    explicit IntegerDecompressor(unsigned bits = 16, unsigned contexts = 1, unsigned bitsHigh = 8);
    /// Back to the first state (each model takes it when first used after this).
    void reset();
    /// The same but for the symbol models, which a chunk decoder's list of the models in use
    /// resets.
    void restart()
    {
        zero.reset();
        lastK = 0;
    }
    LAZ_DECODE_STEP int32_t decompress(ArithmeticDecoder &dec, int32_t prediction, unsigned context = 0);
    /// The bit count of the last correction: the next field's context depends on it.
    unsigned k() const { return lastK; }

private:
    LAZ_DECODE_STEP int32_t readCorrector(ArithmeticDecoder &dec, ArithmeticSymbolModel &bitsModel);
    unsigned corrBits, bitsHigh, lastK = 0;
    uint32_t corrRange;
    int32_t corrMin;
    std::vector<ArithmeticSymbolModel> kModels;
    ArithmeticBitModel zero;
    std::vector<ArithmeticSymbolModel> correctors; // [k], k = 1 .. corrBits
};

int32_t IntegerDecompressor::decompress(ArithmeticDecoder &dec, int32_t prediction, unsigned context)
{
    // Wrapping arithmetic, as the field's bits would.
    uint32_t real = static_cast<uint32_t>(prediction) + static_cast<uint32_t>(readCorrector(dec, kModels[context]));
    if (corrRange) {
        const int32_t r = static_cast<int32_t>(real);
        if (r < 0)
            real += corrRange;
        else if (static_cast<uint32_t>(r) >= corrRange)
            real -= corrRange;
    }
    return static_cast<int32_t>(real);
}

int32_t IntegerDecompressor::readCorrector(ArithmeticDecoder &dec, ArithmeticSymbolModel &bitsModel)
{
    const unsigned k = lastK = dec.decodeSymbol(bitsModel);
    if (k == 0)
        return static_cast<int32_t>(dec.decodeBit(zero));
    if (k > bitsHigh && k >= 32)
        return corrMin;
    uint32_t c = dec.decodeSymbol(correctors[k]);
    if (k > bitsHigh) {
        const unsigned low = k - bitsHigh;
        c = c << low | dec.readBits(low);
    }
    // The k-bit value stands for [-(2^k - 1), -2^(k-1)] and [2^(k-1), 2^k] (k < 32), in
    // wrapping arithmetic; chosen without a branch, as the sign is the coder's.
    const uint32_t half = 1u << (k - 1);
    return static_cast<int32_t>(c + 1 - (c < half) * 2 * half);
}

#endif
