#include "formats/ArithmeticDecoder.h"

#include <algorithm>
#include <climits>

namespace {

constexpr uint32_t kBitLengthShift = 13, kBitMaxCount = 1u << kBitLengthShift;
constexpr uint32_t kSymbolLengthShift = 15, kSymbolMaxCount = 1u << kSymbolLengthShift;

} // namespace

void ArithmeticBitModel::reset()
{
    // Even odds at first, re-estimated after 4 events.
    bit0Count = 1;
    bitCount = 2;
    bit0Prob = 1u << (kBitLengthShift - 1);
    updateCycle = untilUpdate = 4;
}

void ArithmeticBitModel::update()
{
    bitCount += updateCycle;
    if (bitCount > kBitMaxCount) {
        bitCount = (bitCount + 1) >> 1;
        bit0Count = (bit0Count + 1) >> 1;
        if (bit0Count == bitCount)
            ++bitCount;
    }
    const uint32_t scale = 0x80000000u / bitCount;
    bit0Prob = (bit0Count * scale) >> (31 - kBitLengthShift);
    updateCycle = (5 * updateCycle) >> 2;
    if (updateCycle > 64)
        updateCycle = 64;
    untilUpdate = updateCycle;
}

ArithmeticSymbolModel::ArithmeticSymbolModel(uint32_t symbols) : count(symbols < 2 ? 2 : symbols > 2048 ? 2048 : symbols)
{
    lastSymbol = count - 1;
    // The lookup table only speeds the search, it changes no symbol: two slots or more a
    // symbol (16 to 512 of them) leave a step or two after it, and rebuilding it costs little.
    unsigned bits = 4;
    while (bits < 9 && (1u << bits) < 2 * count)
        ++bits;
    tableSize = 1u << bits;
    tableShift = kSymbolLengthShift - bits;
    // distribution[count + 1] (the last a sentinel), symbolCount[count], table[tableSize + guards]
    block.reset(new uint32_t[words()]());
    distribution = block.get();
    distribution[count] = UINT32_MAX;
    symbolCount = distribution + count + 1;
    table = symbolCount + count;
    reset();
}

ArithmeticSymbolModel &ArithmeticSymbolModel::operator=(const ArithmeticSymbolModel &o)
{
    if (this != &o) {
        if (o.count != count)
            *this = ArithmeticSymbolModel(o.count);
        copyState(o);
    }
    return *this;
}

void ArithmeticSymbolModel::copyState(const ArithmeticSymbolModel &o)
{
    totalCount = o.totalCount;
    updateCycle = o.updateCycle;
    untilUpdate = o.untilUpdate;
    std::copy(o.block.get(), o.block.get() + words(), block.get());
}

void ArithmeticSymbolModel::reset()
{
    totalCount = 0;
    updateCycle = count;
    for (uint32_t k = 0; k < count; ++k)
        symbolCount[k] = 1;
    update();
    untilUpdate = updateCycle = (count + 6) >> 1;
}

void ArithmeticSymbolModel::update()
{
    totalCount += updateCycle;
    if (totalCount > kSymbolMaxCount) {
        totalCount = 0;
        for (uint32_t k = 0; k < count; ++k) {
            symbolCount[k] = (symbolCount[k] + 1) >> 1;
            totalCount += symbolCount[k];
        }
    }
    const uint32_t scale = 0x80000000u / totalCount;
    uint32_t sum = 0, s = 0;
    for (uint32_t k = 0; k < count; ++k) {
        distribution[k] = (scale * sum) >> (31 - kSymbolLengthShift);
        sum += symbolCount[k];
        const uint32_t w = distribution[k] >> tableShift;
        while (s < w)
            table[++s] = k - 1;
    }
    table[0] = 0;
    // Slots past the last frequency, and the guards, hold the last symbol.
    while (s < tableSize + kTableGuards - 1)
        table[++s] = count - 1;
    updateCycle = (5 * updateCycle) >> 2;
    const uint32_t maxCycle = (count + 6) << 3;
    if (updateCycle > maxCycle)
        updateCycle = maxCycle;
    untilUpdate = updateCycle;
}

void ArithmeticDecoder::start(const unsigned char *begin, const unsigned char *stop)
{
    at = begin;
    end = stop;
    past = false;
    length = 0xFFFFFFFFu;
    value = 0;
    for (int k = 0; k < 4; ++k)
        value = value << 8 | nextByte();
}

uint32_t ArithmeticDecoder::readShort()
{
    const uint32_t sym = value / (length >>= 16);
    value -= length * sym;
    if (length < kMinLength)
        renormalise();
    return sym & 0xFFFFu;
}

uint32_t ArithmeticDecoder::readBits(unsigned bits)
{
    if (bits > 19) {
        const uint32_t low = readShort();
        return readBits(bits - 16) << 16 | low;
    }
    const uint32_t sym = value / (length >>= bits);
    value -= length * sym;
    if (length < kMinLength)
        renormalise();
    return sym;
}

uint32_t ArithmeticDecoder::readInt()
{
    const uint32_t low = readShort();
    return readShort() << 16 | low;
}
