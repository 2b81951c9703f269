#include "formats/IntegerDecompressor.h"

#include <climits>

IntegerDecompressor::IntegerDecompressor(unsigned bits, unsigned contexts, unsigned high) : bitsHigh(high)
{
    if (bits > 0 && bits < 32) {
        corrBits = bits;
        corrRange = 1u << bits;
        corrMin = -static_cast<int32_t>(corrRange / 2);
    } else {
        corrBits = 32;
        corrRange = 0;
        corrMin = INT32_MIN;
    }
    kModels.assign(contexts, ArithmeticSymbolModel(corrBits + 1));
    correctors.reserve(corrBits + 1);
    correctors.emplace_back(2); // unused: k = 0 takes the bit model
    for (unsigned i = 1; i <= corrBits; ++i)
        correctors.emplace_back(i <= bitsHigh ? 1u << i : 1u << bitsHigh);
}

void IntegerDecompressor::reset()
{
    for (ArithmeticSymbolModel &m : kModels)
        m.reset();
    zero.reset();
    for (ArithmeticSymbolModel &m : correctors)
        m.reset();
    lastK = 0;
}

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
    if (k >= 32)
        return corrMin;
    int64_t c;
    if (k <= bitsHigh) {
        c = dec.decodeSymbol(correctors[k]);
    } else {
        const unsigned low = k - bitsHigh;
        c = dec.decodeSymbol(correctors[k]);
        c = (c << low) | dec.readBits(low);
    }
    // The k-bit value stands for [-(2^k - 1), -2^(k-1)] and [2^(k-1), 2^k].
    if (c >= (int64_t(1) << (k - 1)))
        c += 1;
    else
        c -= (int64_t(1) << k) - 1;
    return static_cast<int32_t>(c);
}
