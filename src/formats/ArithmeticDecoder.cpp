#include "formats/ArithmeticDecoder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

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

const uint64_t ArithmeticSymbolModel::kStale[kMostSlots + kTableGuards] = {};

struct ArithmeticSymbolModel::FirstState {
    std::vector<uint32_t> distribution;
    std::vector<uint64_t> table;
};

const ArithmeticSymbolModel::FirstState &ArithmeticSymbolModel::firstState(uint32_t count, unsigned tableBits)
{
    // Made once for each number of symbols (a dozen of them in LASzip streams), when a model
    // of that many is first made; never changed after.
    static std::mutex guard;
    static std::map<uint32_t, std::unique_ptr<FirstState>> states;
    std::lock_guard<std::mutex> lock(guard);
    std::unique_ptr<FirstState> &state = states[count];
    if (!state) {
        state = std::make_unique<FirstState>();
        const std::vector<uint16_t> ones(count, 0); // counts of 1, kept one below
        state->distribution.resize(count + 1);
        state->table.resize((size_t(1) << tableBits) + kTableGuards);
        lay(ones.data(), count, count, tableBits, state->distribution.data(), state->table.data());
    }
    return *state;
}

std::unique_ptr<ArithmeticSymbolModel> newSymbolModel(uint32_t symbols)
{
    return std::make_unique<ArithmeticSymbolModel>(symbols);
}

ArithmeticSymbolModel::ArithmeticSymbolModel(uint32_t symbols) : count(symbols < 2 ? 2 : symbols > 2048 ? 2048 : symbols)
{
    lastSymbol = count - 1;
    // The lookup table only speeds the search, it changes no symbol: two slots or more a
    // symbol (16 to 512 of them) leave a step after few slots.
    unsigned bits = 4;
    while ((1u << bits) < kMostSlots && (1u << bits) < 2 * count)
        ++bits;
    tableSize = 1u << bits;
    tableShift = kSymbolLengthShift - bits;
    // Not cleared: the counts are set when the model is first used, the frequencies and the
    // table at its first update, and nothing reads them before.
    block.reset(new uint64_t[(words() + 1) / 2]);
    ownDistribution = reinterpret_cast<uint32_t *>(block.get());
    symbolCount = reinterpret_cast<uint16_t *>(ownDistribution + count + 1);
    ownTable = block.get() + tableAt() / 2;
    first = &firstState(count, bits);
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
    table = o.table == kStale ? kStale : ownTable;
    distribution = ownDistribution;
    if (table == kStale)
        return;
    if (ArithmeticModelsInUse *list = ArithmeticModelsInUse::current)
        list->models.push_back(this);
    std::copy(o.symbolCount, o.symbolCount + count, symbolCount);
    if (o.table == o.ownTable) {
        std::copy(o.ownDistribution, o.ownDistribution + count + 1, ownDistribution);
        std::copy(o.ownTable, o.ownTable + tableSize + kTableGuards, ownTable);
    } else {
        distribution = o.distribution;
        table = o.table;
    }
}

thread_local ArithmeticModelsInUse *ArithmeticModelsInUse::current = nullptr;

ArithmeticModelsInUse::Scope::Scope(ArithmeticModelsInUse &list) : previous(current) { current = &list; }

ArithmeticModelsInUse::Scope::~Scope() { current = previous; }

void ArithmeticModelsInUse::resetAll()
{
    for (ArithmeticSymbolModel *m : models)
        m->reset();
    models.clear();
}

void ArithmeticSymbolModel::begin()
{
    if (ArithmeticModelsInUse *list = ArithmeticModelsInUse::current)
        list->models.push_back(this);
    // Every count 1 and the frequencies spread evenly, the next update soon.
    std::memset(symbolCount, 0, count * sizeof *symbolCount);
    totalCount = count;
    untilUpdate = updateCycle = (count + 6) >> 1;
    distribution = first->distribution.data();
    table = first->table.data();
}

void ArithmeticSymbolModel::lay(const uint16_t *counts, uint32_t count, uint32_t total, unsigned tableBits,
                                uint32_t *frequencies, uint64_t *slots)
{
    // Slot j starts at frequency j << shift: it takes the symbol whose interval holds that
    // frequency, so symbol k takes the slots from the first one starting in its interval to
    // the first one starting in the next. In one pass over the symbols: each writes its
    // interval into a few slots from its first without looking (a branch on the frequencies
    // would be guessed wrong at most symbols), the next symbol overwrites what is not its
    // predecessor's, and only a symbol with more slots than that goes on writing.
    constexpr uint32_t kBlind = 4;
    const uint32_t scale = 0x80000000u / total;
    const unsigned shift = kSymbolLengthShift - tableBits;
    const uint32_t round = (1u << shift) - 1, slotCount = (1u << tableBits) + kTableGuards;
    uint32_t sum = 0, low = 0, from = 0;
    for (uint32_t k = 0; k + 1 < count; ++k) {
        sum += counts[k] + 1u;
        const uint32_t high = (scale * sum) >> (31 - kSymbolLengthShift), to = (high + round) >> shift;
        frequencies[k] = low;
        const uint64_t e = slot(k, low, high);
        for (uint32_t j = 0; j < kBlind; ++j) // within the guards: `from` is at most 2^tableBits
            slots[from + j] = e;
        for (uint32_t j = from + kBlind; j < to; ++j)
            slots[j] = e;
        low = high;
        from = to;
    }
    // The last symbol's interval ends nowhere: it takes the rest of the range and the guards.
    frequencies[count - 1] = low;
    frequencies[count] = UINT32_MAX;
    const uint64_t e = slot(count - 1, low, UINT32_MAX);
    for (uint32_t j = from; j < slotCount; ++j)
        slots[j] = e;
}

void ArithmeticSymbolModel::update()
{
    totalCount += updateCycle;
    if (totalCount > kSymbolMaxCount) {
        totalCount = 0;
        // A count c becomes (c + 1) / 2: one below, c - 1 becomes (c - 1) / 2.
        for (uint32_t k = 0; k < count; ++k) {
            symbolCount[k] = static_cast<uint16_t>(symbolCount[k] >> 1);
            totalCount += symbolCount[k] + 1u;
        }
    }
    lay(symbolCount, count, totalCount, kSymbolLengthShift - tableShift, ownDistribution, ownTable);
    distribution = ownDistribution;
    table = ownTable;
    updateCycle = (5 * updateCycle) >> 2;
    const uint32_t maxCycle = (count + 6) << 3;
    if (updateCycle > maxCycle)
        updateCycle = maxCycle;
    untilUpdate = updateCycle;
}

uint64_t ArithmeticSymbolModel::search(uint64_t from, uint32_t q)
{
    if (table == kStale) {
        begin();
        from = table[q >> tableShift];
    }
    uint32_t s = static_cast<uint32_t>(from >> 16) & 0xFFFFu;
    while (distribution[s + 1] <= q)
        ++s;
    return slot(s, distribution[s], distribution[s + 1]);
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
    // The coder keeps the value below the length; a block that starts at the length was not
    // written by it, and decoding on would let the value run away from the length (and the
    // quotients past the models' tables). It counts as read past its end.
    if (value == length) {
        past = true;
        --value;
    }
}
