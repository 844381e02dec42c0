// Little-endian byte appender used by the recording builder. It is written independently of the
// library's own decoding so that a misreading of the format cannot hide on both sides of a test.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kvdtest {

class ByteWriter {
public:
    ByteWriter& U8(uint8_t v)
    {
        m_bytes.push_back(v);
        return *this;
    }
    ByteWriter& U16(uint16_t v) { return Le(v, 2); }
    ByteWriter& U32(uint32_t v) { return Le(v, 4); }
    ByteWriter& U64(uint64_t v) { return Le(v, 8); }
    ByteWriter& I16(int16_t v) { return Le(static_cast<uint16_t>(v), 2); }
    ByteWriter& I32(int32_t v) { return Le(static_cast<uint32_t>(v), 4); }
    ByteWriter& F32(float v)
    {
        uint32_t b;
        std::memcpy(&b, &v, 4);
        return Le(b, 4);
    }
    ByteWriter& F64(double v)
    {
        uint64_t b;
        std::memcpy(&b, &v, 8);
        return Le(b, 8);
    }
    ByteWriter& Zeros(std::size_t n)
    {
        m_bytes.insert(m_bytes.end(), n, 0);
        return *this;
    }
    ByteWriter& Raw(const void* p, std::size_t n)
    {
        const auto* b = static_cast<const uint8_t*>(p);
        m_bytes.insert(m_bytes.end(), b, b + n);
        return *this;
    }
    ByteWriter& Raw(const std::vector<uint8_t>& v) { return Raw(v.data(), v.size()); }
    // A fixed-width text field: the text, truncated to the width, then NUL bytes up to the width.
    ByteWriter& Text(const std::string& s, std::size_t width)
    {
        const std::size_t n = s.size() < width ? s.size() : width;
        Raw(s.data(), n);
        return Zeros(width - n);
    }
    // An 8-character chunk id, padded with blanks.
    ByteWriter& Id(const std::string& id)
    {
        std::string padded = id.substr(0, 8);
        padded.resize(8, ' ');
        return Raw(padded.data(), 8);
    }
    // Counted strings: a 32- or 16-bit byte count, then the bytes as they are.
    ByteWriter& Counted32(const std::string& s) { return U32(static_cast<uint32_t>(s.size())).Raw(s.data(), s.size()); }
    ByteWriter& Counted16(const std::string& s) { return U16(static_cast<uint16_t>(s.size())).Raw(s.data(), s.size()); }
    // A chunk head: id and 64-bit size.
    ByteWriter& ChunkHead(const std::string& id, uint64_t size) { return Id(id).U64(size); }

    std::size_t Size() const { return m_bytes.size(); }
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    std::vector<uint8_t>& Bytes() { return m_bytes; }
    void PutU64At(std::size_t at, uint64_t v)
    {
        for (int i = 0; i < 8; ++i) m_bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }

private:
    ByteWriter& Le(uint64_t v, int n)
    {
        for (int i = 0; i < n; ++i) m_bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }

    std::vector<uint8_t> m_bytes;
};

}  // namespace kvdtest
