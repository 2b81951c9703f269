#ifndef VELMORA_MORTON_H
#define VELMORA_MORTON_H

#include <cstdint>

/// The ten lowest bits of `v` moved to every third bit (bit i to bit 3 i): three numbers so
/// spread and shifted by 0, 1 and 2 interleave into a 30-bit Morton code. Higher bits of `v`
/// are ignored.
constexpr uint32_t spreadBits10(uint32_t v)
{
    v &= 0x3FF;
    v = (v | (v << 16)) & 0x030000FF;
    v = (v | (v << 8)) & 0x0300F00F;
    v = (v | (v << 4)) & 0x030C30C3;
    v = (v | (v << 2)) & 0x09249249;
    return v;
}

/// The inverse of spreadBits10: every third bit of `v` from the lowest on, as a 10-bit number.
constexpr uint32_t compactBits10(uint32_t v)
{
    v &= 0x09249249;
    v = (v | (v >> 2)) & 0x030C30C3;
    v = (v | (v >> 4)) & 0x0300F00F;
    v = (v | (v >> 8)) & 0x030000FF;
    v = (v | (v >> 16)) & 0x3FF;
    return v;
}

#endif
