// Fails one allocation at a time under a whole open-and-read sequence: every exported call must still
// return a result code, the file table must stay usable, and nothing may leak (checked by the sanitizer
// build); and under a walk over a stream's sample frames, which must yield every frame or fail. The test
// binary replaces the global allocation functions, so it runs on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "include/nsAPItypes.h"
#include "reader/KVXAStreamFile.h"
#include "streams/KVXAEvent.h"
#include "streams/KVXAStream.h"
#include "tests/support/EventRecords.h"
#include "tests/support/RecordingBuilder.h"

namespace {

// Allocations still to pass before the one that fails; negative: none fails.
long g_allocationsBeforeFailure = -1;
bool g_failed = false;

void* Allocate(std::size_t n)
{
    if (g_allocationsBeforeFailure == 0) {
        g_allocationsBeforeFailure = -1;
        g_failed = true;
        throw std::bad_alloc();
    }
    if (g_allocationsBeforeFailure > 0) --g_allocationsBeforeFailure;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}

void* AllocateOrNull(std::size_t n) noexcept
{
    try {
        return Allocate(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return AllocateOrNull(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return AllocateOrNull(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using namespace kvdtest;

// Continuous or triggered: electrode, digital, trigger and spike streams, with an embedded index.
RecordingDesc Recording(bool triggered)
{
    RecordingDesc rec;
    rec.streams = {ElectrodeStream(2), DigitalStream(), TriggerStream(), SpikeStream(2, 8)};
    TriggerSettingsDesc settings;
    rec.streams[2].formatPrivate = TriggerSettingsBlock(settings, 6, true);
    rec.stopTime = rec.startTime + 20 * 1000000ULL;
    if (triggered) {
        rec.recordingMode = 1;
        rec.startTriggerBufferId = "trig0001";
        AddSampleChunks(rec, {0, 1}, {{rec.startTime, 200}, {rec.startTime + 50000000, 200}}, 100);
    } else {
        AddSampleChunks(rec, {0, 1}, {{rec.startTime, 500}}, 100);
    }
    ChunkDesc trig;
    trig.id = "trig0001";
    trig.from = rec.startTime;
    trig.to = rec.startTime + 20000000;
    trig.data = EncodeTriggers({{rec.startTime + 1000000, 5, 1, 2, 3}}, 6);
    rec.chunks.push_back(trig);
    SpikeRecord spike;
    spike.time = rec.startTime + 2000000;
    spike.channel = 1;
    spike.samples.assign(6, 7);
    ChunkDesc spikes;
    spikes.id = "spks0001";
    spikes.from = rec.startTime;
    spikes.to = rec.startTime + 20000000;
    spikes.data = EncodeSpikes({spike, spike}, 8);
    rec.chunks.push_back(spikes);
    AttachIndex(rec);
    return rec;
}

bool IsResultCode(ns_RESULT r) { return r <= ns_OK && r >= ns_BADINDEX; }

// Every call of every entity, each answer a result code; false when one is not. `values` is allocated
// by the caller: the test itself allocates nothing while a failure is armed.
bool ReadEverythingChecked(uint32_t h, std::vector<double>& values)
{
    ns_FILEINFO file;
    const ns_RESULT r = ns_GetFileInfo(h, &file, sizeof file);
    if (r != ns_OK) return IsResultCode(r);
    bool valid = true;
    auto check = [&](ns_RESULT result) { valid = valid && IsResultCode(result); };
    for (uint32_t id = 0; id < file.dwEntityCount; ++id) {
        ns_ENTITYINFO entity;
        const ns_RESULT e = ns_GetEntityInfo(h, id, &entity, sizeof entity);
        check(e);
        if (e != ns_OK) continue;
        double t = 0;
        uint32_t index = 0, size = 0, unit = 0, count = 0;
        check(ns_GetIndexByTime(h, id, 0.002, ns_CLOSEST, &index));
        check(ns_GetTimeByIndex(h, id, 0, &t));
        const uint32_t items = std::min<uint32_t>(entity.dwItemCount, 4);
        if (entity.dwEntityType == ns_ENTITY_ANALOG) {
            ns_ANALOGINFO info;
            check(ns_GetAnalogInfo(h, id, &info, sizeof info));
            const uint32_t n = std::min<uint32_t>(entity.dwItemCount, 1024);
            check(ns_GetAnalogData(h, id, entity.dwItemCount - n, n, &count, values.data()));
        } else if (entity.dwEntityType == ns_ENTITY_EVENT) {
            ns_EVENTINFO info;
            check(ns_GetEventInfo(h, id, &info, sizeof info));
            for (uint32_t k = 0; k < items; ++k) check(ns_GetEventData(h, id, k, &t, values.data(), 8, &size));
        } else if (entity.dwEntityType == ns_ENTITY_SEGMENT) {
            ns_SEGMENTINFO info;
            check(ns_GetSegmentInfo(h, id, &info, sizeof info));
            ns_SEGSOURCEINFO source;
            check(ns_GetSegmentSourceInfo(h, id, 0, &source, sizeof source));
            // Backwards and forwards: the spike cursor cache is taken and refilled.
            for (uint32_t k = items; k-- > 0;)
                check(ns_GetSegmentData(h, id, static_cast<int32_t>(k), &t, values.data(),
                                        static_cast<uint32_t>(values.size() * sizeof(double)), &count, &unit));
            for (uint32_t k = 0; k < items; ++k)
                check(ns_GetSegmentData(h, id, static_cast<int32_t>(k), &t, values.data(),
                                        static_cast<uint32_t>(values.size() * sizeof(double)), &count, &unit));
        }
    }
    return valid;
}

uint32_t EntityCount(uint32_t h)
{
    ns_FILEINFO file{};
    EXPECT_EQ(ns_GetFileInfo(h, &file, sizeof file), ns_OK);
    return file.dwEntityCount;
}

// The item count of every entity.
std::vector<uint32_t> ItemCounts(uint32_t h, uint32_t entities)
{
    std::vector<uint32_t> counts;
    for (uint32_t id = 0; id < entities; ++id) {
        ns_ENTITYINFO entity{};
        EXPECT_EQ(ns_GetEntityInfo(h, id, &entity, sizeof entity), ns_OK) << "entity " << id;
        counts.push_back(entity.dwItemCount);
    }
    return counts;
}

TEST(FailingAllocation, EveryCallAnswersAndTheFileTableStaysUsable)
{
    TempDir dir;
    for (bool triggered : {false, true}) {
        std::string path = Recording(triggered).WriteTo(dir.Path(triggered ? "trig.kvd" : "cont.kvd"));
        uint32_t h = 0;
        ASSERT_EQ(ns_OpenFile(path.data(), &h), ns_OK);
        const uint32_t entities = EntityCount(h);
        ASSERT_GT(entities, 20u);
        const std::vector<uint32_t> counts = ItemCounts(h, entities);
        ASSERT_EQ(ns_CloseFile(h), ns_OK);

        std::vector<double> values(1024);
        long failures = 0;
        for (long n = 0;; ++n) {
            g_failed = false;
            g_allocationsBeforeFailure = n;
            h = 0;
            const ns_RESULT opened = ns_OpenFile(path.data(), &h);
            const bool valid = IsResultCode(opened) && (opened == ns_OK) == (h != 0);
            const bool read = h == 0 || ReadEverythingChecked(h, values);
            g_allocationsBeforeFailure = -1;
            // Items counted on first use are counted whole by a later call when a count failed.
            if (h) {
                EXPECT_EQ(ItemCounts(h, entities), counts) << "allocation " << n;
            }
            const ns_RESULT closed = h ? ns_CloseFile(h) : ns_OK;
            ASSERT_TRUE(valid) << "allocation " << n << ": open gave " << opened << " with handle " << h;
            ASSERT_TRUE(read) << "allocation " << n;
            ASSERT_EQ(closed, ns_OK) << "allocation " << n;
            if (!g_failed) break;  // the whole sequence ran without reaching the failing allocation
            ++failures;

            // Nothing of the failed attempt holds a slot or a half-built entity list.
            uint32_t again = 0;
            ASSERT_EQ(ns_OpenFile(path.data(), &again), ns_OK) << "allocation " << n;
            EXPECT_EQ(again, 1u) << "allocation " << n;
            EXPECT_EQ(EntityCount(again), entities) << "allocation " << n;
            ASSERT_EQ(ns_CloseFile(again), ns_OK);
        }
        EXPECT_GT(failures, 100) << (triggered ? "triggered" : "continuous");
    }
}

// A walk over the sample frames of a stream yields every frame or ends in the failure: a frame buffer that
// cannot be had must not end the walk as if the stream ended there.
TEST(FailingAllocation, AFrameWalkIsWholeOrFails)
{
    TempDir dir;
    RecordingDesc rec;
    rec.streams = {ElectrodeStream(2)};
    // Chunks of 100, 100, 50, 100 and 20 frames: the walk needs a buffer of a new size at the 50 and after.
    AddSampleChunks(rec, {0}, {{rec.startTime, 250}, {rec.startTime + 1000000000ULL, 120}}, 100);
    const std::string path = rec.WriteTo(dir.Path("frames.kvd"));
    long failures = 0;
    for (long n = 0;; ++n) {
        CKVXAStreamFile file;
        ASSERT_EQ(file.OpenFile(path.c_str()), OK);
        g_failed = false;
        g_allocationsBeforeFailure = n;
        std::size_t frames = 0;
        bool threw = false;
        try {
            std::unique_ptr<CKVXAEvent> cursor(file.GetStream(0)->GetFirstEvent());
            for (bool more = cursor != nullptr; more; more = cursor->Next()) ++frames;
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        g_allocationsBeforeFailure = -1;
        if (!threw) {
            EXPECT_EQ(frames, 370u) << "allocation " << n;
        }
        if (!g_failed) break;
        ++failures;
    }
    EXPECT_GT(failures, 5);
}

}  // namespace
