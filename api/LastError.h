// The text of the last failure in each thread, which ns_GetLastErrorMsg gives: what failed and why.
// Every failing check of the exported functions records one with `return Fail(code, text);`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "api/KVD.h"
#include "include/nsAPItypes.h"

// Records the text as the calling thread's last failure.
void RecordFailure(const std::string& text) noexcept;
// Records `what` followed by `detail` (which may be null), without allocating before the record.
void RecordFailure(const char* what, const char* detail) noexcept;
// Records the text as the calling thread's last failure and returns `result`.
inline ns_RESULT Fail(ns_RESULT result, const std::string& text) noexcept
{
    RecordFailure(text);
    return result;
}
// The calling thread's last failure ("" while none); valid until the thread's next failure.
const char* LastErrorText() noexcept;
// Copies the last failure into a caller's buffer of `size` bytes, cut to fit and always terminated.
void CopyLastErrorText(char* buffer, uint32_t size) noexcept;

// Texts of the failures. `structure` names a Neuroshare structure ("ns_FILEINFO").
std::string OpenFailureText(const char* path, int openResult, int savedErrno);
std::string NoFreeSlotText();
std::string HandleText(uint32_t hFile);
std::string StructureText(const char* structure, const void* pointer, uint32_t size, std::size_t expected);
std::string EntityText(CKVD::File& file, uint32_t dwEntityID, int32_t wantedType);
std::string SourceText(uint32_t dwSourceID);
// Items `first` to `first + count - 1` that could not be read: beyond the entity's items, or unreadable.
std::string ItemText(CKVD::File& file, uint32_t dwEntityID, int64_t first, uint64_t count);
std::string UnreadableText(uint32_t dwEntityID);
std::string TimeText(uint32_t dwEntityID, double dTime, int32_t nFlag);
