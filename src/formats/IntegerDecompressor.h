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
    void reset();
    int32_t decompress(ArithmeticDecoder &dec, int32_t prediction, unsigned context = 0);
    /// The bit count of the last correction: the next field's context depends on it.
    unsigned k() const { return lastK; }

private:
    int32_t readCorrector(ArithmeticDecoder &dec, ArithmeticSymbolModel &bitsModel);
    unsigned corrBits, bitsHigh, lastK = 0;
    uint32_t corrRange;
    int32_t corrMin;
    std::vector<ArithmeticSymbolModel> kModels;
    ArithmeticBitModel zero;
    std::vector<ArithmeticSymbolModel> correctors; // [k], k = 1 .. corrBits
};

#endif
