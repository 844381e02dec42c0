// Little-endian decoding and encoding of record fields. Records are kept as raw byte images and every
// field is read or written through these helpers, so that no C++ struct layout is ever laid over file bytes.
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace kvd {

inline uint16_t LoadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t LoadU64(const uint8_t* p)
{
    return static_cast<uint64_t>(LoadU32(p)) | (static_cast<uint64_t>(LoadU32(p + 4)) << 32);
}
inline int16_t LoadI16(const uint8_t* p) { return static_cast<int16_t>(LoadU16(p)); }
inline int32_t LoadI32(const uint8_t* p) { return static_cast<int32_t>(LoadU32(p)); }
inline int64_t LoadI64(const uint8_t* p) { return static_cast<int64_t>(LoadU64(p)); }
inline float LoadF32(const uint8_t* p)
{
    const uint32_t bits = LoadU32(p);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}
inline double LoadF64(const uint8_t* p)
{
    const uint64_t bits = LoadU64(p);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

inline void StoreU16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreU32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void StoreU64(uint8_t* p, uint64_t v)
{
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void StoreI32(uint8_t* p, int32_t v) { StoreU32(p, static_cast<uint32_t>(v)); }
inline void StoreF32(uint8_t* p, float v)
{
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    StoreU32(p, bits);
}
inline void StoreF64(uint8_t* p, double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    StoreU64(p, bits);
}

// A fixed-size record held as its file image. Offsets are those of the file layout, constants of the code,
// never values read from a file; a field that does not lie wholly inside the record is a programming error,
// stopped by an assertion in debug and sanitizer builds.
template <std::size_t N>
class ByteRecord {
public:
    static constexpr std::size_t kSize = N;

    ByteRecord() { Clear(); }
    void Clear() { m_bytes.fill(0); }

    uint8_t* Data() { return m_bytes.data(); }
    const uint8_t* Data() const { return m_bytes.data(); }

    uint8_t U8(std::size_t off) const { return *At(off, 1); }
    uint16_t U16(std::size_t off) const { return LoadU16(At(off, 2)); }
    uint32_t U32(std::size_t off) const { return LoadU32(At(off, 4)); }
    uint64_t U64(std::size_t off) const { return LoadU64(At(off, 8)); }
    int32_t I32(std::size_t off) const { return LoadI32(At(off, 4)); }
    float F32(std::size_t off) const { return LoadF32(At(off, 4)); }
    double F64(std::size_t off) const { return LoadF64(At(off, 8)); }

    void SetU8(std::size_t off, uint8_t v) { *At(off, 1) = v; }
    void SetU16(std::size_t off, uint16_t v) { StoreU16(At(off, 2), v); }
    void SetU32(std::size_t off, uint32_t v) { StoreU32(At(off, 4), v); }
    void SetU64(std::size_t off, uint64_t v) { StoreU64(At(off, 8), v); }
    void SetI32(std::size_t off, int32_t v) { StoreI32(At(off, 4), v); }
    void SetF32(std::size_t off, float v) { StoreF32(At(off, 4), v); }
    void SetF64(std::size_t off, double v) { StoreF64(At(off, 8), v); }

    // A NUL-terminated text field of `width` bytes. Terminate() forces the last byte of the field to NUL
    // so that a field that a damaged file left unterminated can still be handed out as a C string.
    const char* Text(std::size_t off) const { return reinterpret_cast<const char*>(At(off, 1)); }
    char* Text(std::size_t off) { return reinterpret_cast<char*>(At(off, 1)); }
    void Terminate(std::size_t off, std::size_t width) { At(off, width)[width - 1] = 0; }
    void SetText(std::size_t off, std::size_t width, const char* text)
    {
        std::size_t n = text ? std::strlen(text) : 0;
        if (n > width - 1) n = width - 1;
        std::memset(At(off, width), 0, width);
        if (n) std::memcpy(At(off, width), text, n);
    }

private:
    uint8_t* At(std::size_t off, std::size_t width)
    {
        assert(width >= 1 && off <= N && width <= N - off);
        (void)width;
        return m_bytes.data() + off;
    }
    const uint8_t* At(std::size_t off, std::size_t width) const
    {
        assert(width >= 1 && off <= N && width <= N - off);
        (void)width;
        return m_bytes.data() + off;
    }

    std::array<uint8_t, N> m_bytes;
};

}  // namespace kvd
