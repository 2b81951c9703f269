#ifndef VELMORA_LAZMEDIAN_H
#define VELMORA_LAZMEDIAN_H

#include <array>
#include <cstdint>

/// The median of the last five values, kept sorted as they come: the prediction of a
/// coordinate's change in LASzip streams. Starts at zero.
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
        if (high) {
            if (x < v[2]) {
                v[4] = v[3];
                v[3] = v[2];
                if (x < v[0]) {
                    v[2] = v[1];
                    v[1] = v[0];
                    v[0] = x;
                } else if (x < v[1]) {
                    v[2] = v[1];
                    v[1] = x;
                } else {
                    v[2] = x;
                }
            } else {
                if (x < v[3]) {
                    v[4] = v[3];
                    v[3] = x;
                } else {
                    v[4] = x;
                }
                high = false;
            }
        } else {
            if (v[2] < x) {
                v[0] = v[1];
                v[1] = v[2];
                if (v[4] < x) {
                    v[2] = v[3];
                    v[3] = v[4];
                    v[4] = x;
                } else if (v[3] < x) {
                    v[2] = v[3];
                    v[3] = x;
                } else {
                    v[2] = x;
                }
            } else {
                if (v[1] < x) {
                    v[0] = v[1];
                    v[1] = x;
                } else {
                    v[0] = x;
                }
                high = true;
            }
        }
    }

private:
    std::array<int32_t, 5> v{};
    bool high = true;
};

#endif
