#include "formats/ArithmeticDecoder.h"

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
    if (count > 16) {
        unsigned bits = 3;
        while (count > (1u << (bits + 2)))
            ++bits;
        table.assign((1u << bits) + 2, 0);
        tableShift = kSymbolLengthShift - bits;
    }
    distribution.assign(count, 0);
    symbolCount.assign(count, 0);
    reset();
}

void ArithmeticSymbolModel::reset()
{
    totalCount = 0;
    updateCycle = count;
    for (uint32_t &c : symbolCount)
        c = 1;
    update();
    untilUpdate = updateCycle = (count + 6) >> 1;
}

void ArithmeticSymbolModel::update()
{
    totalCount += updateCycle;
    if (totalCount > kSymbolMaxCount) {
        totalCount = 0;
        for (uint32_t &c : symbolCount) {
            c = (c + 1) >> 1;
            totalCount += c;
        }
    }
    const uint32_t scale = 0x80000000u / totalCount;
    uint32_t sum = 0;
    if (table.empty()) {
        for (uint32_t k = 0; k < count; ++k) {
            distribution[k] = (scale * sum) >> (31 - kSymbolLengthShift);
            sum += symbolCount[k];
        }
    } else {
        const uint32_t tableSize = static_cast<uint32_t>(table.size()) - 2;
        uint32_t s = 0;
        for (uint32_t k = 0; k < count; ++k) {
            distribution[k] = (scale * sum) >> (31 - kSymbolLengthShift);
            sum += symbolCount[k];
            const uint32_t w = distribution[k] >> tableShift;
            while (s < w)
                table[++s] = k - 1;
        }
        table[0] = 0;
        while (s <= tableSize)
            table[++s] = count - 1;
    }
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

uint32_t ArithmeticDecoder::decodeBit(ArithmeticBitModel &m)
{
    const uint32_t x = m.bit0Prob * (length >> kBitLengthShift);
    const uint32_t bit = value >= x;
    if (bit == 0) {
        length = x;
        ++m.bit0Count;
    } else {
        value -= x;
        length -= x;
    }
    if (length < kMinLength)
        renormalise();
    if (--m.untilUpdate == 0)
        m.update();
    return bit;
}

uint32_t ArithmeticDecoder::decodeSymbol(ArithmeticSymbolModel &m)
{
    uint32_t sym, x, y = length;
    if (!m.table.empty()) {
        length >>= kSymbolLengthShift;
        // A corrupt stream can put the value past the interval: keep the lookup inside the table.
        uint32_t dv = value / length;
        uint32_t t = dv >> m.tableShift;
        if (t >= m.table.size() - 1)
            t = static_cast<uint32_t>(m.table.size()) - 2;
        sym = m.table[t];
        uint32_t n = m.table[t + 1] + 1;
        while (n > sym + 1) {
            const uint32_t k = (sym + n) >> 1;
            if (m.distribution[k] > dv)
                n = k;
            else
                sym = k;
        }
        x = m.distribution[sym] * length;
        if (sym != m.lastSymbol)
            y = m.distribution[sym + 1] * length;
    } else {
        x = sym = 0;
        length >>= kSymbolLengthShift;
        uint32_t n = m.count, k = n >> 1;
        do {
            const uint32_t z = length * m.distribution[k];
            if (z > value) {
                n = k;
                y = z;
            } else {
                sym = k;
                x = z;
            }
        } while ((k = (sym + n) >> 1) != sym);
    }
    value -= x;
    length = y - x;
    if (length < kMinLength)
        renormalise();
    ++m.symbolCount[sym];
    if (--m.untilUpdate == 0)
        m.update();
    return sym;
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
