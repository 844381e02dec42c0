#include "io/MSettingsReader.h"

#include <cstring>

#include "io/ByteOrder.h"

const uint8_t* CMSettingsReader::Take(std::size_t n)
{
    if (m_bFailed) return nullptr;
    if (n > Remaining()) {
        m_bFailed = true;
        m_bRanOut = true;
        return nullptr;
    }
    const uint8_t* p = m_pData + m_Pos;
    m_Pos += n;
    return p;
}

bool CMSettingsReader::U8(uint8_t& v)
{
    const uint8_t* p = Take(1);
    if (!p) return false;
    v = p[0];
    return true;
}

bool CMSettingsReader::U16(uint16_t& v)
{
    const uint8_t* p = Take(2);
    if (!p) return false;
    v = kvd::LoadU16(p);
    return true;
}

bool CMSettingsReader::U32(uint32_t& v)
{
    const uint8_t* p = Take(4);
    if (!p) return false;
    v = kvd::LoadU32(p);
    return true;
}

bool CMSettingsReader::U64(uint64_t& v)
{
    const uint8_t* p = Take(8);
    if (!p) return false;
    v = kvd::LoadU64(p);
    return true;
}

bool CMSettingsReader::I16(int16_t& v)
{
    const uint8_t* p = Take(2);
    if (!p) return false;
    v = kvd::LoadI16(p);
    return true;
}

bool CMSettingsReader::I32(int32_t& v)
{
    const uint8_t* p = Take(4);
    if (!p) return false;
    v = kvd::LoadI32(p);
    return true;
}

bool CMSettingsReader::I64(int64_t& v)
{
    const uint8_t* p = Take(8);
    if (!p) return false;
    v = kvd::LoadI64(p);
    return true;
}

bool CMSettingsReader::F32(float& v)
{
    const uint8_t* p = Take(4);
    if (!p) return false;
    v = kvd::LoadF32(p);
    return true;
}

bool CMSettingsReader::F64(double& v)
{
    const uint8_t* p = Take(8);
    if (!p) return false;
    v = kvd::LoadF64(p);
    return true;
}

bool CMSettingsReader::Bool(bool& v)
{
    uint8_t b;
    if (!U8(b)) return false;
    v = b != 0;
    return true;
}

bool CMSettingsReader::Fits(uint64_t count, std::size_t elementSize)
{
    if (m_bFailed) return false;
    if (elementSize != 0 && count > Remaining() / elementSize) {
        m_bFailed = true;
        m_bRanOut = true;
        return false;
    }
    return true;
}

bool CMSettingsReader::Skip(std::size_t n) { return Take(n) != nullptr; }

bool CMSettingsReader::Bytes(void* dst, std::size_t n)
{
    const uint8_t* p = Take(n);
    if (!p) return false;
    if (n) std::memcpy(dst, p, n);
    return true;
}

bool CMSettingsReader::FixedText(std::size_t n, std::string& text)
{
    const uint8_t* p = Take(n);
    if (!p) return false;
    const void* nul = n ? std::memchr(p, 0, n) : nullptr;
    const std::size_t len = nul ? static_cast<std::size_t>(static_cast<const uint8_t*>(nul) - p) : n;
    text.assign(reinterpret_cast<const char*>(p), len);
    return true;
}

bool CMSettingsReader::Counted(std::size_t length, bool nulStopped, std::string& s)
{
    const uint8_t* p = Take(length);
    if (!p) return false;
    s.assign(reinterpret_cast<const char*>(p), length);
    if (nulStopped) {
        const std::size_t nul = s.find('\0');
        if (nul != std::string::npos) std::memset(&s[nul], 0, length - nul);
    }
    return true;
}

bool CMSettingsReader::String32Exact(std::string& s)
{
    const std::size_t start = m_Pos;
    uint32_t n;
    if (U32(n) && Counted(n, false, s)) return true;
    m_Pos = start;
    return false;
}

bool CMSettingsReader::String32NulStopped(std::string& s)
{
    const std::size_t start = m_Pos;
    uint32_t n;
    if (U32(n) && Counted(n, true, s)) return true;
    m_Pos = start;
    return false;
}

bool CMSettingsReader::String16Exact(std::string& s)
{
    const std::size_t start = m_Pos;
    uint16_t n;
    if (U16(n) && Counted(n, false, s)) return true;
    m_Pos = start;
    return false;
}

bool CMSettingsReader::String16NulStopped(std::string& s)
{
    const std::size_t start = m_Pos;
    uint16_t n;
    if (U16(n) && Counted(n, true, s)) return true;
    m_Pos = start;
    return false;
}
