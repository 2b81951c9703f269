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
    for (ArithmeticSymbolModel &m : correctors)
        m.reset();
    zero.reset();
    lastK = 0;
}
