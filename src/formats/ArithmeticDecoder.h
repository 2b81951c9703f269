#ifndef VELMORA_ARITHMETICDECODER_H
#define VELMORA_ARITHMETICDECODER_H

#include <cstddef>
#include <cstdint>
#include <vector>

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
/// it: 15-bit cumulative frequencies, with a lookup table once there are more than 16 symbols.
struct ArithmeticSymbolModel {
    explicit ArithmeticSymbolModel(uint32_t symbols = 2);
    void reset();
    void update();
    uint32_t count, lastSymbol, tableShift = 0, totalCount, updateCycle, untilUpdate;
    std::vector<uint32_t> distribution, symbolCount, table;
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

    uint32_t decodeBit(ArithmeticBitModel &m);
    uint32_t decodeSymbol(ArithmeticSymbolModel &m);
    /// Raw bits, 1 to 32 of them, coded with equal probabilities.
    uint32_t readBits(unsigned bits);
    uint32_t readInt();
    bool overrun() const { return past; }

private:
    uint32_t readShort();
    unsigned char nextByte() { return at < end ? *at++ : (past = true, 0); }
    void renormalise()
    {
        do {
            value = value << 8 | nextByte();
        } while ((length <<= 8) < kMinLength);
    }
    static constexpr uint32_t kMinLength = 0x01000000u;
    const unsigned char *at = nullptr, *end = nullptr;
    uint32_t value = 0, length = 0;
    bool past = false;
};

#endif
