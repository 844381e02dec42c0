/* The Neuroshare data-access API (version 1.3) as this library implements it: structures, constants and
 * functions with C linkage. Structures use the compiler's ordinary alignment, as hosts declare them, and
 * every function that takes a structure checks the caller's size against sizeof of this declaration. */
#ifndef NSKVD_NSAPITYPES_H
#define NSKVD_NSAPITYPES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t ns_RESULT;

#define ns_OK 0
#define ns_LIBERROR -1
#define ns_TYPEERROR -2
#define ns_FILEERROR -3
#define ns_BADFILE -4
#define ns_BADENTITY -5
#define ns_BADSOURCE -6
#define ns_BADINDEX -7

#define ns_ENTITY_UNKNOWN 0
#define ns_ENTITY_EVENT 1
#define ns_ENTITY_ANALOG 2
#define ns_ENTITY_SEGMENT 3
#define ns_ENTITY_NEURALEVENT 4

#define ns_EVENT_TEXT 0
#define ns_EVENT_CSV 1
#define ns_EVENT_BYTE 2
#define ns_EVENT_WORD 3
#define ns_EVENT_DWORD 4

#define ns_BEFORE -1
#define ns_CLOSEST 0
#define ns_AFTER 1

typedef struct {
    char szDescription[32];
    char szExtension[8];
    char szMacCodes[8];
    char szMagicCode[16];
} ns_FILEDESC;

typedef struct {
    uint32_t dwLibVersionMaj;
    uint32_t dwLibVersionMin;
    uint32_t dwAPIVersionMaj;
    uint32_t dwAPIVersionMin;
    char szDescription[64];
    char szCreator[64];
    uint32_t dwTime_Year;
    uint32_t dwTime_Month;
    uint32_t dwTime_Day;
    uint32_t dwFlags;
    uint32_t dwMaxFiles;
    uint32_t dwFileDescCount;
    ns_FILEDESC FileDesc[16];
} ns_LIBRARYINFO;

typedef struct {
    char szFileType[32];
    uint32_t dwEntityCount;
    double dTimeStampResolution;
    double dTimeSpan;
    char szAppName[64];
    uint32_t dwTime_Year;
    uint32_t dwTime_Month;
    uint32_t dwTime_DayofWeek;
    uint32_t dwTime_Day;
    uint32_t dwTime_Hour;
    uint32_t dwTime_Min;
    uint32_t dwTime_Sec;
    uint32_t dwTime_MilliSec;
    char szFileComment[256];
} ns_FILEINFO;

typedef struct {
    char szEntityLabel[32];
    uint32_t dwEntityType;
    uint32_t dwItemCount;
} ns_ENTITYINFO;

typedef struct {
    uint32_t dwEventType;
    uint32_t dwMinDataLength;
    uint32_t dwMaxDataLength;
    char szCSVDesc[128];
} ns_EVENTINFO;

typedef struct {
    double dSampleRate;
    double dMinVal;
    double dMaxVal;
    char szUnits[16];
    double dResolution;
    double dLocationX;
    double dLocationY;
    double dLocationZ;
    double dLocationUser;
    double dHighFreqCorner;
    uint32_t dwHighFreqOrder;
    char szHighFilterType[16];
    double dLowFreqCorner;
    uint32_t dwLowFreqOrder;
    char szLowFilterType[16];
    char szProbeInfo[128];
} ns_ANALOGINFO;

typedef struct {
    uint32_t dwSourceCount;
    uint32_t dwMinSampleCount;
    uint32_t dwMaxSampleCount;
    double dSampleRate;
    char szUnits[32];
} ns_SEGMENTINFO;

typedef struct {
    double dMinVal;
    double dMaxVal;
    double dResolution;
    double dSubSampleShift;
    double dLocationX;
    double dLocationY;
    double dLocationZ;
    double dLocationUser;
    double dHighFreqCorner;
    uint32_t dwHighFreqOrder;
    char szHighFilterType[16];
    double dLowFreqCorner;
    uint32_t dwLowFreqOrder;
    char szLowFilterType[16];
    char szProbeInfo[128];
} ns_SEGSOURCEINFO;

typedef struct {
    uint32_t dwSourceEntityID;
    uint32_t dwSourceUnitID;
    char szProbeInfo[128];
} ns_NEURALINFO;

#if defined(__GNUC__)
#define NS_API __attribute__((visibility("default")))
#else
#define NS_API
#endif

NS_API ns_RESULT ns_GetLibraryInfo(ns_LIBRARYINFO* pLibraryInfo, uint32_t dwLibraryInfoSize);
NS_API ns_RESULT ns_OpenFile(char* pszFilename, uint32_t* hFile);
NS_API ns_RESULT ns_GetFileInfo(uint32_t hFile, ns_FILEINFO* pFileInfo, uint32_t dwFileInfoSize);
NS_API ns_RESULT ns_CloseFile(uint32_t hFile);
NS_API ns_RESULT ns_GetEntityInfo(uint32_t hFile, uint32_t dwEntityID, ns_ENTITYINFO* pEntityInfo,
                                  uint32_t dwEntityInfoSize);
NS_API ns_RESULT ns_GetEventInfo(uint32_t hFile, uint32_t dwEntityID, ns_EVENTINFO* pEventInfo,
                                 uint32_t dwEventInfoSize);
NS_API ns_RESULT ns_GetEventData(uint32_t hFile, uint32_t dwEntityID, uint32_t nIndex, double* pdTimeStamp,
                                 void* pData, uint32_t dwDataBufferSize, uint32_t* pdwDataRetSize);
NS_API ns_RESULT ns_GetAnalogInfo(uint32_t hFile, uint32_t dwEntityID, ns_ANALOGINFO* pAnalogInfo,
                                  uint32_t dwAnalogInfoSize);
NS_API ns_RESULT ns_GetAnalogData(uint32_t hFile, uint32_t dwEntityID, uint32_t dwStartIndex,
                                  uint32_t dwIndexCount, uint32_t* pdwContCount, double* pData);
NS_API ns_RESULT ns_GetSegmentInfo(uint32_t hFile, uint32_t dwEntityID, ns_SEGMENTINFO* pSegmentInfo,
                                   uint32_t dwSegmentInfoSize);
NS_API ns_RESULT ns_GetSegmentSourceInfo(uint32_t hFile, uint32_t dwEntityID, uint32_t dwSourceID,
                                         ns_SEGSOURCEINFO* pSourceInfo, uint32_t dwSourceInfoSize);
NS_API ns_RESULT ns_GetSegmentData(uint32_t hFile, uint32_t dwEntityID, int32_t nIndex, double* pdTimeStamp,
                                   double* pData, uint32_t dwDataBufferSize, uint32_t* pdwSampleCount,
                                   uint32_t* pdwUnitID);
NS_API ns_RESULT ns_GetNeuralInfo(uint32_t hFile, uint32_t dwEntityID, ns_NEURALINFO* pNeuralInfo,
                                  uint32_t dwNeuralInfoSize);
NS_API ns_RESULT ns_GetNeuralData(uint32_t hFile, uint32_t dwEntityID, uint32_t dwStartIndex,
                                  uint32_t dwIndexCount, double* pData);
NS_API ns_RESULT ns_GetIndexByTime(uint32_t hFile, uint32_t dwEntityID, double dTime, int32_t nFlag,
                                   uint32_t* pdwIndex);
NS_API ns_RESULT ns_GetTimeByIndex(uint32_t hFile, uint32_t dwEntityID, uint32_t dwIndex, double* pdTime);
NS_API ns_RESULT ns_GetLastErrorMsg(char* pszMsgBuffer, uint32_t dwMsgBufferSize);

#ifdef __cplusplus
}
#endif

#endif
