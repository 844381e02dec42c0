#include "tools/NeuroshareHost.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <vector>

NeuroshareHost::~NeuroshareHost()
{
    Close();
    if (m_pLibrary) dlclose(m_pLibrary);
}

template <typename F>
bool NeuroshareHost::Bind(const char* name, F& f, std::string& error)
{
    f = reinterpret_cast<F>(dlsym(m_pLibrary, name));
    if (!f) error = std::string(name) + " is not exported";
    return f != nullptr;
}

bool NeuroshareHost::Load(const std::string& library, std::string& error)
{
    m_pLibrary = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_pLibrary) {
        error = dlerror();
        return false;
    }
    return Bind("ns_GetLibraryInfo", m_GetLibraryInfo, error) && Bind("ns_OpenFile", m_OpenFile, error) &&
           Bind("ns_GetFileInfo", m_GetFileInfo, error) && Bind("ns_CloseFile", m_CloseFile, error) &&
           Bind("ns_GetEntityInfo", m_GetEntityInfo, error) && Bind("ns_GetEventInfo", m_GetEventInfo, error) &&
           Bind("ns_GetEventData", m_GetEventData, error) && Bind("ns_GetAnalogInfo", m_GetAnalogInfo, error) &&
           Bind("ns_GetAnalogData", m_GetAnalogData, error) && Bind("ns_GetSegmentInfo", m_GetSegmentInfo, error) &&
           Bind("ns_GetSegmentData", m_GetSegmentData, error) && Bind("ns_GetTimeByIndex", m_GetTimeByIndex, error) &&
           Bind("ns_GetLastErrorMsg", m_GetLastErrorMsg, error);
}

void NeuroshareHost::PrintLibrary() const
{
    ns_LIBRARYINFO lib{};
    if (m_GetLibraryInfo(&lib, sizeof lib) != ns_OK) return;
    std::printf("library          %s, version %u.%u, Neuroshare API %u.%u, by %s (%04u-%02u-%02u)\n", lib.szDescription,
                lib.dwLibVersionMaj, lib.dwLibVersionMin, lib.dwAPIVersionMaj, lib.dwAPIVersionMin, lib.szCreator,
                lib.dwTime_Year, lib.dwTime_Month, lib.dwTime_Day);
    for (uint32_t i = 0; i < lib.dwFileDescCount && i < 16; ++i)
        std::printf("file type        %s (%s, magic \"%s\"), up to %u files open\n", lib.FileDesc[i].szDescription,
                    lib.FileDesc[i].szExtension, lib.FileDesc[i].szMagicCode, lib.dwMaxFiles);
}

ns_RESULT NeuroshareHost::Open(const std::string& path)
{
    Close();
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    return m_OpenFile(name.data(), &m_hFile);
}

std::string NeuroshareHost::LastError(ns_RESULT result) const
{
    char text[512] = "";
    m_GetLastErrorMsg(text, sizeof text);
    if (text[0]) return text;
    switch (result) {
    case ns_LIBERROR: return "the library failed";
    case ns_TYPEERROR: return "not a recording of a type the library reads";
    case ns_FILEERROR: return "the file cannot be opened or holds no data";
    case ns_BADFILE: return "no such open file";
    case ns_BADENTITY: return "no such entity";
    case ns_BADSOURCE: return "no such segment source";
    case ns_BADINDEX: return "an index or time out of range";
    default: return "an unknown failure";
    }
}

void NeuroshareHost::PrintFile(const std::string& path)
{
    std::printf("file             %s\n", path.c_str());
    ns_FILEINFO file{};
    m_GetFileInfo(m_hFile, &file, sizeof file);
    m_dwEntityCount = file.dwEntityCount;
    std::printf("type             %s\n", file.szFileType);
    std::printf("application      %s\n", file.szAppName);
    std::printf("recorded         %04u-%02u-%02u %02u:%02u:%02u.%03u\n", file.dwTime_Year, file.dwTime_Month,
                file.dwTime_Day, file.dwTime_Hour, file.dwTime_Min, file.dwTime_Sec, file.dwTime_MilliSec);
    std::printf("time span        %.3f s, resolution %g s\n", file.dTimeSpan, file.dTimeStampResolution);
    std::printf("comment          %s\n", file.szFileComment);
    std::printf("entities         %u\n\n", file.dwEntityCount);
    std::printf("   ID  label                            type      items  details\n");
    for (uint32_t id = 0; id < file.dwEntityCount; ++id) {
        ns_ENTITYINFO info{};
        if (m_GetEntityInfo(m_hFile, id, &info, sizeof info) == ns_OK) PrintEntityRow(id, info);
    }
}

void NeuroshareHost::PrintEntityRow(uint32_t id, const ns_ENTITYINFO& info) const
{
    static const char* const kTypes[] = {"unknown", "event", "analog", "segment", "neural"};
    std::printf("%5u  %-31s  %-7s %8u  ", id, info.szEntityLabel, kTypes[std::min<uint32_t>(info.dwEntityType, 4)],
                info.dwItemCount);
    if (info.dwEntityType == ns_ENTITY_ANALOG) {
        ns_ANALOGINFO a{};
        m_GetAnalogInfo(m_hFile, id, &a, sizeof a);
        std::printf("%g Hz, %s, %g to %g\n", a.dSampleRate, a.szUnits, a.dMinVal, a.dMaxVal);
    } else if (info.dwEntityType == ns_ENTITY_EVENT) {
        ns_EVENTINFO e{};
        m_GetEventInfo(m_hFile, id, &e, sizeof e);
        std::printf("%s, %u bytes\n", e.dwEventType == ns_EVENT_WORD ? "words" : "byte", e.dwMaxDataLength);
    } else if (info.dwEntityType == ns_ENTITY_SEGMENT) {
        ns_SEGMENTINFO s{};
        m_GetSegmentInfo(m_hFile, id, &s, sizeof s);
        if (s.dwMaxSampleCount >= s.dwMinSampleCount)
            std::printf("%u to %u samples at %g Hz, %s\n", s.dwMinSampleCount, s.dwMaxSampleCount, s.dSampleRate,
                        s.szUnits);
        else
            std::printf("no items\n");
    } else {
        std::printf("\n");
    }
}

bool NeuroshareHost::HasEntity(uint32_t entity) const
{
    ns_ENTITYINFO info{};
    return m_GetEntityInfo(m_hFile, entity, &info, sizeof info) == ns_OK;
}

bool NeuroshareHost::PrintItems(uint32_t entity, uint32_t count) const
{
    ns_ENTITYINFO info{};
    if (m_GetEntityInfo(m_hFile, entity, &info, sizeof info) != ns_OK) return false;
    const uint32_t n = std::min(count, info.dwItemCount);
    std::printf("\nentity %u (%s): the first %u of %u items\n", entity, info.szEntityLabel, n, info.dwItemCount);
    if (info.dwEntityType == ns_ENTITY_ANALOG) {
        std::vector<double> values(n);
        uint32_t cont = 0;
        if (n && m_GetAnalogData(m_hFile, entity, 0, n, &cont, values.data()) != ns_OK) return true;
        for (uint32_t i = 0; i < n; ++i) {
            double t = 0;
            m_GetTimeByIndex(m_hFile, entity, i, &t);
            std::printf("  %8u  %12.6f s  %.9g\n", i, t, values[i]);
        }
    } else if (info.dwEntityType == ns_ENTITY_EVENT) {
        for (uint32_t i = 0; i < n; ++i) {
            double t = 0;
            uint16_t words[4] = {};
            uint32_t size = 0;
            m_GetEventData(m_hFile, entity, i, &t, words, sizeof words, &size);
            if (size == 1)
                std::printf("  %8u  %12.6f s  %s\n", i, t, (words[0] & 0xFF) == 1 ? "set" : "clear");
            else
                std::printf(
                    "  %8u  %12.6f s  slope %u  value %u%s\n", i, t, words[0], words[1],
                    size == 8 ? (" trial " + std::to_string(words[2]) + " stimulus " + std::to_string(words[3])).c_str()
                              : "");
        }
    } else if (info.dwEntityType == ns_ENTITY_SEGMENT) {
        ns_SEGMENTINFO s{};
        m_GetSegmentInfo(m_hFile, entity, &s, sizeof s);
        std::vector<double> values(std::max<uint32_t>(1, std::max(s.dwMaxSampleCount, s.dwMinSampleCount)));
        for (uint32_t i = 0; i < n; ++i) {
            double t = 0;
            uint32_t samples = 0, unit = 0;
            if (m_GetSegmentData(m_hFile, entity, static_cast<int32_t>(i), &t, values.data(),
                                 static_cast<uint32_t>(values.size() * sizeof(double)), &samples, &unit) != ns_OK)
                continue;
            std::printf("  %8u  %12.6f s  unit %d  %u samples:", i, t, static_cast<int32_t>(unit), samples);
            for (uint32_t k = 0; k < samples && k < 6; ++k) std::printf(" %.6g", values[k]);
            std::printf("%s\n", samples > 6 ? " ..." : "");
        }
    }
    return true;
}

void NeuroshareHost::Close()
{
    if (m_hFile && m_CloseFile) m_CloseFile(m_hFile);
    m_hFile = 0;
}
