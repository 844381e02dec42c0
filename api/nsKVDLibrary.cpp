// The exported Neuroshare entry points. Each validates its arguments and forwards to the process-wide
// adapter. The order of the checks decides the result when several arguments are wrong, so it is given
// above each function; "H" stands for the whole handle check: handle 0 or above 256, then no file open
// under the handle, each ns_BADFILE. Every body runs inside kvd::GuardedCall: an exception becomes
// ns_LIBERROR and never reaches the host. Every failure records its reason for ns_GetLastErrorMsg.
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "api/GuardedCall.h"
#include "api/KVD.h"
#include "api/LastError.h"
#include "include/nsAPItypes.h"
#include "reader/KVXAStreamFile.h"

#if defined(__i386__)
// On 32-bit x86 the structures have the sizes that hosts of that platform have always passed.
static_assert(sizeof(ns_LIBRARYINFO) == 1192 && sizeof(ns_FILEINFO) == 404 && sizeof(ns_ENTITYINFO) == 40 &&
                  sizeof(ns_EVENTINFO) == 140 && sizeof(ns_ANALOGINFO) == 264 && sizeof(ns_SEGMENTINFO) == 52 &&
                  sizeof(ns_SEGSOURCEINFO) == 248 && sizeof(ns_NEURALINFO) == 136,
              "Neuroshare structure sizes of 32-bit x86");
#elif defined(__x86_64__)
static_assert(sizeof(ns_LIBRARYINFO) == 1192 && sizeof(ns_FILEINFO) == 408 && sizeof(ns_ENTITYINFO) == 40 &&
                  sizeof(ns_EVENTINFO) == 140 && sizeof(ns_ANALOGINFO) == 272 && sizeof(ns_SEGMENTINFO) == 56 &&
                  sizeof(ns_SEGSOURCEINFO) == 256 && sizeof(ns_NEURALINFO) == 136,
              "Neuroshare structure sizes of x86-64");
#endif

namespace {

using FileCall = CKVD::FileCall;

// A handle number that can name a slot: 1 to 256.
bool HandleInRange(uint32_t hFile) { return hFile != 0 && hFile <= CKVD::GetMaxFileNumber(); }

// The names of the structures, for the texts of failures.
template <typename Info>
constexpr const char* kStructure = "the structure";
#define KVD_STRUCTURE_NAME(Info) \
    template <>                  \
    constexpr const char* kStructure<Info> = #Info
KVD_STRUCTURE_NAME(ns_LIBRARYINFO);
KVD_STRUCTURE_NAME(ns_FILEINFO);
KVD_STRUCTURE_NAME(ns_ENTITYINFO);
KVD_STRUCTURE_NAME(ns_EVENTINFO);
KVD_STRUCTURE_NAME(ns_ANALOGINFO);
KVD_STRUCTURE_NAME(ns_SEGMENTINFO);
KVD_STRUCTURE_NAME(ns_SEGSOURCEINFO);
KVD_STRUCTURE_NAME(ns_NEURALINFO);
#undef KVD_STRUCTURE_NAME

template <typename Info>
ns_RESULT WrongStructure(const Info* info, uint32_t size)
{
    return Fail(ns_LIBERROR, StructureText(kStructure<Info>, info, size, sizeof(Info)));
}

// An entity type of the checks below that accepts an entity of any type.
constexpr uint32_t kAnyType = 0;

bool EntityOfType(const CKVD::File& file, uint32_t dwEntityID, uint32_t type)
{
    return type == kAnyType ? m_KVD.IsEntityExistent(file, dwEntityID) : m_KVD.IsEntityExistent(file, dwEntityID, type);
}

// The file under a handle in range, held (alive and locked) until the call ends; empty for a handle out of
// range or without a file. The checks and the work of a call run under one hold, so a file closed by
// another thread meanwhile is either wholly there for the call or not at all.
FileCall Hold(uint32_t hFile) { return HandleInRange(hFile) ? m_KVD.Call(hFile) : FileCall(); }

// An information function: `body(file)` runs with the file held, once the checks pass. The checks test the
// structure between the handle's range and the open file: handle 0 or above 256: ns_BADFILE; size not that
// of the structure, or a null structure: ns_LIBERROR; no file under the handle: ns_BADFILE; no entity of
// the type: ns_BADENTITY.
template <typename Info, typename Body>
ns_RESULT InfoCall(uint32_t hFile, const Info* info, uint32_t size, uint32_t dwEntityID, uint32_t type, Body body)
{
    return kvd::GuardedCall([&] {
        if (!HandleInRange(hFile)) return Fail(ns_BADFILE, HandleText(hFile));
        if (size != sizeof(Info) || !info) return WrongStructure(info, size);
        const FileCall call = m_KVD.Call(hFile);
        if (!call) return Fail(ns_BADFILE, HandleText(hFile));
        if (!EntityOfType(*call, dwEntityID, type)) return Fail(ns_BADENTITY, EntityText(*call, dwEntityID, type));
        return body(*call);
    });
}

// A data function: `body(file)` runs with the file held, once the checks pass: H, then no entity of the
// type: ns_BADENTITY.
template <typename Body>
ns_RESULT DataCall(uint32_t hFile, uint32_t dwEntityID, uint32_t type, Body body)
{
    return kvd::GuardedCall([&] {
        const FileCall call = Hold(hFile);
        if (!call) return Fail(ns_BADFILE, HandleText(hFile));
        if (!EntityOfType(*call, dwEntityID, type)) return Fail(ns_BADENTITY, EntityText(*call, dwEntityID, type));
        return body(*call);
    });
}

}  // namespace

using kvd::GuardedCall;

extern "C" {

// Null pointer: ns_OK, nothing written; pointer 0xFFFFFFFF or size not 1192: ns_LIBERROR.
ns_RESULT ns_GetLibraryInfo(ns_LIBRARYINFO* pLibraryInfo, uint32_t dwLibraryInfoSize)
{
    return GuardedCall([&] {
        if (!pLibraryInfo) return ns_OK;
        if (reinterpret_cast<uintptr_t>(pLibraryInfo) == 0xFFFFFFFFu || dwLibraryInfoSize != sizeof(ns_LIBRARYINFO))
            return WrongStructure(pLibraryInfo, dwLibraryInfoSize);
        pLibraryInfo->dwLibVersionMaj = 3;
        pLibraryInfo->dwLibVersionMin = 7;
        pLibraryInfo->dwAPIVersionMaj = 1;
        pLibraryInfo->dwAPIVersionMin = 3;
        PutText(pLibraryInfo->szDescription, "neuroshare Library to import Korvex data files");
        PutText(pLibraryInfo->szCreator, "Korvex");
        pLibraryInfo->dwTime_Year = 2012;
        pLibraryInfo->dwTime_Month = 12;
        pLibraryInfo->dwTime_Day = 18;
        pLibraryInfo->dwFlags = 0;
        pLibraryInfo->dwMaxFiles = CKVD::GetMaxFileNumber();
        pLibraryInfo->dwFileDescCount = 1;
        ns_FILEDESC& desc = pLibraryInfo->FileDesc[0];
        PutText(desc.szDescription, "KVX data files");
        PutText(desc.szExtension, "*.kvd");
        PutText(desc.szMacCodes, "");
        PutText(desc.szMagicCode, "KVXSTRM");
        return ns_OK;
    });
}

// A null handle pointer: ns_LIBERROR, nothing opened (the file could never be closed). Otherwise the
// reader's open result is mapped to a result code; *hFile is 0 unless the open succeeds.
ns_RESULT ns_OpenFile(char* pszFilename, uint32_t* hFile)
{
    return GuardedCall([&] {
        if (!hFile) return Fail(ns_LIBERROR, "no place for the file handle given (a null pointer)");
        *hFile = 0;
        uint32_t handle = 0;
        errno = 0;
        const int result = m_KVD.Open(pszFilename, &handle);
        const int error = errno;
        *hFile = handle;
        switch (result) {
        case OK: return ns_OK;
        case FILE_OPEN_FAILED: return Fail(ns_FILEERROR, OpenFailureText(pszFilename, result, error));
        case WRONG_FILEFORMAT: return Fail(ns_TYPEERROR, OpenFailureText(pszFilename, result, error));
        case forWRONG_HEADER: return Fail(ns_TYPEERROR, OpenFailureText(pszFilename, result, error));
        case forNO_DATA: return Fail(ns_FILEERROR, OpenFailureText(pszFilename, result, error));
        case CKVD::kNoFreeSlot: return Fail(ns_LIBERROR, NoFreeSlotText());
        default: return ns_OK;
        }
    });
}

// H; then size not 404 (or a null structure): ns_LIBERROR.
ns_RESULT ns_GetFileInfo(uint32_t hFile, ns_FILEINFO* pFileInfo, uint32_t dwFileInfoSize)
{
    return GuardedCall([&] {
        const FileCall call = Hold(hFile);
        if (!call) return Fail(ns_BADFILE, HandleText(hFile));
        if (dwFileInfoSize != sizeof(ns_FILEINFO) || !pFileInfo) return WrongStructure(pFileInfo, dwFileInfoSize);
        m_KVD.GetFileInfo(*call, pFileInfo);
        return ns_OK;
    });
}

// Handle 0 or above 256: ns_BADFILE; then no file under the handle: ns_BADFILE.
ns_RESULT ns_CloseFile(uint32_t hFile)
{
    return GuardedCall([&] {
        if (!HandleInRange(hFile)) return Fail(ns_BADFILE, HandleText(hFile));
        return m_KVD.Close(hFile) ? ns_OK : Fail(ns_BADFILE, HandleText(hFile));
    });
}

// InfoCall with an entity of any type.
ns_RESULT ns_GetEntityInfo(uint32_t hFile, uint32_t dwEntityID, ns_ENTITYINFO* pEntityInfo, uint32_t dwEntityInfoSize)
{
    return InfoCall(hFile, pEntityInfo, dwEntityInfoSize, dwEntityID, kAnyType, [&](CKVD::File& file) {
        m_KVD.GetEntityInfo(file, dwEntityID, pEntityInfo, dwEntityInfoSize);
        return ns_OK;
    });
}

// InfoCall with an event entity.
ns_RESULT ns_GetEventInfo(uint32_t hFile, uint32_t dwEntityID, ns_EVENTINFO* pEventInfo, uint32_t dwEventInfoSize)
{
    return InfoCall(hFile, pEventInfo, dwEventInfoSize, dwEntityID, ns_ENTITY_EVENT, [&](CKVD::File& file) {
        m_KVD.GetEventInfo(file, dwEntityID, pEventInfo, dwEventInfoSize);
        return ns_OK;
    });
}

// DataCall with an event entity; the adapter's failure: ns_BADINDEX.
ns_RESULT ns_GetEventData(uint32_t hFile, uint32_t dwEntityID, uint32_t nIndex, double* pdTimeStamp, void* pData,
                          uint32_t dwDataBufferSize, uint32_t* pdwDataRetSize)
{
    return DataCall(hFile, dwEntityID, ns_ENTITY_EVENT, [&](CKVD::File& file) {
        return m_KVD.GetEventData(file, dwEntityID, nIndex, pdTimeStamp, pData, dwDataBufferSize, pdwDataRetSize)
                   ? ns_OK
                   : Fail(ns_BADINDEX, ItemText(file, dwEntityID, nIndex, 1));
    });
}

// InfoCall with an analog entity.
ns_RESULT ns_GetAnalogInfo(uint32_t hFile, uint32_t dwEntityID, ns_ANALOGINFO* pAnalogInfo, uint32_t dwAnalogInfoSize)
{
    return InfoCall(hFile, pAnalogInfo, dwAnalogInfoSize, dwEntityID, ns_ENTITY_ANALOG, [&](CKVD::File& file) {
        m_KVD.GetAnalogInfo(file, dwEntityID, pAnalogInfo, dwAnalogInfoSize);
        return ns_OK;
    });
}

// DataCall with an analog entity; the adapter's failure: ns_BADINDEX.
ns_RESULT ns_GetAnalogData(uint32_t hFile, uint32_t dwEntityID, uint32_t dwStartIndex, uint32_t dwIndexCount,
                           uint32_t* pdwContCount, double* pData)
{
    return DataCall(hFile, dwEntityID, ns_ENTITY_ANALOG, [&](CKVD::File& file) {
        return m_KVD.GetAnalogData(file, dwEntityID, dwStartIndex, dwIndexCount, pdwContCount, pData)
                   ? ns_OK
                   : Fail(ns_BADINDEX, ItemText(file, dwEntityID, dwStartIndex, dwIndexCount));
    });
}

// InfoCall with a segment entity.
ns_RESULT ns_GetSegmentInfo(uint32_t hFile, uint32_t dwEntityID, ns_SEGMENTINFO* pSegmentInfo,
                            uint32_t dwSegmentInfoSize)
{
    return InfoCall(hFile, pSegmentInfo, dwSegmentInfoSize, dwEntityID, ns_ENTITY_SEGMENT, [&](CKVD::File& file) {
        m_KVD.GetSegmentInfo(file, dwEntityID, pSegmentInfo, dwSegmentInfoSize);
        return ns_OK;
    });
}

// InfoCall with a segment entity; then source not 0: ns_BADSOURCE; the adapter's failure: ns_BADINDEX.
ns_RESULT ns_GetSegmentSourceInfo(uint32_t hFile, uint32_t dwEntityID, uint32_t dwSourceID,
                                  ns_SEGSOURCEINFO* pSourceInfo, uint32_t dwSourceInfoSize)
{
    return InfoCall(hFile, pSourceInfo, dwSourceInfoSize, dwEntityID, ns_ENTITY_SEGMENT, [&](CKVD::File& file) {
        if (dwSourceID != 0) return Fail(ns_BADSOURCE, SourceText(dwSourceID));
        return m_KVD.GetSegmentSourceInfo(file, dwEntityID, dwSourceID, pSourceInfo, dwSourceInfoSize)
                   ? ns_OK
                   : Fail(ns_BADINDEX, UnreadableText(dwEntityID));
    });
}

// DataCall with a segment entity; the adapter's failure: ns_BADINDEX.
ns_RESULT ns_GetSegmentData(uint32_t hFile, uint32_t dwEntityID, int32_t nIndex, double* pdTimeStamp, double* pData,
                            uint32_t dwDataBufferSize, uint32_t* pdwSampleCount, uint32_t* pdwUnitID)
{
    return DataCall(hFile, dwEntityID, ns_ENTITY_SEGMENT, [&](CKVD::File& file) {
        return m_KVD.GetSegmentData(file, dwEntityID, nIndex, pdTimeStamp, pData, dwDataBufferSize, pdwSampleCount,
                                    pdwUnitID)
                   ? ns_OK
                   : Fail(ns_BADINDEX, ItemText(file, dwEntityID, nIndex, 1));
    });
}

// Handle 0 or above 256: ns_BADFILE; size not 136: ns_LIBERROR; no file: ns_BADFILE; otherwise ns_BADENTITY,
// as no neural-event entity exists.
ns_RESULT ns_GetNeuralInfo(uint32_t hFile, uint32_t dwEntityID, ns_NEURALINFO* pNeuralInfo, uint32_t dwNeuralInfoSize)
{
    return GuardedCall([&] {
        if (!HandleInRange(hFile)) return Fail(ns_BADFILE, HandleText(hFile));
        if (dwNeuralInfoSize != sizeof(ns_NEURALINFO)) return WrongStructure(pNeuralInfo, dwNeuralInfoSize);
        const FileCall call = Hold(hFile);
        if (!call) return Fail(ns_BADFILE, HandleText(hFile));
        return Fail(ns_BADENTITY, EntityText(*call, dwEntityID, ns_ENTITY_NEURALEVENT));
    });
}

// H; otherwise ns_BADENTITY.
ns_RESULT ns_GetNeuralData(uint32_t hFile, uint32_t dwEntityID, uint32_t, uint32_t, double*)
{
    return GuardedCall([&] {
        const FileCall call = Hold(hFile);
        return call ? Fail(ns_BADENTITY, EntityText(*call, dwEntityID, ns_ENTITY_NEURALEVENT))
                    : Fail(ns_BADFILE, HandleText(hFile));
    });
}

// DataCall with an entity of any type; the adapter's failure: ns_BADINDEX.
ns_RESULT ns_GetIndexByTime(uint32_t hFile, uint32_t dwEntityID, double dTime, int32_t nFlag, uint32_t* pdwIndex)
{
    return DataCall(hFile, dwEntityID, kAnyType, [&](CKVD::File& file) {
        return m_KVD.GetIndexByTime(file, dwEntityID, dTime, nFlag, pdwIndex)
                   ? ns_OK
                   : Fail(ns_BADINDEX, TimeText(dwEntityID, dTime, nFlag));
    });
}

// DataCall with an entity of any type; the adapter's failure: ns_BADINDEX.
ns_RESULT ns_GetTimeByIndex(uint32_t hFile, uint32_t dwEntityID, uint32_t dwIndex, double* pdTime)
{
    return DataCall(hFile, dwEntityID, kAnyType, [&](CKVD::File& file) {
        return m_KVD.GetTimeByIndex(file, dwEntityID, dwIndex, pdTime)
                   ? ns_OK
                   : Fail(ns_BADINDEX, ItemText(file, dwEntityID, dwIndex, 1));
    });
}

// The text of the calling thread's last failure (empty when none failed), cut to the buffer and always
// terminated; a null buffer or size 0 receives nothing.
ns_RESULT ns_GetLastErrorMsg(char* pszMsgBuffer, uint32_t dwMsgBufferSize)
{
    CopyLastErrorText(pszMsgBuffer, dwMsgBufferSize);
    return ns_OK;
}

}  // extern "C"
