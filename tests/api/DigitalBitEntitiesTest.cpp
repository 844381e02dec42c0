// The bit entities of digital channels through the exported functions, against a reference that keeps one
// record per bit change: counts, times, signs, index and time conversion, read in order and at random,
// in continuous and triggered recordings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <ostream>
#include <string>
#include <vector>

#include "include/nsAPItypes.h"
#include "tests/api/NeuroshareTestSupport.h"
#include "tests/support/ByteWriter.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::NsFile;
using kvdtest::RecordingDesc;

constexpr uint64_t kSecond = 1000000000ULL;
constexpr int32_t kMillisamples = 10000000;  // 10 kHz
constexpr double kPeriod = 1e-4;

struct DigitalCase {
    std::string name;
    bool triggered = false;
    int channels = 1;
    uint32_t samplesPerChunk = 3200;
    std::vector<uint64_t> runs;                   // samples of the run (continuous) or of each sweep
    std::function<uint16_t(int, uint64_t)> word;  // channel, sample index counted across runs
};

// Test listings name a case rather than dump its bytes.
void PrintTo(const DigitalCase& c, std::ostream* os) { *os << c.name; }

// Sweep k starts (1 + 4k) s after the recording start; a continuous run starts with the recording.
uint64_t RunStart(const RecordingDesc& rec, const DigitalCase& c, std::size_t k)
{
    return c.triggered ? rec.startTime + (1 + 4 * k) * kSecond : rec.startTime;
}

RecordingDesc Recording(const DigitalCase& c)
{
    RecordingDesc rec;
    kvdtest::StreamDesc digital = kvdtest::DigitalStream();
    for (int ch = 1; ch < c.channels; ++ch) {
        kvdtest::ChannelDesc more = digital.channels[0];
        more.name = "D" + std::to_string(ch + 1);
        more.hwId = 60 + ch;
        more.id = ch;
        digital.channels.push_back(more);
    }
    rec.streams = {digital};
    if (c.triggered) {
        rec.recordingMode = 1;
        rec.startTriggerBufferId = "trig0001";
        rec.postTrigger = 100.0f;
        rec.streams.insert(rec.streams.begin(), kvdtest::TriggerStream());
    } else {
        rec.stopTime = rec.startTime + c.runs[0] * kSecond / 10000;  // the span decides the sample count
    }
    for (auto& s : rec.streams) s.millisamplesPerSecond = kMillisamples;
    rec.millisamplesPerSecond = kMillisamples;
    uint64_t next = 0;
    for (std::size_t k = 0; k < c.runs.size(); ++k) {
        const uint64_t start = RunStart(rec, c, k);
        for (uint64_t first = 0; first < c.runs[k]; first += c.samplesPerChunk) {
            const uint64_t n = std::min<uint64_t>(c.samplesPerChunk, c.runs[k] - first);
            kvdtest::ChunkDesc chunk;
            chunk.id = "digi0001";
            chunk.from = start + first * kSecond / 10000;
            chunk.to = start + (first + n) * kSecond / 10000;
            kvdtest::ByteWriter w;
            for (uint64_t i = next + first; i < next + first + n; ++i)
                for (int ch = 0; ch < c.channels; ++ch) w.U16(c.word(ch, i));
            chunk.data = w.Bytes();
            rec.chunks.push_back(chunk);
        }
        next += c.runs[k];
    }
    kvdtest::AttachIndex(rec);
    return rec;
}

// Rounds to double: 32-bit x86 computes in 80-bit registers, and the library rounds each step it compares.
double Stored(double value)
{
    volatile double stored = value;
    return stored;
}

// The reference: one record per change of each bit of each channel, a run's first word compared with nothing.
struct Change {
    double time;
    uint8_t sign;
};
std::vector<std::vector<Change>> ReferenceEvents(const DigitalCase& c)
{
    std::vector<std::vector<Change>> bits(16 * static_cast<std::size_t>(c.channels));
    uint64_t next = 0;
    for (std::size_t k = 0; k < c.runs.size(); ++k) {
        const double origin = c.triggered ? 1.0 + 4.0 * static_cast<double>(k) : 0.0;
        for (int ch = 0; ch < c.channels; ++ch)
            for (uint64_t p = 1; p < c.runs[k]; ++p) {
                const uint16_t before = c.word(ch, next + p - 1), now = c.word(ch, next + p);
                for (int b = 0; b < 16; ++b)
                    if ((before ^ now) & (1u << b)) {
                        const double t = Stored(Stored(static_cast<double>(p) * 1000.0 / kMillisamples) + origin);
                        bits[16 * ch + b].push_back({t, (now & (1u << b)) ? uint8_t{1} : uint8_t{255}});
                    }
            }
        next += c.runs[k];
    }
    return bits;
}

// The reference's time search: a walk over the records, each lasting one sample period.
bool ReferenceIndexByTime(const std::vector<Change>& events, double t, int32_t flag, uint32_t& index)
{
    double lasttime = 0.0;
    uint32_t lastindex = 0;
    for (uint32_t i = 0; i < events.size(); ++i) {
        const double t0 = events[i].time, t1 = Stored(t0 + kPeriod);
        if (t0 > t) {
            if (flag == 1 || (flag != -1 && Stored(t - lasttime) > Stored(t0 - t))) lastindex = i;
            break;
        }
        lasttime = t1;
        if (!(t > t1)) {
            const double x = Stored((t1 > t0 ? Stored(Stored(t - t0) / Stored(t1 - t0)) : 0.0) + i);
            const double r = flag == -1 ? std::floor(x) : flag == 1 ? std::ceil(x) : std::trunc(x + 0.5);
            lastindex = r <= 0.0 ? 0u : static_cast<uint32_t>(r);
            break;
        }
        lastindex = i;
    }
    index = lastindex;
    return !(t < 0.0 && flag == -1) && !(t > lasttime && flag == 1);
}

uint16_t Hash(uint64_t i)
{
    uint64_t x = (i + 1) * 0x9E3779B97F4A7C15ULL;
    x ^= x >> 31;
    return static_cast<uint16_t>(x * 0xBF58476D1CE4E5B9ULL >> 48);
}
uint16_t Alternating(uint64_t i) { return i % 2 ? 0xFFFF : 0x0000; }

std::vector<DigitalCase> Cases()
{
    std::vector<DigitalCase> cases;
    // Rare changes: bit 0 a 25-sample pulse every second, bit 7 toggling every 7001 samples, bit 15 set at
    // the first sample of a chunk.
    cases.push_back({"rare", false, 1, 3200, {60000}, [](int, uint64_t i) {
                         return static_cast<uint16_t>((i % 10000 < 25 ? 1u : 0u) | ((i / 7001) % 2 ? 0x80u : 0u) |
                                                      (i >= 32000 ? 0x8000u : 0u));
                     }});
    cases.push_back({"every_bit_every_sample", false, 1, 3200, {9000}, [](int, uint64_t i) { return Alternating(i); }});
    // Two channels: the first changes only at the first sample of each chunk, the second on hashed samples.
    cases.push_back({"chunk_boundaries", false, 2, 1000, {9000}, [](int ch, uint64_t i) {
                         return ch == 0 ? Hash(i / 1000) : Hash(i);
                     }});
    // Sweeps of 1 and 2 samples among long ones; words at a sweep's start differ from the last of the sweep
    // before; every bit changing on every sample in the first sweep.
    cases.push_back({"sweeps", true, 1, 700, {5000, 1, 3000, 2, 6000}, [](int, uint64_t i) {
                         return i < 5000 ? Alternating(i) : Hash(i);
                     }});
    cases.push_back({"sweeps_two_channels", true, 2, 1000, {4500, 4500}, [](int ch, uint64_t i) {
                         return ch == 0 ? static_cast<uint16_t>(i % 3000 < 10 ? 0x0100 : 0) : Alternating(i);
                     }});
    return cases;
}

class DigitalBitEntities : public ::testing::TestWithParam<DigitalCase> {};

TEST_P(DigitalBitEntities, SameAnswersAsOneRecordPerChange)
{
    const DigitalCase& c = GetParam();
    kvdtest::TempDir dir;
    NsFile f(Recording(c), dir);
    ASSERT_EQ(f.Result(), ns_OK);
    const uint32_t h = f.Handle();
    const auto reference = ReferenceEvents(c);

    // The bit entities, channel by channel, in the order of their bits.
    std::vector<uint32_t> ids;
    for (uint32_t id = 0; id < f.EntityCount(); ++id) {
        const ns_ENTITYINFO info = f.Entity(id);
        if (info.dwEntityType == ns_ENTITY_EVENT && !std::strncmp(info.szEntityLabel, "digi", 4)) ids.push_back(id);
    }
    ASSERT_EQ(ids.size(), reference.size());

    std::mt19937 random(11);
    for (std::size_t k = 0; k < ids.size(); ++k) {
        const uint32_t id = ids[k];
        const std::vector<Change>& events = reference[k];
        SCOPED_TRACE("channel " + std::to_string(k / 16) + " bit " + std::to_string(k % 16));
        ASSERT_EQ(f.Entity(id).dwItemCount, events.size());

        // Every event in order, then some at random and from the end backwards.
        std::vector<uint32_t> order(events.size());
        for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
        std::vector<uint32_t> probes;
        for (int n = 0; n < 60 && !events.empty(); ++n)
            probes.push_back(static_cast<uint32_t>(random() % events.size()));
        for (uint32_t n = 0; n < 20 && n < events.size(); ++n)
            probes.push_back(static_cast<uint32_t>(events.size() - 1 - n));
        for (const auto* indexes : {&order, &probes})
            for (uint32_t i : *indexes) {
                double t = -1.0;
                uint8_t sign[2] = {0, 0};
                uint32_t size = 0;
                ASSERT_EQ(ns_GetEventData(h, id, i, &t, sign, 2, &size), ns_OK) << i;
                ASSERT_EQ(t, events[i].time) << i;
                ASSERT_EQ(sign[0], events[i].sign) << i;
                ASSERT_EQ(size, 1u);
            }
        for (uint32_t i : probes) ASSERT_EQ(f.TimeOf(id, i), events[i].time) << i;
        EXPECT_EQ(ns_GetEventData(h, id, static_cast<uint32_t>(events.size()), nullptr, nullptr, 0, nullptr),
                  ns_BADINDEX);

        // Index by time at, between and beside the events, with every rounding flag.
        std::vector<double> times = {-1.0, 0.0, 1e6};
        for (std::size_t n = 0; n < probes.size(); n += 3)
            for (double d : {0.0, -kPeriod / 3, kPeriod / 3, kPeriod * 1.5, kPeriod * 40.5})
                times.push_back(events[probes[n]].time + d);
        for (double t : times)
            for (int32_t flag : {ns_BEFORE, ns_CLOSEST, ns_AFTER}) {
                uint32_t want = 0, got = 0;
                const bool ok = ReferenceIndexByTime(events, t, flag, want);
                ASSERT_EQ(ns_GetIndexByTime(h, id, t, flag, &got), ok ? ns_OK : ns_BADINDEX) << t << " " << flag;
                ASSERT_EQ(got, want) << t << " " << flag;
            }
    }
}

// The events are counted when a bit entity is first asked for, by whichever function asks.
TEST_P(DigitalBitEntities, AnyFirstCallCountsTheEvents)
{
    const DigitalCase& c = GetParam();
    kvdtest::TempDir dir;
    const std::string path = Recording(c).WriteTo(dir.Path("rec.kvd"));
    const auto reference = ReferenceEvents(c);
    // The last bit entity with events; entity numbers come from a file of their own, which counts them.
    uint32_t id = 0;
    std::size_t k = 0;
    {
        NsFile listed(Recording(c), dir, "listed.kvd");
        for (uint32_t e = 0, bit = 0; e < listed.EntityCount(); ++e) {
            const ns_ENTITYINFO info = listed.Entity(e);
            if (info.dwEntityType != ns_ENTITY_EVENT || std::strncmp(info.szEntityLabel, "digi", 4)) continue;
            if (!reference[bit].empty()) {
                id = e;
                k = bit;
            }
            ++bit;
        }
    }
    const std::vector<Change>& events = reference[k];
    ASSERT_FALSE(events.empty());
    const uint32_t last = static_cast<uint32_t>(events.size() - 1);
    for (int first = 0; first < 4; ++first) {
        SCOPED_TRACE("first call " + std::to_string(first));
        uint32_t h = 0;
        ASSERT_EQ(ns_OpenFile(const_cast<char*>(path.c_str()), &h), ns_OK);
        double t = -1.0;
        uint32_t index = 0;
        ns_ENTITYINFO info{};
        switch (first) {
        case 0: ASSERT_EQ(ns_GetEventData(h, id, last, &t, nullptr, 0, nullptr), ns_OK); break;
        case 1: ASSERT_EQ(ns_GetTimeByIndex(h, id, last, &t), ns_OK); break;
        case 2:
            ASSERT_EQ(ns_GetIndexByTime(h, id, events[last].time, ns_CLOSEST, &index), ns_OK);
            EXPECT_EQ(index, last);
            t = events[last].time;
            break;
        default: ASSERT_EQ(ns_GetEntityInfo(h, id, &info, sizeof info), ns_OK); t = events[last].time;
        }
        EXPECT_EQ(t, events[last].time);
        ASSERT_EQ(ns_GetEntityInfo(h, id, &info, sizeof info), ns_OK);
        EXPECT_EQ(info.dwItemCount, events.size());
        ns_CloseFile(h);
    }
}

INSTANTIATE_TEST_SUITE_P(Recordings, DigitalBitEntities, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
