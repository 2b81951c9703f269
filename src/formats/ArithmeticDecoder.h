#ifndef VELMORA_ARITHMETICDECODER_H
#define VELMORA_ARITHMETICDECODER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

/// The decoding steps are inlined wherever they are used: a point takes a few dozen of them,
/// and a call for each would cost as much as the step.
#define LAZ_DECODE_STEP inline __attribute__((always_inline))

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
/// bits of a frequency to the symbol that holds the first frequency of its slot. Each slot
/// holds that symbol with its interval, so that the decoder finds both in one read and looks
/// further only when the slot's frequencies run past the interval. The frequencies end with a
/// sentinel above any quotient the decoder can form. Each symbol's count is kept one below
/// the coder's (which starts at 1), in 16 bits: a model starts by clearing them, and no count
/// reaches 2^16 (an update halves the total once past 2^15, and at most 2^14 + 48 symbols
/// come between two updates).
struct ArithmeticSymbolModel {
    explicit ArithmeticSymbolModel(uint32_t symbols = 2);
    ArithmeticSymbolModel(const ArithmeticSymbolModel &o) : ArithmeticSymbolModel(o.count) { copyState(o); }
    ArithmeticSymbolModel &operator=(const ArithmeticSymbolModel &o);
    // Moving keeps the block, so the pointers into it stay right.
    ArithmeticSymbolModel(ArithmeticSymbolModel &&) = default;
    ArithmeticSymbolModel &operator=(ArithmeticSymbolModel &&) = default;
    /// Back to the first state, which the model takes when it is next used: a chunk of a few
    /// points uses few of its models.
    void reset() { table = kStale; }
    void update();
    /// A slot: the symbol, the first frequency of its interval and the first past it (the
    /// last symbol's interval ends nowhere: it takes the rest of the range).
    static uint64_t slot(uint32_t symbol, uint32_t low, uint32_t high)
    {
        return uint64_t(high) << 32 | symbol << 16 | low;
    }
    /// The slot of the symbol that holds quotient `q`, past the one `from` names (the first
    /// state taken first, when the model was reset).
    uint64_t search(uint64_t from, uint32_t q);

    uint32_t count, lastSymbol, tableShift = 0, totalCount, updateCycle, untilUpdate;
    uint32_t tableSize = 0; // slots of the lookup table over the 2^15 frequencies
    uint16_t *symbolCount = nullptr; // one below the coder's counts
    // The frequencies and the table: the model's own once it has been updated, those of the
    // first state until then (shared by all models of as many symbols), kStale after a reset.
    const uint32_t *distribution = nullptr;
    const uint64_t *table = nullptr;

private:
    struct FirstState;
    static const FirstState &firstState(uint32_t count, unsigned tableBits);
    // The frequencies (and sentinel) and table of `counts` adding up to `total`.
    static void lay(const uint16_t *counts, uint32_t count, uint32_t total, unsigned tableBits, uint32_t *frequencies,
                    uint64_t *slots);
    void begin();
    void copyState(const ArithmeticSymbolModel &o);
    // In 32-bit words: the frequencies and sentinel, then the 16-bit counts (an even number of
    // words in all), then the table and its guards.
    size_t tableAt() const { return (size_t(count) + 1 + (size_t(count) + 1) / 2 + 1) & ~size_t(1); }
    size_t words() const { return tableAt() + 2 * (size_t(tableSize) + kTableGuards); }
    static constexpr uint32_t kTableGuards = 8, kMostSlots = 512;
    // Slots that send every quotient to search(): those of a model not yet back in its first state.
    static const uint64_t kStale[kMostSlots + kTableGuards];
    std::unique_ptr<uint64_t[]> block;
    uint32_t *ownDistribution = nullptr;
    uint64_t *ownTable = nullptr;
    const FirstState *first = nullptr;
};

/// The symbol models of one thread taken into use (first used after a reset) while the list
/// is set: a chunk decoder resets only these before its next chunk rather than every model it
/// holds, most of which a chunk of a few points never uses. A model on the list must stay
/// where it is until the list is reset.
class ArithmeticModelsInUse {
public:
    /// Makes `list` the thread's list while it lasts.
    class Scope {
    public:
        // Out of line: the thread's list is reached only where it is defined.
        explicit Scope(ArithmeticModelsInUse &list);
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        ArithmeticModelsInUse *previous;
    };
    /// Puts every model on the list back to its first state and empties the list.
    void resetAll();

private:
    friend struct ArithmeticSymbolModel;
    static thread_local ArithmeticModelsInUse *current;
    std::vector<ArithmeticSymbolModel *> models;
};

/// A new model of `symbols` values, for the sets below (out of line: it is seldom wanted).
std::unique_ptr<ArithmeticSymbolModel> newSymbolModel(uint32_t symbols);

/// Model `k` of a set that makes each model when it is first used (a context picks one of
/// many, and a chunk of a few points uses few): an array or vector of unique pointers.
template <class Set>
inline ArithmeticSymbolModel &lazyModel(Set &set, unsigned k, uint32_t symbols)
{
    if (!set[k])
        set[k] = newSymbolModel(symbols);
    return *set[k];
}

/// The range decoder of LASzip streams over one block of bytes held in memory. Reading past
/// the block yields zero bytes and sets `overrun()` (as does a block no coder could have
/// written): a caller checks it after each point rather than the decoder raising in the
/// middle of a model update.
class ArithmeticDecoder {
public:
    ArithmeticDecoder() = default;
    ArithmeticDecoder(const unsigned char *begin, const unsigned char *stop) { start(begin, stop); }
    /// Starts on the block: takes its first four bytes as the initial value.
    void start(const unsigned char *begin, const unsigned char *stop);

    LAZ_DECODE_STEP uint32_t decodeBit(ArithmeticBitModel &m);
    LAZ_DECODE_STEP uint32_t decodeSymbol(ArithmeticSymbolModel &m);
    /// Raw bits, 1 to 32 of them, coded with equal probabilities.
    LAZ_DECODE_STEP uint32_t readBits(unsigned bits);
    LAZ_DECODE_STEP uint32_t readInt();
    bool overrun() const { return past; }

private:
    static constexpr uint32_t kMinLength = 0x01000000u, kBitLengthShift = 13, kSymbolLengthShift = 15;
    LAZ_DECODE_STEP uint32_t readShort();
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
    // The slot of the table (its guards cover the quotients a corrupt stream can form, up to
    // 2^15 + 2^6) gives the symbol holding its first frequency, most often the one.
    uint64_t e = m.table[dv >> m.tableShift];
    if (dv >= static_cast<uint32_t>(e >> 32))
        e = m.search(e, dv);
    const uint32_t sym = static_cast<uint32_t>(e >> 16) & 0xFFFFu, high = static_cast<uint32_t>(e >> 32);
    const uint32_t x = (static_cast<uint32_t>(e) & 0xFFFFu) * unit;
    length = high == UINT32_MAX ? length - x : high * unit - x;
    value -= x;
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
    uint32_t low = 0;
    unsigned lowBits = 0;
    if (bits > 19) {
        low = readShort();
        lowBits = 16;
        bits -= 16;
    }
    const uint32_t sym = value / (length >>= bits);
    value -= length * sym;
    if (length < kMinLength)
        renormalise();
    return sym << lowBits | low;
}

uint32_t ArithmeticDecoder::readInt()
{
    const uint32_t low = readShort();
    return readShort() << 16 | low;
}

#endif
