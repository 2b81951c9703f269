#ifndef VELMORA_ARITHMETICDECODER_H
#define VELMORA_ARITHMETICDECODER_H

#include <cstddef>
#include <cstdint>
#include <memory>

/// Adaptive probability of one binary event, as the LAZ entropy coder keeps it: counts that
/// are turned into a 13-bit probability at intervals that grow to 64 events.
/// The decoder reads and adapts the fields; nothing else should touch them.
struct ArithmeticBitModel {
    ArithmeticBitModel() { reset(); }
    void reset();
    void update();
    uint32_t bit0Count, bitCount, bit0Prob, untilUpdate, updateCycle;
};

/// Adaptive distribution over `symbols` values (2 to 2048), as the LAZ entropy coder keeps
/// it: 15-bit cumulative frequencies, rebuilt at intervals, with a lookup table from the top
/// bits of a frequency to the first symbol that can hold it. The three arrays share one block;
/// the cumulative frequencies end with a sentinel above any quotient the decoder can form, so
/// that a search upwards always stops.
struct ArithmeticSymbolModel {
    explicit ArithmeticSymbolModel(uint32_t symbols = 2);
    ArithmeticSymbolModel(const ArithmeticSymbolModel &o) : ArithmeticSymbolModel(o.count) { copyState(o); }
    ArithmeticSymbolModel &operator=(const ArithmeticSymbolModel &o);
    // Moving keeps the block, so the pointers into it stay right.
    ArithmeticSymbolModel(ArithmeticSymbolModel &&) = default;
    ArithmeticSymbolModel &operator=(ArithmeticSymbolModel &&) = default;
    void reset();
    void update();

    uint32_t count, lastSymbol, tableShift = 0, totalCount, updateCycle, untilUpdate;
    uint32_t tableSize = 0; // slots of the lookup table over the 2^15 frequencies
    uint32_t *distribution = nullptr, *symbolCount = nullptr, *table = nullptr;

private:
    void copyState(const ArithmeticSymbolModel &o);
    size_t words() const { return 2 * size_t(count) + 1 + tableSize + kTableGuards; }
    static constexpr uint32_t kTableGuards = 8;
    std::unique_ptr<uint32_t[]> block;
};

/// The range decoder of LASzip streams over one block of bytes held in memory. Reading past
/// the block yields zero bytes and sets `overrun()`: a caller checks it after each point
/// rather than the decoder raising in the middle of a model update.
class ArithmeticDecoder {
public:
    ArithmeticDecoder() = default;
    ArithmeticDecoder(const unsigned char *begin, const unsigned char *stop) { start(begin, stop); }
    /// Starts on the block: takes its first four bytes as the initial value.
    void start(const unsigned char *begin, const unsigned char *stop);

    inline uint32_t decodeBit(ArithmeticBitModel &m);
    inline uint32_t decodeSymbol(ArithmeticSymbolModel &m);
    /// Raw bits, 1 to 32 of them, coded with equal probabilities.
    uint32_t readBits(unsigned bits);
    uint32_t readInt();
    bool overrun() const { return past; }

private:
    static constexpr uint32_t kMinLength = 0x01000000u, kBitLengthShift = 13, kSymbolLengthShift = 15;
    uint32_t readShort();
    unsigned char nextByte() { return at < end ? *at++ : (past = true, 0); }
    void renormalise()
    {
        do {
            value = value << 8 | nextByte();
        } while ((length <<= 8) < kMinLength);
    }
    const unsigned char *at = nullptr, *end = nullptr;
    uint32_t value = 0, length = 0;
    bool past = false;
};

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
    // The symbol s is the one whose interval [d[s], d[s + 1]) of the cumulative frequencies
    // holds value / (length >> 15): x * L <= v exactly when x <= v / L in integers.
    const uint32_t unit = length >> kSymbolLengthShift;
    const uint32_t dv = value / unit;
    const uint32_t *d = m.distribution;
    // The table gives the first symbol its slot can hold (its guards cover the quotients a
    // corrupt stream can form, up to 2^15 + 2^6).
    uint32_t sym = m.table[dv >> m.tableShift];
    while (d[sym + 1] <= dv)
        ++sym;
    const uint32_t x = d[sym] * unit;
    length = sym == m.lastSymbol ? length - x : d[sym + 1] * unit - x;
    value -= x;
    if (length < kMinLength)
        renormalise();
    ++m.symbolCount[sym];
    if (--m.untilUpdate == 0)
        m.update();
    return sym;
}

#endif
