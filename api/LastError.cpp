#include "api/LastError.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "api/KVD.h"
#include "reader/KVXAStreamFile.h"

namespace {

// One per thread: hosts that read files in several threads each see their own failures.
thread_local std::string t_lastError;

const char* EntityTypeName(int32_t type)
{
    switch (type) {
    case ns_ENTITY_EVENT: return "an event";
    case ns_ENTITY_ANALOG: return "an analog";
    case ns_ENTITY_SEGMENT: return "a segment";
    case ns_ENTITY_NEURALEVENT: return "a neural-event";
    default: return "a known";
    }
}

std::string Name(const char* path) { return path ? path : "(no file name)"; }

}  // namespace

void RecordFailure(const std::string& text) noexcept
{
    try {
        t_lastError = text;
    } catch (...) {
        t_lastError.clear();  // no memory for the text: an empty one rather than a stale one
    }
}

void RecordFailure(const char* what, const char* detail) noexcept
{
    try {
        t_lastError = what;
        if (detail) t_lastError += detail;
    } catch (...) {
        t_lastError.clear();
    }
}

const char* LastErrorText() noexcept { return t_lastError.c_str(); }

void CopyLastErrorText(char* buffer, uint32_t size) noexcept
{
    if (!buffer || size == 0) return;
    const std::size_t n = std::min<std::size_t>(t_lastError.size(), size - 1);
    std::memcpy(buffer, t_lastError.data(), n);
    buffer[n] = '\0';
}

std::string OpenFailureText(const char* path, int openResult, int savedErrno)
{
    switch (openResult) {
    case FILE_OPEN_FAILED:
        if (!path) return "cannot open a recording without a file name";
        return "cannot open " + Name(path) + ": " + std::strerror(savedErrno ? savedErrno : EIO);
    case WRONG_FILEFORMAT: return Name(path) + " is not a recording: it does not begin with the KVXSTRM mark";
    case forWRONG_HEADER:
        return Name(path) + " is not a recording: its file header is damaged or of an unknown version";
    case forNO_DATA: return Name(path) + " holds no data";
    default: return "cannot open " + Name(path);
    }
}

std::string NoFreeSlotText()
{
    return "every one of the " + std::to_string(CKVD::GetMaxFileNumber()) + " file slots is in use";
}

std::string HandleText(uint32_t hFile)
{
    if (hFile == 0) return "file handle 0 is not valid";
    if (hFile > CKVD::GetMaxFileNumber())
        return "file handle " + std::to_string(hFile) + " is not valid: handles go from 1 to " +
               std::to_string(CKVD::GetMaxFileNumber());
    return "no file is open under handle " + std::to_string(hFile);
}

std::string StructureText(const char* structure, const void* pointer, uint32_t size, std::size_t expected)
{
    if (size != expected)
        return std::string(structure) + " has " + std::to_string(expected) + " bytes in this library, not " +
               std::to_string(size);
    if (!pointer) return std::string("no ") + structure + " given (a null pointer)";
    return std::string(structure) + " cannot be written";
}

std::string EntityText(CKVD::File& file, uint32_t dwEntityID, int32_t wantedType)
{
    const std::string entity = "entity " + std::to_string(dwEntityID);
    if (!m_KVD.IsEntityExistent(file, dwEntityID)) {
        ns_FILEINFO info{};
        m_KVD.GetFileInfo(file, &info);
        return entity + " does not exist: the file has " + std::to_string(info.dwEntityCount) + " entities";
    }
    return entity + " is not " + EntityTypeName(wantedType) + " entity";
}

std::string SourceText(uint32_t dwSourceID)
{
    return "segment source " + std::to_string(dwSourceID) + " does not exist: every segment has source 0 only";
}

std::string ItemText(CKVD::File& file, uint32_t dwEntityID, int64_t first, uint64_t count)
{
    if (first < 0) return "index " + std::to_string(first) + " is not an item index";
    ns_ENTITYINFO info{};
    m_KVD.GetEntityInfo(file, dwEntityID, &info, sizeof info);
    const std::string items = std::to_string(info.dwItemCount) + " items of entity " + std::to_string(dwEntityID);
    const auto from = static_cast<uint64_t>(first);
    if (count <= 1 && from >= info.dwItemCount) return "index " + std::to_string(from) + " is beyond the " + items;
    if (from + count > info.dwItemCount)
        return "items " + std::to_string(from) + " to " + std::to_string(from + count - 1) + " go beyond the " + items;
    return UnreadableText(dwEntityID);
}

std::string UnreadableText(uint32_t dwEntityID)
{
    return "the data of entity " + std::to_string(dwEntityID) +
           " cannot be read: the recording holds less than it announces";
}

std::string TimeText(uint32_t dwEntityID, double dTime, int32_t nFlag)
{
    char time[64];
    std::snprintf(time, sizeof time, "%.9g s", dTime);
    return "entity " + std::to_string(dwEntityID) + " has no item " +
           (nFlag == ns_BEFORE ? "at or before " : "at or after ") + time;
}
