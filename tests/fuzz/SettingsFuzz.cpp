// libFuzzer target: the settings blocks of streams and of the file header, the layout chunk and the layout
// description files, each decoded on its own. Input: a byte choosing the reader, the block version (u16
// little-endian), a byte whose low three bits give the writer's major software version, then the block
// (or the file's bytes).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "layout/KVLayout.h"
#include "settings/KVXAInfoAverage.h"
#include "settings/KVXAInfoChannelTool.h"
#include "settings/KVXAInfoFilter.h"
#include "settings/KVXAInfoSpike.h"
#include "settings/KVXAInfoTrigger.h"
#include "settings/MGrid9StimulatorProperty.h"
#include "settings/MMEATriggerProperty.h"
#include "io/MSettingsReader.h"
#include "settings/MTimeWindowProperty.h"
#include "tests/fuzz/SettingsFuzzInput.h"

namespace {

// The bytes as a file of their own, for the readers that take a file.
const std::string& WriteFile(const uint8_t* data, size_t size)
{
    static const std::string path = "/tmp/kvd_settings_fuzz_" + std::to_string(getpid());
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}

void Read(kvdfuzz::Reader reader, uint16_t version, int32_t writer, const uint8_t* data, size_t size)
{
    using kvdfuzz::Reader;
    CMSettingsReader in(data, size);
    switch (reader) {
    case Reader::Trigger: CKVXAInfoTrigger().ReadTriggerFormatInfo(in, version, writer); break;
    case Reader::Filter: CKVXAInfoFilter().FromFormatInfo(in, version); break;
    case Reader::Spike: CKVXAInfoSpike().ReadSpikeFormatInfo(in, version, writer); break;
    case Reader::ChannelTool: CKVXAInfoChannelTool().FromFormatInfo(in); break;
    case Reader::Average: CKVXAInfoAverage().ReadEvokedFormatInfo(in, static_cast<uint32_t>(size), version); break;
    case Reader::TimeWindow: CMTimeWindowProperty().ReadTimeWindowFormatInfo(in, version); break;
    case Reader::OldSpikeList: {
        std::vector<std::unique_ptr<CMMEATriggerProperty>> records;
        uint32_t p = 0, q = 0, r = 0;
        CMMEATriggerProperty::ReadSpikeFormatInfo(in, static_cast<uint32_t>(size), version, records, p, q, r, writer);
        break;
    }
    case Reader::Stimulator: {
        std::size_t consumed = 0;
        CMGrid9StimulatorProperty().ReadProperty(data, size, consumed);
        break;
    }
    case Reader::LayoutChunk: {
        if (FILE* f = std::fopen(WriteFile(data, size).c_str(), "rb")) {
            CKVLayout().ReadLayout(f);
            std::fclose(f);
        }
        break;
    }
    case Reader::HardwareFile: CKVLayout::CHardware().ReadLayout(WriteFile(data, size).c_str()); break;
    case Reader::AmplifierFile: CKVLayout::CAmplifier().ReadLayout(WriteFile(data, size).c_str()); break;
    case Reader::MeaFile: CKVLayout::CMea().ReadLayout(WriteFile(data, size).c_str()); break;
    case Reader::Count: break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < kvdfuzz::kPrefix) return 0;
    const auto reader = static_cast<kvdfuzz::Reader>(data[0] % static_cast<uint8_t>(kvdfuzz::Reader::Count));
    const uint16_t version = static_cast<uint16_t>(data[1] | data[2] << 8);
    const int32_t writer = static_cast<int32_t>(data[3] & 7) << 16;
    Read(reader, version, writer, data + kvdfuzz::kPrefix, size - kvdfuzz::kPrefix);
    return 0;
}
