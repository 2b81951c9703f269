#ifndef VELMORA_LAZFIELDS_H
#define VELMORA_LAZFIELDS_H

#include <cstdint>
#include <cstring>

/// The little-endian fields of the LAS records that the LAZ items read and write. On a
/// little-endian machine each is one load or store: a record written a byte at a time costs a
/// point several stores a field, as the compiler may not merge them around the other fields'
/// reads (the record's bytes may alias anything).
namespace lazfields {

template <class T> inline T load(const unsigned char *b)
{
    T v;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(&v, b, sizeof v);
#else
    v = 0;
    for (unsigned k = 0; k < sizeof v; ++k)
        v = static_cast<T>(v | static_cast<T>(b[k]) << (8 * k));
#endif
    return v;
}
template <class T> inline void store(unsigned char *b, T v)
{
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(b, &v, sizeof v);
#else
    for (unsigned k = 0; k < sizeof v; ++k)
        b[k] = static_cast<unsigned char>(v >> (8 * k));
#endif
}
inline uint16_t u16(const unsigned char *b) { return load<uint16_t>(b); }
inline uint32_t u32(const unsigned char *b) { return load<uint32_t>(b); }
inline int32_t i32(const unsigned char *b) { return static_cast<int32_t>(load<uint32_t>(b)); }
inline uint64_t u64(const unsigned char *b) { return load<uint64_t>(b); }
inline void put16(unsigned char *b, unsigned v) { store(b, static_cast<uint16_t>(v)); }
inline void put32(unsigned char *b, uint32_t v) { store(b, v); }

} // namespace lazfields

#endif
