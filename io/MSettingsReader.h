// A read cursor over a settings block held in memory: the format-private bytes of a stream or the bytes of
// a header chunk. Every read decodes little-endian fields explicitly and advances the position past what it
// consumed, so that the readers of nested blocks can be chained over one cursor.
//
// A read that needs more bytes than are left fails without moving the position, and the failure is sticky:
// every later read fails as well. A reader can therefore decode a whole block and test Ok() once at the
// end. Nothing is ever read past the end of the bytes given to the cursor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CMSettingsReader {
public:
    CMSettingsReader(const uint8_t* data, std::size_t size) : m_pData(data), m_Size(data ? size : 0) {}

    bool Ok() const { return !m_bFailed; }
    std::size_t Position() const { return m_Pos; }
    std::size_t Size() const { return m_Size; }
    std::size_t Remaining() const { return m_Size - m_Pos; }
    // True when the last failure came from a read that ran past the end of the bytes.
    bool RanOut() const { return m_bRanOut; }
    // Marks the block as unusable, for checks of field values made by the caller.
    void Fail() { m_bFailed = true; }

    bool U8(uint8_t& v);
    bool U16(uint16_t& v);
    bool U32(uint32_t& v);
    bool U64(uint64_t& v);
    bool I16(int16_t& v);
    bool I32(int32_t& v);
    bool I64(int64_t& v);
    bool F32(float& v);
    bool F64(double& v);
    // One byte; zero is false.
    bool Bool(bool& v);

    // Checks that `count` elements of at least `elementSize` bytes each can still follow; fails the
    // cursor otherwise. Used before a loop over a count taken from the block.
    bool Fits(uint64_t count, std::size_t elementSize);

    bool Skip(std::size_t n);
    bool Bytes(void* dst, std::size_t n);
    // A fixed-width text field of n bytes: the text is the bytes up to the first NUL.
    bool FixedText(std::size_t n, std::string& text);

    // Counted strings: a byte count L (32 or 16 bits) followed by L bytes. The exact form keeps the L bytes
    // as they stand; the NUL-stopped form keeps the bytes before the first NUL and pads with NUL characters
    // to length L. Either way the position advances past the L bytes.
    bool String32Exact(std::string& s);
    bool String32NulStopped(std::string& s);
    bool String16Exact(std::string& s);
    bool String16NulStopped(std::string& s);

private:
    // The next n bytes, or null (and the cursor failed) when fewer are left.
    const uint8_t* Take(std::size_t n);
    bool Counted(std::size_t length, bool nulStopped, std::string& s);

    const uint8_t* m_pData;
    std::size_t m_Size;
    std::size_t m_Pos = 0;
    bool m_bFailed = false;
    bool m_bRanOut = false;
};
