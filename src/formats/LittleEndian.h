#ifndef VELMORA_LITTLEENDIAN_H
#define VELMORA_LITTLEENDIAN_H

#include <cstdint>
#include <cstring>

/// Little-endian fields of the point formats (LAS, COPC, Potree), whatever the machine.
namespace le {

inline uint16_t u16(const unsigned char *b) { return static_cast<uint16_t>(b[0] | b[1] << 8); }
inline uint32_t u32(const unsigned char *b)
{
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
           static_cast<uint32_t>(b[3]) << 24;
}
inline uint64_t u64(const unsigned char *b) { return static_cast<uint64_t>(u32(b)) | static_cast<uint64_t>(u32(b + 4)) << 32; }
inline double f64(const unsigned char *b)
{
    const uint64_t bits = u64(b);
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
}
inline void put32(char *b, uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        b[k] = static_cast<char>(v >> (8 * k));
}
inline void put64(char *b, uint64_t v)
{
    for (int k = 0; k < 8; ++k)
        b[k] = static_cast<char>(v >> (8 * k));
}

} // namespace le

#endif
