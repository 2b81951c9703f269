#ifndef VELMORA_LAZMEDIAN_H
#define VELMORA_LAZMEDIAN_H

#include <algorithm>
#include <array>
#include <cstdint>

/// The running median that predicts a coordinate's change in LASzip streams: five values
/// kept sorted, from zero. Each new value goes in by sorted insertion and drives out the
/// largest or the smallest one, in turn as the stream says: the largest while the values
/// come in below the median, the smallest while they come above it.
class LazMedian5 {
public:
    void reset()
    {
        v = {0, 0, 0, 0, 0};
        high = true;
    }
    int32_t get() const { return v[2]; }
    void add(int32_t x)
    {
        // Without branches (the values are the coder's, a branch on them would be guessed
        // wrong half the time): the four kept values, then x inserted among them.
        const unsigned o = high ? 0 : 1;
        const int32_t a = v[o], b = v[o + 1], c = v[o + 2], d = v[o + 3];
        high = (x < v[2]) | (!high & (x == v[2]));
        const int32_t lowX = std::min(a, x), highX = std::max(d, x);
        v = {lowX, std::min(b, std::max(a, x)), std::min(c, std::max(b, x)), std::min(d, std::max(c, x)), highX};
    }

private:
    std::array<int32_t, 5> v{};
    bool high = true;
};

#endif
