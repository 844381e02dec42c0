// Damaged and hostile recordings through the whole interface: a recording with every kind of stream is
// cut and has bytes overwritten at random (deterministically), then opened and read entity by entity.
// Whatever the damage, every call of either interface must return a result code: no crash, no read outside
// a buffer (the sanitizer build checks that), no hang and no huge allocation.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "include/kvd.h"
#include "include/nsAPItypes.h"
#include "tests/api/ReadEverything.h"
#include "tests/support/EventRecords.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::RecordingDesc;

// Electrodes, a digital channel, triggers with trial numbers and spikes, with an embedded index.
RecordingDesc EveryKindOfStream()
{
    RecordingDesc rec;
    rec.streams = {kvdtest::ElectrodeStream(3), kvdtest::DigitalStream(), kvdtest::TriggerStream(),
                   kvdtest::SpikeStream(3)};
    kvdtest::TriggerSettingsDesc settings;
    settings.trialSynchronization = 1;
    rec.streams[2].formatPrivate = kvdtest::TriggerSettingsBlock(settings, 6, true);
    rec.stopTime = rec.startTime + 40 * 1000000ULL;
    kvdtest::AddSampleChunks(rec, {0, 1}, {{rec.startTime, 1000}}, 250);
    const uint64_t t0 = rec.startTime;
    kvdtest::ChunkDesc trig;
    trig.id = "trig0001";
    trig.from = t0;
    trig.to = t0 + 40000000;
    trig.data = kvdtest::EncodeTriggers({{t0 + 1000000, 5, 1, 2, 3}, {t0 + 30000000, 6, 2, 2, 4}}, 6);
    rec.chunks.push_back(trig);
    kvdtest::ChunkDesc spikes;
    spikes.id = "spks0001";
    spikes.from = t0;
    spikes.to = t0 + 40000000;
    std::vector<kvdtest::SpikeRecord> records;
    for (int i = 0; i < 6; ++i) {
        kvdtest::SpikeRecord r;
        r.time = t0 + 5000000ULL * static_cast<uint64_t>(i);
        r.channel = static_cast<uint16_t>(i % 3);
        r.samples.assign(8, static_cast<int16_t>(100 * i));
        records.push_back(r);
    }
    spikes.data = kvdtest::EncodeSpikes(records, 8);
    rec.chunks.push_back(spikes);
    kvdtest::AttachIndex(rec);
    return rec;
}

TEST(DamagedRecordings, EveryDamageEndsInAResultCode)
{
    kvdtest::TempDir dir;
    const std::vector<uint8_t> whole = EveryKindOfStream().Encode();
    const std::string path = dir.Path("damaged.kvd");
    std::mt19937 random(20261208);
    int opened = 0;
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> bytes = whole;
        switch (round % 4) {
        case 0:  // cut anywhere
            bytes.resize(random() % bytes.size());
            break;
        case 1:  // a few bytes anywhere
            for (int k = 0; k < 4; ++k) bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
            break;
        case 2:  // the high bytes of a likely count or size field: 0xFF or 0x7F
            for (int k = 0; k < 2; ++k) {
                const std::size_t at = random() % (bytes.size() - 8);
                bytes[at + 3] = (random() & 1) ? 0xFF : 0x7F;
            }
            break;
        default:  // a run of bytes overwritten
        {
            const std::size_t at = random() % bytes.size();
            const std::size_t n = std::min<std::size_t>(1 + random() % 64, bytes.size() - at);
            for (std::size_t i = 0; i < n; ++i) bytes[at + i] = static_cast<uint8_t>(random());
        }
        }
        kvdtest::WriteFile(path, bytes);
        // The array interface opens what the Neuroshare one opens, and answers every call with a result.
        kvd_file* arrays = nullptr;
        const int opening = kvd_open(path.c_str(), &arrays);
        ASSERT_TRUE(opening == KVD_OK || opening == KVD_EFORMAT || opening == KVD_EFILE) << opening;
        if (arrays) {
            ASSERT_EQ(kvdtest::ReadEveryArray(arrays, static_cast<uint64_t>(round)), 0) << "round " << round;
            kvd_close(arrays);
        }
        uint32_t h = 0;
        std::vector<char> name(path.begin(), path.end());
        name.push_back('\0');
        const ns_RESULT result = ns_OpenFile(name.data(), &h);
        ASSERT_TRUE(result == ns_OK || result == ns_TYPEERROR || result == ns_FILEERROR) << result;
        ASSERT_EQ(result == ns_OK, opening == KVD_OK);
        if (result != ns_OK) {
            ASSERT_EQ(h, 0u);
            continue;
        }
        ++opened;
        kvdtest::ReadEverything(h);
        ASSERT_EQ(ns_CloseFile(h), ns_OK);
    }
    EXPECT_GT(opened, 100);  // most damage lies in the data, which must still be read
}

}  // namespace
