// A Neuroshare host inside kvdinfo: loads the shared object by name, as analysis programs do, binds the
// exported functions and prints what they report about a recording.
#pragma once

#include <cstdint>
#include <string>

#include "include/nsAPItypes.h"

class NeuroshareHost {
public:
    NeuroshareHost() = default;
    ~NeuroshareHost();
    NeuroshareHost(const NeuroshareHost&) = delete;
    NeuroshareHost& operator=(const NeuroshareHost&) = delete;

    // Loads the library (a name searched as the dynamic loader does, or a path); false with a message.
    bool Load(const std::string& library, std::string& error);

    // Opens the recording; the result of ns_OpenFile.
    ns_RESULT Open(const std::string& path);
    // Why the last call failed: the library's text, or the result code in words when it has none.
    std::string LastError(ns_RESULT result) const;
    void PrintLibrary() const;
    // Prints the open file and a table of its entities.
    void PrintFile(const std::string& path);
    bool HasEntity(uint32_t entity) const;
    // Prints the first `count` items of an entity of the open file; false when the entity does not exist.
    bool PrintItems(uint32_t entity, uint32_t count) const;
    void Close();

private:
    template <typename F>
    bool Bind(const char* name, F& f, std::string& error);
    void PrintEntityRow(uint32_t id, const ns_ENTITYINFO& info) const;

    void* m_pLibrary = nullptr;
    uint32_t m_hFile = 0;
    uint32_t m_dwEntityCount = 0;
    decltype(&ns_GetLibraryInfo) m_GetLibraryInfo = nullptr;
    decltype(&ns_OpenFile) m_OpenFile = nullptr;
    decltype(&ns_GetFileInfo) m_GetFileInfo = nullptr;
    decltype(&ns_CloseFile) m_CloseFile = nullptr;
    decltype(&ns_GetEntityInfo) m_GetEntityInfo = nullptr;
    decltype(&ns_GetEventInfo) m_GetEventInfo = nullptr;
    decltype(&ns_GetEventData) m_GetEventData = nullptr;
    decltype(&ns_GetAnalogInfo) m_GetAnalogInfo = nullptr;
    decltype(&ns_GetAnalogData) m_GetAnalogData = nullptr;
    decltype(&ns_GetSegmentInfo) m_GetSegmentInfo = nullptr;
    decltype(&ns_GetSegmentData) m_GetSegmentData = nullptr;
    decltype(&ns_GetTimeByIndex) m_GetTimeByIndex = nullptr;
    decltype(&ns_GetLastErrorMsg) m_GetLastErrorMsg = nullptr;
};
