// The exported Neuroshare entry points: each checks handle, structure size and entity in a fixed order
// and forwards to the process-wide adapter.
#include <cstdint>
#include <cstring>

#include "api/KVD.h"
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

// A handle number that can name a slot: 1 to 256.
bool HandleInRange(uint32_t hFile) { return hFile != 0 && hFile <= CKVD::GetMaxFileNumber(); }
bool FileOpen(uint32_t hFile) { return HandleInRange(hFile) && m_KVD.IsFileExistent(hFile); }

}  // namespace

extern "C" {

ns_RESULT ns_GetLibraryInfo(ns_LIBRARYINFO* pLibraryInfo, uint32_t dwLibraryInfoSize)
{
    if (!pLibraryInfo) return ns_OK;
    if (reinterpret_cast<uintptr_t>(pLibraryInfo) == 0xFFFFFFFFu || dwLibraryInfoSize != sizeof(ns_LIBRARYINFO))
        return ns_LIBERROR;
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
}

ns_RESULT ns_OpenFile(char* pszFilename, uint32_t* hFile)
{
    uint32_t handle = 0;
    const int result = m_KVD.Open(pszFilename, &handle);
    if (hFile) *hFile = handle;
    switch (result) {
    case OK: return ns_OK;
    case FILE_OPEN_FAILED: return ns_FILEERROR;
    case WRONG_FILEFORMAT: return ns_TYPEERROR;
    case forWRONG_HEADER: return ns_TYPEERROR;
    case forNO_DATA: return ns_FILEERROR;
    case CKVD::kNoFreeSlot: return ns_LIBERROR;
    default: return ns_OK;
    }
}

ns_RESULT ns_GetFileInfo(uint32_t hFile, ns_FILEINFO* pFileInfo, uint32_t dwFileInfoSize)
{
    if (!FileOpen(hFile)) return ns_BADFILE;
    if (dwFileInfoSize != sizeof(ns_FILEINFO) || !pFileInfo) return ns_LIBERROR;
    m_KVD.GetFileInfo(hFile, pFileInfo);
    return ns_OK;
}

ns_RESULT ns_CloseFile(uint32_t hFile)
{
    if (!HandleInRange(hFile)) return ns_BADFILE;
    return m_KVD.Close(hFile) ? ns_OK : ns_BADFILE;
}

ns_RESULT ns_GetEntityInfo(uint32_t hFile, uint32_t dwEntityID, ns_ENTITYINFO* pEntityInfo, uint32_t dwEntityInfoSize)
{
    if (!HandleInRange(hFile)) return ns_BADFILE;
    if (dwEntityInfoSize != sizeof(ns_ENTITYINFO) || !pEntityInfo) return ns_LIBERROR;
    if (!m_KVD.IsFileExistent(hFile)) return ns_BADFILE;
    if (!m_KVD.IsEntityExistent(hFile, dwEntityID)) return ns_BADENTITY;
    m_KVD.GetEntityInfo(hFile, dwEntityID, pEntityInfo, dwEntityInfoSize);
    return ns_OK;
}

ns_RESULT ns_GetEventInfo(uint32_t hFile, uint32_t dwEntityID, ns_EVENTINFO* pEventInfo, uint32_t dwEventInfoSize)
{
    if (!HandleInRange(hFile)) return ns_BADFILE;
    if (dwEventInfoSize != sizeof(ns_EVENTINFO) || !pEventInfo) return ns_LIBERROR;
    if (!m_KVD.IsFileExistent(hFile)) return ns_BADFILE;
    if (!m_KVD.IsEntityExistent(hFile, dwEntityID, ns_ENTITY_EVENT)) return ns_BADENTITY;
    m_KVD.GetEventInfo(hFile, dwEntityID, pEventInfo, dwEventInfoSize);
    return ns_OK;
}

ns_RESULT ns_GetEventData(uint32_t hFile, uint32_t dwEntityID, uint32_t nIndex, double* pdTimeStamp, void* pData,
                          uint32_t dwDataBufferSize, uint32_t* pdwDataRetSize)
{
    if (!FileOpen(hFile)) return ns_BADFILE;
    if (!m_KVD.IsEntityExistent(hFile, dwEntityID, ns_ENTITY_EVENT)) return ns_BADENTITY;
    return m_KVD.GetEventData(hFile, dwEntityID, nIndex, pdTimeStamp, pData, dwDataBufferSize, pdwDataRetSize)
               ? ns_OK
               : ns_BADINDEX;
}

ns_RESULT ns_GetAnalogInfo(uint32_t hFile, uint32_t dwEntityID, ns_ANALOGINFO* pAnalogInfo, uint32_t dwAnalogInfoSize)
{
    if (!HandleInRange(hFile)) return ns_BADFILE;
    if (dwAnalogInfoSize != sizeof(ns_ANALOGINFO) || !pAnalogInfo) return ns_LIBERROR;
    if (!m_KVD.IsFileExistent(hFile)) return ns_BADFILE;
    if (!m_KVD.IsEntityExistent(hFile, dwEntityID, ns_ENTITY_ANALOG)) return ns_BADENTITY;
    m_KVD.GetAnalogInfo(hFile, dwEntityID, pAnalogInfo, dwAnalogInfoSize);
    return ns_OK;
}

ns_RESULT ns_GetAnalogData(uint32_t hFile, uint32_t dwEntityID, uint32_t dwStartIndex, uint32_t dwIndexCount,
                           uint32_t* pdwContCount, double* pData)
{
    if (!FileOpen(hFile)) return ns_BADFILE;
    if (!m_KVD.IsEntityExistent(hFile, dwEntityID, ns_ENTITY_ANALOG)) return ns_BADENTITY;
    return m_KVD.GetAnalogData(hFile, dwEntityID, dwStartIndex, dwIndexCount, pdwContCount, pData) ? ns_OK
                                                                                                   : ns_BADINDEX;
}

ns_RESULT ns_GetSegmentInfo(uint32_t hFile, uint32_t dwEntityID, ns_SEGMENTINFO* pSegmentInfo,
                            uint32_t dwSegmentInfoSize)
{
    if (!HandleInRange(hFile)) return ns_BADFILE;
    if (dwSegmentInfoSize != sizeof(ns_SEGMENTINFO) || !pSegmentInfo) return ns_LIBERROR;
    if (!m_KVD.IsFileExistent(hFile)) return ns_BADFILE;
    if (!m_KVD.IsEntityExistent(hFile, dwEntityID, ns_ENTITY_SEGMENT)) return ns_BADENTITY;
    m_KVD.GetSegmentInfo(hFile, dwEntityID, pSegmentInfo, dwSegmentInfoSize);
    return ns_OK;
}

ns_RESULT ns_GetSegmentSourceInfo(uint32_t hFile, uint32_t dwEntityID, uint32_t dwSourceID,
                                  ns_SEGSOURCEINFO* pSourceInfo, uint32_t dwSourceInfoSize)
{
    if (!HandleInRange(hFile)) return ns_BADFILE;
    if (dwSourceInfoSize != sizeof(ns_SEGSOURCEINFO) || !pSourceInfo) return ns_LIBERROR;
    if (!m_KVD.IsFileExistent(hFile)) return ns_BADFILE;
    if (!m_KVD.IsEntityExistent(hFile, dwEntityID, ns_ENTITY_SEGMENT)) return ns_BADENTITY;
    if (dwSourceID != 0) return ns_BADSOURCE;
    return m_KVD.GetSegmentSourceInfo(hFile, dwEntityID, dwSourceID, pSourceInfo, dwSourceInfoSize) ? ns_OK
                                                                                                     : ns_BADINDEX;
}

ns_RESULT ns_GetSegmentData(uint32_t hFile, uint32_t dwEntityID, int32_t nIndex, double* pdTimeStamp, double* pData,
                            uint32_t dwDataBufferSize, uint32_t* pdwSampleCount, uint32_t* pdwUnitID)
{
    if (!FileOpen(hFile)) return ns_BADFILE;
    if (!m_KVD.IsEntityExistent(hFile, dwEntityID, ns_ENTITY_SEGMENT)) return ns_BADENTITY;
    return m_KVD.GetSegmentData(hFile, dwEntityID, nIndex, pdTimeStamp, pData, dwDataBufferSize, pdwSampleCount,
                                pdwUnitID)
               ? ns_OK
               : ns_BADINDEX;
}

ns_RESULT ns_GetNeuralInfo(uint32_t hFile, uint32_t, ns_NEURALINFO*, uint32_t dwNeuralInfoSize)
{
    if (!HandleInRange(hFile)) return ns_BADFILE;
    if (dwNeuralInfoSize != sizeof(ns_NEURALINFO)) return ns_LIBERROR;
    if (!m_KVD.IsFileExistent(hFile)) return ns_BADFILE;
    return ns_BADENTITY;
}

ns_RESULT ns_GetNeuralData(uint32_t hFile, uint32_t, uint32_t, uint32_t, double*)
{
    if (!FileOpen(hFile)) return ns_BADFILE;
    return ns_BADENTITY;
}

ns_RESULT ns_GetIndexByTime(uint32_t hFile, uint32_t dwEntityID, double dTime, int32_t nFlag, uint32_t* pdwIndex)
{
    if (!FileOpen(hFile)) return ns_BADFILE;
    if (!m_KVD.IsEntityExistent(hFile, dwEntityID)) return ns_BADENTITY;
    return m_KVD.GetIndexByTime(hFile, dwEntityID, dTime, nFlag, pdwIndex) ? ns_OK : ns_BADINDEX;
}

ns_RESULT ns_GetTimeByIndex(uint32_t hFile, uint32_t dwEntityID, uint32_t dwIndex, double* pdTime)
{
    if (!FileOpen(hFile)) return ns_BADFILE;
    if (!m_KVD.IsEntityExistent(hFile, dwEntityID)) return ns_BADENTITY;
    return m_KVD.GetTimeByIndex(hFile, dwEntityID, dwIndex, pdTime) ? ns_OK : ns_BADINDEX;
}

ns_RESULT ns_GetLastErrorMsg(char*, uint32_t) { return ns_OK; }

}  // extern "C"
