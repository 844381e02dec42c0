#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "include/nsAPItypes.h"
#include "tests/api/NeuroshareTestSupport.h"
#include "tests/support/EventRecords.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::NsFile;
using kvdtest::RecordingDesc;

constexpr uint64_t kMs = 1000000ULL;
constexpr double kUnitsPerAD = 1.0 / 8192.0 * 1e-3;

kvdtest::ChunkDesc Chunk(const std::string& id, uint64_t from, uint64_t to, std::vector<uint8_t> data)
{
    kvdtest::ChunkDesc c;
    c.id = id;
    c.from = from;
    c.to = to;
    c.data = std::move(data);
    return c;
}

// A trigger stream (header version 6) whose detector has the given channel and trial synchronisation,
// with three events in two chunks.
RecordingDesc WithTriggers(int32_t channel, bool trial)
{
    RecordingDesc rec;
    kvdtest::StreamDesc trigger = kvdtest::TriggerStream();
    kvdtest::TriggerSettingsDesc settings;
    settings.words[6] = -2;  // slope: falling, magnitude 2
    settings.words[7] = channel;
    settings.trialSynchronization = trial ? 1 : 0;
    trigger.formatPrivate = kvdtest::TriggerSettingsBlock(settings, 6, true);
    rec.streams = {trigger};
    const uint64_t t0 = rec.startTime;
    rec.chunks.push_back(
        Chunk("trig0001", t0, t0 + 128 * kMs,
              kvdtest::EncodeTriggers({{t0 + 10 * kMs, 100, 1, 7, 3}, {t0 + 20 * kMs, 200, 2, 7, 4}}, 6)));
    rec.chunks.push_back(Chunk("trig0001", t0 + 128 * kMs, t0 + 256 * kMs,
                               kvdtest::EncodeTriggers({{t0 + 130 * kMs + 40000, 300, 3, 8, 1}}, 6)));
    return rec;
}

TEST(TriggerEntities, EventsCarryTheDetectorsValues)
{
    kvdtest::TempDir dir;
    NsFile f(WithTriggers(12, false), dir);
    ASSERT_EQ(f.Result(), ns_OK);
    ASSERT_EQ(f.EntityCount(), 1u);
    const ns_ENTITYINFO entity = f.Entity(0);
    EXPECT_STREQ(entity.szEntityLabel, "trig0001 0000 0000 trig0001");
    EXPECT_EQ(entity.dwItemCount, 3u);
    ns_EVENTINFO info;
    ASSERT_EQ(ns_GetEventInfo(f.Handle(), 0, &info, sizeof info), ns_OK);
    EXPECT_EQ(info.dwEventType, static_cast<uint32_t>(ns_EVENT_WORD));
    EXPECT_EQ(info.dwMinDataLength, 4u);
    EXPECT_EQ(info.dwMaxDataLength, 4u);

    uint16_t words[4] = {9, 9, 9, 9};
    double t = 0;
    uint32_t size = 0;
    ASSERT_EQ(ns_GetEventData(f.Handle(), 0, 2, &t, words, sizeof words, &size), ns_OK);
    EXPECT_DOUBLE_EQ(t, 0.13004);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(words[0], 2);    // the slope's magnitude
    EXPECT_EQ(words[1], 300);  // the AD value
    EXPECT_EQ(words[2], 9);    // no trial numbers without trial synchronisation
    // A buffer too small for the words receives nothing, and learns the length.
    words[0] = 9;
    ASSERT_EQ(ns_GetEventData(f.Handle(), 0, 0, nullptr, words, 3, &size), ns_OK);
    EXPECT_EQ(words[0], 9);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(ns_GetEventData(f.Handle(), 0, 3, &t, words, sizeof words, &size), ns_BADINDEX);

    uint32_t index = 0;
    EXPECT_EQ(ns_GetIndexByTime(f.Handle(), 0, 0.015, ns_BEFORE, &index), ns_OK);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(ns_GetIndexByTime(f.Handle(), 0, 0.015, ns_AFTER, &index), ns_BADINDEX);  // between two events
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(ns_GetIndexByTime(f.Handle(), 0, 0.0199, ns_CLOSEST, &index), ns_OK);
    EXPECT_EQ(index, 1u);
}

TEST(TriggerEntities, TrialSynchronisationAndManualTriggers)
{
    kvdtest::TempDir dir;
    NsFile f(WithTriggers(-3, true), dir);
    ASSERT_EQ(f.Result(), ns_OK);
    ns_EVENTINFO info;
    ASSERT_EQ(ns_GetEventInfo(f.Handle(), 0, &info, sizeof info), ns_OK);
    EXPECT_EQ(info.dwMaxDataLength, 8u);
    uint16_t words[4] = {};
    uint32_t size = 0;
    ASSERT_EQ(ns_GetEventData(f.Handle(), 0, 1, nullptr, words, sizeof words, &size), ns_OK);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(words[1], 2);  // a manual trigger reports its count, not the AD value
    EXPECT_EQ(words[2], 7);
    EXPECT_EQ(words[3], 4);
    // Four bytes hold slope and value only; the length reported stays 8.
    uint16_t two[4] = {0, 0, 9, 9};
    ASSERT_EQ(ns_GetEventData(f.Handle(), 0, 1, nullptr, two, 4, &size), ns_OK);
    EXPECT_EQ(two[1], 2);
    EXPECT_EQ(two[2], 9);
    EXPECT_EQ(size, 8u);
}

kvdtest::SpikeRecord Spike(uint64_t t, uint16_t channel, uint16_t unit, int16_t fill, std::size_t n = 4)
{
    kvdtest::SpikeRecord s;
    s.time = t;
    s.channel = channel;
    s.unitId = unit;
    s.samples.assign(n, fill);
    s.samples[0] = static_cast<int16_t>(fill + 1);
    return s;
}

// A spike stream of three channels whose channel IDs are 10, 11, 12; channel 12 has no spikes.
RecordingDesc WithSpikes()
{
    RecordingDesc rec;
    kvdtest::StreamDesc spikes = kvdtest::SpikeStream(3);
    for (int i = 0; i < 3; ++i) spikes.channels[i].id = 10 + i;
    rec.streams = {spikes};
    const uint64_t t0 = rec.startTime;
    const int16_t zero = static_cast<int16_t>(32768 - 65536);
    rec.chunks.push_back(
        Chunk("spks0001", t0, t0 + 128 * kMs,
              kvdtest::EncodeSpikes(
                  {Spike(t0 + 1 * kMs, 10, 0, zero), Spike(t0 + 2 * kMs, 11, 0xFFFF, 100, 6),
                   Spike(t0 + 3 * kMs, 10, 2, 200), Spike(t0 + 4 * kMs, 1, 0, 300)},  // by position: channel 11's
                  8)));
    rec.chunks.push_back(Chunk("spks0001", t0 + 128 * kMs, t0 + 256 * kMs, {}));  // an empty chunk
    rec.chunks.push_back(Chunk("spks0001", t0 + 256 * kMs, t0 + 384 * kMs,
                               kvdtest::EncodeSpikes({Spike(t0 + 300 * kMs, 10, 0, 400),
                                                      Spike(t0 + 301 * kMs, 99, 0, 500)},  // no such channel
                                                     8)));
    return rec;
}

TEST(SpikeEntities, CountsAndDescriptions)
{
    kvdtest::TempDir dir;
    NsFile f(WithSpikes(), dir);
    ASSERT_EQ(f.Result(), ns_OK);
    ASSERT_EQ(f.EntityCount(), 3u);
    EXPECT_STREQ(f.Entity(0).szEntityLabel, "spks0001 0000 0000       E1");
    EXPECT_EQ(f.Entity(0).dwItemCount, 3u);
    EXPECT_EQ(f.Entity(1).dwItemCount, 2u);
    EXPECT_EQ(f.Entity(2).dwItemCount, 0u);
    ns_SEGMENTINFO info;
    ASSERT_EQ(ns_GetSegmentInfo(f.Handle(), 1, &info, sizeof info), ns_OK);
    EXPECT_EQ(info.dwMinSampleCount, 4u);
    EXPECT_EQ(info.dwMaxSampleCount, 6u);
    EXPECT_DOUBLE_EQ(info.dSampleRate, 25000.0);
    ASSERT_EQ(ns_GetSegmentInfo(f.Handle(), 2, &info, sizeof info), ns_OK);
    EXPECT_EQ(info.dwMinSampleCount, 10000000u);
    EXPECT_EQ(info.dwMaxSampleCount, 0u);
    EXPECT_EQ(ns_GetSegmentData(f.Handle(), 2, 0, nullptr, nullptr, 0, nullptr, nullptr), ns_BADINDEX);
}

TEST(SpikeEntities, CutOutsInAnyOrder)
{
    kvdtest::TempDir dir;
    NsFile f(WithSpikes(), dir);
    ASSERT_EQ(f.Result(), ns_OK);
    const uint32_t h = f.Handle();
    double data[8];
    double t = 0;
    uint32_t count = 0, unit = 0;
    // Ascending, then back to an earlier one, interleaved with the other channel.
    const struct {
        uint32_t entity;
        int32_t index;
        double time;
        int16_t fill;
        uint32_t unit;
    } reads[] = {{0, 0, 0.001, static_cast<int16_t>(32768 - 65536), 0},
                 {0, 1, 0.003, 200, 2},
                 {1, 0, 0.002, 100, 0xFFFFFFFFu},
                 {0, 2, 0.300, 400, 0},
                 {0, 1, 0.003, 200, 2},
                 {1, 1, 0.004, 300, 0},
                 {1, 0, 0.002, 100, 0xFFFFFFFFu}};
    for (const auto& r : reads) {
        SCOPED_TRACE(testing::Message() << r.entity << "/" << r.index);
        ASSERT_EQ(ns_GetSegmentData(h, r.entity, r.index, &t, data, sizeof data, &count, &unit), ns_OK);
        EXPECT_DOUBLE_EQ(t, r.time);
        EXPECT_EQ(unit, r.unit);
        const double expected = (static_cast<uint16_t>(r.fill) - 32768) * kUnitsPerAD;
        EXPECT_EQ(data[1], expected);
        EXPECT_EQ(data[0], (static_cast<uint16_t>(r.fill + 1) - 32768) * kUnitsPerAD);
    }
    // The zero-offset word converts to 0 V.
    ASSERT_EQ(ns_GetSegmentData(h, 0, 0, nullptr, data, sizeof data, &count, nullptr), ns_OK);
    EXPECT_EQ(data[1], 0.0);
    EXPECT_EQ(count, 4u);
    // A buffer for two values receives two and learns the full count.
    data[2] = -7.0;
    ASSERT_EQ(ns_GetSegmentData(h, 1, 0, nullptr, data, 2 * sizeof(double), &count, nullptr), ns_OK);
    EXPECT_EQ(count, 6u);
    EXPECT_EQ(data[2], -7.0);
    EXPECT_EQ(ns_GetSegmentData(h, 0, 3, nullptr, data, sizeof data, &count, nullptr), ns_BADINDEX);
}

TEST(SpikeEntities, GroupIDsAbove128EndTheEntityList)
{
    kvdtest::TempDir dir;
    RecordingDesc rec = WithSpikes();
    rec.streams[0].channels[1].groupId = 129;
    rec.streams.insert(rec.streams.begin(), kvdtest::ElectrodeStream(1));  // entities before it stay
    rec.streams.push_back(kvdtest::TriggerStream());                       // streams after it get none
    NsFile f(rec, dir);
    ASSERT_EQ(f.Result(), ns_OK);
    EXPECT_EQ(f.EntityCount(), 1u);
}

// The trigger and spike events are counted when one of their entities is first asked for, by whichever
// function asks, and then every such entity of the file has its items.
TEST(EventStreamEntities, AnyFirstCallCountsEveryEventStream)
{
    kvdtest::TempDir dir;
    RecordingDesc rec = WithTriggers(12, false);
    const RecordingDesc spikes = WithSpikes();
    rec.streams.push_back(spikes.streams[0]);
    rec.chunks.insert(rec.chunks.end(), spikes.chunks.begin(), spikes.chunks.end());
    const std::string path = rec.WriteTo(dir.Path("rec.kvd"));
    // Entity 0: the triggers (3); 1 to 3: the spikes of the three channels (3, 2, 0).
    const uint32_t items[] = {3, 3, 2, 0};
    const std::function<void(uint32_t)> firstCalls[] = {
        [](uint32_t h) {
            double t = 0;
            ASSERT_EQ(ns_GetEventData(h, 0, 2, &t, nullptr, 0, nullptr), ns_OK);
            EXPECT_DOUBLE_EQ(t, 0.13004);
        },
        [](uint32_t h) {
            double t = 0;
            ASSERT_EQ(ns_GetTimeByIndex(h, 0, 1, &t), ns_OK);
            EXPECT_DOUBLE_EQ(t, 0.020);
        },
        [](uint32_t h) {
            uint32_t index = 9;
            ASSERT_EQ(ns_GetIndexByTime(h, 1, 0.300, ns_CLOSEST, &index), ns_OK);
            EXPECT_EQ(index, 2u);
        },
        [](uint32_t h) {
            ns_SEGMENTINFO info{};
            ASSERT_EQ(ns_GetSegmentInfo(h, 2, &info, sizeof info), ns_OK);
            EXPECT_EQ(info.dwMaxSampleCount, 6u);
        },
        [](uint32_t h) {
            double t = 0;
            ASSERT_EQ(ns_GetSegmentData(h, 1, 2, &t, nullptr, 0, nullptr, nullptr), ns_OK);
            EXPECT_DOUBLE_EQ(t, 0.300);
        },
        [](uint32_t h) {
            ns_ENTITYINFO info{};
            ASSERT_EQ(ns_GetEntityInfo(h, 3, &info, sizeof info), ns_OK);
            EXPECT_EQ(info.dwItemCount, 0u);
        },
    };
    for (std::size_t k = 0; k < std::size(firstCalls); ++k) {
        SCOPED_TRACE("first call " + std::to_string(k));
        uint32_t h = 0;
        ASSERT_EQ(ns_OpenFile(const_cast<char*>(path.c_str()), &h), ns_OK);
        firstCalls[k](h);
        for (uint32_t id = 0; id < std::size(items); ++id) {
            ns_ENTITYINFO info{};
            ASSERT_EQ(ns_GetEntityInfo(h, id, &info, sizeof info), ns_OK);
            EXPECT_EQ(info.dwItemCount, items[id]) << "entity " << id;
        }
        ns_CloseFile(h);
    }
}

// Electrode chunks larger than a window of chunk heads, each followed by a digital chunk and a trigger
// chunk. A bit entity asked for first has its bits counted in the pass over the heads that counts the
// triggers, from the windows read for the heads; a trigger entity asked for first leaves the bits to be
// counted on their own. Either way every event entity has the same events.
TEST(EventStreamEntities, BitsCountedInThePassOverTheHeadsAsOnTheirOwn)
{
    kvdtest::TempDir dir;
    RecordingDesc rec;
    rec.streams = {kvdtest::ElectrodeStream(16), kvdtest::DigitalStream(), kvdtest::TriggerStream()};
    rec.stopTime = rec.startTime + 128 * kMs;
    kvdtest::AddSampleChunks(rec, {0, 1}, {{rec.startTime, 3200}}, 320);
    for (uint16_t i = 0; i < 10; ++i) {
        const uint64_t from = rec.chunks[3 * i + 1].from;
        rec.chunks.insert(rec.chunks.begin() + 3 * i + 2,
                          Chunk("trig0001", from, from + 13 * kMs, kvdtest::EncodeTriggers({{from + kMs, i}}, 8)));
    }
    std::string path = rec.WriteTo(dir.Path("rec.kvd"));
    // Entities: 0 to 15 the electrodes, 16 the digital channel, 17 to 32 its bits, 33 the triggers. Each
    // event entity's item count, then the times of its items.
    auto events = [&](uint32_t first) {
        std::vector<double> seen;
        uint32_t h = 0;
        EXPECT_EQ(ns_OpenFile(path.data(), &h), ns_OK);
        ns_ENTITYINFO info{};
        EXPECT_EQ(ns_GetEntityInfo(h, first, &info, sizeof info), ns_OK);
        for (uint32_t id = 17; id <= 33; ++id) {
            EXPECT_EQ(ns_GetEntityInfo(h, id, &info, sizeof info), ns_OK);
            seen.push_back(info.dwItemCount);
            for (uint32_t i = 0; i < info.dwItemCount; ++i) {
                double t = -1.0;
                EXPECT_EQ(ns_GetEventData(h, id, i, &t, nullptr, 0, nullptr), ns_OK);
                seen.push_back(t);
            }
        }
        ns_CloseFile(h);
        return seen;
    };
    const std::vector<double> bitsFirst = events(17);
    EXPECT_GT(bitsFirst.size(), 10000u);
    EXPECT_EQ(bitsFirst, events(33));
}

TEST(EntityMap, StreamOrderDecidesTheEntityIDs)
{
    kvdtest::TempDir dir;
    RecordingDesc rec;
    kvdtest::StreamDesc params = kvdtest::ElectrodeStream(1, "para0001", 9);
    params.dataType = "params";
    rec.streams = {kvdtest::TriggerStream(), kvdtest::ElectrodeStream(2), params, kvdtest::DigitalStream()};
    NsFile f(rec, dir);
    ASSERT_EQ(f.Result(), ns_OK);
    ASSERT_EQ(f.EntityCount(), 20u);  // a parameter stream gives no entity
    EXPECT_EQ(f.Entity(0).dwEntityType, static_cast<uint32_t>(ns_ENTITY_EVENT));
    EXPECT_EQ(f.Entity(2).dwEntityType, static_cast<uint32_t>(ns_ENTITY_ANALOG));
    EXPECT_STREQ(f.Entity(3).szEntityLabel, "digi0001 0060 0000       D1");
    EXPECT_STREQ(f.Entity(19).szEntityLabel, "digi0001 0060 0000       D1 15");
}

}  // namespace
