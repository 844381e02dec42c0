// Helpers for tests that drive the library through its exported Neuroshare functions.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "include/nsAPItypes.h"
#include "tests/support/RecordingBuilder.h"

namespace kvdtest {

// A recording opened through ns_OpenFile and closed at the end of the scope.
class NsFile {
public:
    NsFile(const RecordingDesc& rec, TempDir& dir, const std::string& name = "rec.kvd")
    {
        std::string path = rec.WriteTo(dir.Path(name));
        m_result = ns_OpenFile(path.data(), &m_handle);
    }
    ~NsFile()
    {
        if (m_handle) ns_CloseFile(m_handle);
    }
    NsFile(const NsFile&) = delete;
    NsFile& operator=(const NsFile&) = delete;

    ns_RESULT Result() const { return m_result; }
    uint32_t Handle() const { return m_handle; }

    ns_ENTITYINFO Entity(uint32_t id) const
    {
        ns_ENTITYINFO info{};
        EXPECT_EQ(ns_GetEntityInfo(m_handle, id, &info, sizeof info), ns_OK) << "entity " << id;
        return info;
    }
    uint32_t EntityCount() const
    {
        ns_FILEINFO info{};
        EXPECT_EQ(ns_GetFileInfo(m_handle, &info, sizeof info), ns_OK);
        return info.dwEntityCount;
    }
    std::vector<double> Analog(uint32_t id, uint32_t start, uint32_t count, uint32_t* cont = nullptr) const
    {
        std::vector<double> values(count);
        uint32_t contCount = 0;
        EXPECT_EQ(ns_GetAnalogData(m_handle, id, start, count, &contCount, values.data()), ns_OK);
        if (cont) *cont = contCount;
        return values;
    }
    double TimeOf(uint32_t id, uint32_t index) const
    {
        double t = -1.0;
        EXPECT_EQ(ns_GetTimeByIndex(m_handle, id, index, &t), ns_OK);
        return t;
    }

private:
    uint32_t m_handle = 0;
    ns_RESULT m_result = ns_LIBERROR;
};

}  // namespace kvdtest
