// Analog entities read with the sample cache give the very samples read without it, in every order of
// reading and with every budget, and the cache keeps within its budget.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "include/nsAPItypes.h"
#include "streams/CacheBudget.h"
#include "tests/api/NeuroshareTestSupport.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::NsFile;
using kvdtest::RecordingDesc;

constexpr uint32_t kChannels = 6;
constexpr uint32_t kSamplesPerChunk = 320;
constexpr uint64_t kSecond = 1000000000ULL;

// A continuous recording at 10 kHz: six electrode channels of 5000 samples in chunks of 320 (the last one
// shorter), and a digital channel alongside.
RecordingDesc Continuous()
{
    RecordingDesc rec;
    rec.streams = {kvdtest::ElectrodeStream(kChannels), kvdtest::DigitalStream()};
    for (auto& s : rec.streams) s.millisamplesPerSecond = 10000000;
    rec.millisamplesPerSecond = 10000000;
    rec.stopTime = rec.startTime + 500999999ULL;
    kvdtest::AddSampleChunks(rec, {0, 1}, {{rec.startTime, 5000}}, kSamplesPerChunk);
    kvdtest::AttachIndex(rec);
    return rec;
}

// A triggered recording: sweeps of 1000, 700 and 1300 samples of the same streams after a trigger stream.
RecordingDesc Triggered()
{
    RecordingDesc rec;
    rec.recordingMode = 1;
    rec.startTriggerBufferId = "trig0001";
    rec.postTrigger = 130.0f;
    rec.streams = {kvdtest::TriggerStream(), kvdtest::ElectrodeStream(kChannels), kvdtest::DigitalStream()};
    for (auto& s : rec.streams) s.millisamplesPerSecond = 10000000;
    rec.millisamplesPerSecond = 10000000;
    kvdtest::AddSampleChunks(
        rec, {1, 2},
        {{rec.startTime + kSecond, 1000}, {rec.startTime + 5 * kSecond, 700}, {rec.startTime + 9 * kSecond, 1300}},
        kSamplesPerChunk);
    kvdtest::AttachIndex(rec);
    return rec;
}

// Sets the process's cache budget for a scope.
class BudgetScope {
public:
    explicit BudgetScope(uint64_t limit) : m_qwBefore(CCacheBudget::Process().Limit())
    {
        CCacheBudget::Process().SetLimit(limit);
    }
    ~BudgetScope() { CCacheBudget::Process().SetLimit(m_qwBefore); }

private:
    uint64_t m_qwBefore;
};

// One request: entity, first index, count.
struct Request {
    uint32_t id, start, count;
};

// The requests of an order of reading over entities [first, first + n) of `items` items each.
std::vector<Request> Order(const std::string& order, uint32_t first, uint32_t items)
{
    std::vector<Request> requests;
    if (order == "entity after entity, whole") {
        for (uint32_t e = 0; e < kChannels; ++e) requests.push_back({first + e, 0, items});
    } else if (order == "entity after entity, in pieces across chunks") {
        for (uint32_t e = 0; e < kChannels; ++e)
            for (uint32_t s = 0; s < items; s += 777) requests.push_back({first + e, s, std::min(777u, items - s)});
    } else if (order == "time-major") {
        for (uint32_t s = 0; s < items; s += 250)
            for (uint32_t e = 0; e < kChannels; ++e) requests.push_back({first + e, s, std::min(250u, items - s)});
    } else if (order == "random windows") {
        std::mt19937 random(14);
        for (int k = 0; k < 200; ++k) {
            const uint32_t start = static_cast<uint32_t>(random() % items);
            const uint32_t count = 1 + static_cast<uint32_t>(random() % std::min<uint32_t>(items - start, 900));
            requests.push_back({first + static_cast<uint32_t>(random() % kChannels), start, count});
        }
    } else if (order == "repeated sweeps backwards") {
        for (int pass = 0; pass < 3; ++pass)
            for (uint32_t e = kChannels; e-- > 0;)
                for (uint32_t s = items; s > 0; s -= std::min(s, 640u))
                    requests.push_back({first + e, s - std::min(s, 640u), std::min(s, 640u)});
    }
    return requests;
}

TEST(CachedSamples, EveryOrderAndBudgetGivesTheSamplesOfTheUncachedRead)
{
    kvdtest::TempDir dir;
    const struct {
        const char* name;
        RecordingDesc rec;
        uint32_t firstElectrode;
    } recordings[] = {{"continuous", Continuous(), 0}, {"triggered", Triggered(), 1}};
    const uint64_t chunkBytes = static_cast<uint64_t>(kChannels) * kSamplesPerChunk * 2;
    const struct {
        const char* name;
        uint64_t limit;
    } budgets[] = {{"large", 64 << 20},
                   {"three chunks", 3 * chunkBytes + 1024},
                   {"smaller than one chunk", chunkBytes / 2},
                   {"off", 0}};
    const char* orders[] = {"entity after entity, whole", "entity after entity, in pieces across chunks", "time-major",
                            "random windows", "repeated sweeps backwards"};

    for (const auto& r : recordings) {
        const std::string path = r.rec.WriteTo(dir.Path(std::string(r.name) + ".kvd"));
        std::vector<char> name(path.begin(), path.end());
        name.push_back('\0');
        // Without a cache: every entity whole.
        std::vector<std::vector<double>> expected;
        uint32_t items = 0;
        {
            BudgetScope off(0);
            uint32_t h = 0;
            ASSERT_EQ(ns_OpenFile(name.data(), &h), ns_OK);
            ns_ENTITYINFO info{};
            ASSERT_EQ(ns_GetEntityInfo(h, r.firstElectrode, &info, sizeof info), ns_OK);
            items = info.dwItemCount;
            ASSERT_GT(items, 2 * kSamplesPerChunk);
            for (uint32_t e = 0; e < kChannels; ++e) {
                expected.emplace_back(items);
                uint32_t cont = 0;
                ASSERT_EQ(ns_GetAnalogData(h, r.firstElectrode + e, 0, items, &cont, expected.back().data()), ns_OK);
            }
            ns_CloseFile(h);
        }
        for (const auto& b : budgets) {
            for (const char* order : orders) {
                BudgetScope scope(b.limit);
                uint32_t h = 0;
                ASSERT_EQ(ns_OpenFile(name.data(), &h), ns_OK);
                std::vector<double> values;
                int wrong = 0;
                for (const Request& q : Order(order, r.firstElectrode, items)) {
                    values.assign(q.count, -1.0);
                    uint32_t cont = 0;
                    ASSERT_EQ(ns_GetAnalogData(h, q.id, q.start, q.count, &cont, values.data()), ns_OK);
                    const double* want = expected[q.id - r.firstElectrode].data() + q.start;
                    if (std::memcmp(values.data(), want, q.count * sizeof(double)) != 0) ++wrong;
                    EXPECT_LE(CCacheBudget::Process().Used(), b.limit);
                }
                EXPECT_EQ(wrong, 0) << r.name << ", budget " << b.name << ", " << order;
                ns_CloseFile(h);
                EXPECT_EQ(CCacheBudget::Process().Used(), 0u) << "closing the file frees its cache";
            }
        }
    }
}

}  // namespace
