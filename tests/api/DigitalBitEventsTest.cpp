#include "api/DigitalBitEvents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numeric>
#include <random>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Store = CDigitalBitEvents;

// Segments of words in memory; counts the words handed out. `available` cuts a segment's data short of
// its announced length.
struct Segment {
    std::vector<uint16_t> words;
    double origin = 0.0;
    std::size_t available = std::numeric_limits<std::size_t>::max();
};

class MemorySource : public Store::WordSource {
public:
    explicit MemorySource(const std::vector<Segment>& segments) : m_segments(segments) {}
    int32_t Read(int32_t segment, uint32_t first, int32_t count, int16_t* words) override
    {
        const Segment& s = m_segments.at(static_cast<std::size_t>(segment));
        const std::size_t end = std::min(s.words.size(), s.available);
        if (first >= end) return 0;
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), end - first);
        for (std::size_t i = 0; i < n; ++i) words[i] = static_cast<int16_t>(s.words[first + i]);
        wordsRead += n;
        return static_cast<int32_t>(n);
    }
    uint64_t wordsRead = 0;

private:
    const std::vector<Segment>& m_segments;
};

// The reference: every change of every bit as its own record, found word by word.
using Events = std::vector<Store::Event>;
std::vector<Events> Reference(const std::vector<Segment>& segments, int32_t millisamples)
{
    std::vector<Events> bits(Store::kBits);
    for (const Segment& s : segments) {
        const std::size_t n = std::min(s.words.size(), s.available);
        for (std::size_t p = 1; p < n; ++p)
            for (int b = 0; b < Store::kBits; ++b) {
                const bool before = (s.words[p - 1] >> b) & 1u, now = (s.words[p] >> b) & 1u;
                if (before != now)
                    bits[b].push_back({AsDouble(PeriodsToSeconds(static_cast<double>(p), millisamples) + s.origin),
                                       now ? Store::kSet : Store::kCleared});
            }
    }
    return bits;
}

// The reference's time search: the first event that does not lie wholly before `t`.
uint32_t ReferenceStop(const Events& events, double t, double period)
{
    uint32_t i = 0;
    while (i < events.size() && !(events[i].time > t) && t > AsDouble(events[i].time + period)) ++i;
    return i;
}

Store Built(const std::vector<Segment>& segments, int32_t millisamples)
{
    std::vector<Store::SegmentSpan> spans;
    for (std::size_t k = 0; k < segments.size(); ++k)
        spans.push_back({static_cast<int32_t>(k), static_cast<uint32_t>(segments[k].words.size()), segments[k].origin});
    MemorySource source(segments);
    Store store;
    store.Build(source, spans, millisamples);
    return store;
}

std::vector<uint16_t> Words(std::size_t n, const std::function<uint16_t(std::size_t)>& word)
{
    std::vector<uint16_t> words(n);
    for (std::size_t i = 0; i < n; ++i) words[i] = word(i);
    return words;
}

uint16_t Hash(std::size_t i)
{
    uint64_t x = i * 0x9E3779B97F4A7C15ULL;
    x ^= x >> 29;
    return static_cast<uint16_t>(x * 0xBF58476D1CE4E5B9ULL >> 48);
}

struct Case {
    std::string name;
    int32_t millisamples;
    std::vector<Segment> segments;
};

// Test listings name a case rather than dump its bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<Case> Cases()
{
    std::vector<Case> cases;
    // Rare changes: bit 0 a pulse every 30,000 samples, bit 3 toggling every 70,001 (beyond the checkpoint
    // spacing in samples), bit 15 once.
    cases.push_back({"rare",
                     25000000,
                     {{Words(400000,
                             [](std::size_t i) {
                                 return static_cast<uint16_t>((i % 30000 < 250 ? 1u : 0u) |
                                                              ((i / 70001) % 2 ? 8u : 0u) |
                                                              (i >= 123457 ? 0x8000u : 0u));
                             }),
                       0.25}}});
    // Every bit changes on every sample.
    cases.push_back(
        {"every bit every sample", 25000000, {{Words(12001, [](std::size_t i) { return i % 2 ? 0xFFFF : 0; }), 0.0}}});
    // Hashed words: each bit changes on about half the samples.
    cases.push_back({"hashed", 10000000, {{Words(12000, Hash), 1.5}}});
    // Sweeps: short ones, changes at their boundaries, origins that go back in time, data cut short.
    Case sweeps{"sweeps", 10000000, {}};
    sweeps.segments.push_back({Words(5000, [](std::size_t i) { return i % 2 ? 0xFFFF : 0; }), 1.0});
    sweeps.segments.push_back({{}, 2.0});
    sweeps.segments.push_back({{0x0001}, 3.0});
    sweeps.segments.push_back({{0x0000, 0x0001}, 4.0});  // an event at the second word
    sweeps.segments.push_back({Words(5000, Hash), 5.0});
    sweeps.segments.push_back({Words(7000, [](std::size_t i) { return i < 6999 ? 0 : 0xFFFF; }), 0.5});
    Segment cut{Words(6000, [](std::size_t i) { return static_cast<uint16_t>(i); }), 6.0};
    cut.available = 4500;
    sweeps.segments.push_back(cut);
    cases.push_back(sweeps);
    // Ascending sweeps whose events fall on both sides of many checkpoints.
    Case ascending{"ascending sweeps", 25000000, {}};
    for (int k = 0; k < 12; ++k)
        ascending.segments.push_back(
            {Words(3000 + 700 * k, [k](std::size_t i) { return static_cast<uint16_t>(Hash(i + 7919u * k) & 0x00F3); }),
             1.0 + k});
    cases.push_back(ascending);
    return cases;
}

class DigitalBitEventsTest : public ::testing::TestWithParam<Case> {};

TEST_P(DigitalBitEventsTest, SameEventsAsOneRecordPerChange)
{
    const Case& c = GetParam();
    const std::vector<Events> expected = Reference(c.segments, c.millisamples);
    Store store = Built(c.segments, c.millisamples);
    MemorySource source(c.segments);
    std::mt19937 random(7);
    for (int b = 0; b < Store::kBits; ++b) {
        const Events& want = expected[b];
        ASSERT_EQ(store.Count(b), want.size()) << "bit " << b;
        Store::Event e;
        EXPECT_FALSE(store.Get(source, b, store.Count(b), e));
        // In order, then in a random order, then backwards.
        std::vector<uint32_t> order(want.size());
        std::iota(order.begin(), order.end(), 0u);
        std::vector<uint32_t> shuffled = order;
        std::shuffle(shuffled.begin(), shuffled.end(), random);
        shuffled.resize(std::min<std::size_t>(shuffled.size(), 300));
        std::vector<uint32_t> backwards(order.rbegin(), order.rbegin() + std::min<std::size_t>(order.size(), 300));
        for (const auto* indexes : {&order, &shuffled, &backwards})
            for (uint32_t i : *indexes) {
                ASSERT_TRUE(store.Get(source, b, i, e)) << "bit " << b << " event " << i;
                ASSERT_EQ(e.time, want[i].time) << "bit " << b << " event " << i;
                ASSERT_EQ(e.sign, want[i].sign) << "bit " << b << " event " << i;
            }
    }
}

TEST_P(DigitalBitEventsTest, TimeSearchStopsWhereTheReferenceDoes)
{
    const Case& c = GetParam();
    const std::vector<Events> expected = Reference(c.segments, c.millisamples);
    Store store = Built(c.segments, c.millisamples);
    MemorySource source(c.segments);
    const double period = PeriodsToSeconds(1.0, c.millisamples);
    for (int b = 0; b < Store::kBits; ++b) {
        const Events& events = expected[b];
        std::vector<double> times = {-1.0, 0.0, 1e9, std::numeric_limits<double>::quiet_NaN()};
        for (std::size_t i = 0; i < events.size(); i += 1 + events.size() / 23)
            for (double d : {-period, -period / 2, 0.0, period / 3, period, period * 1.5})
                times.push_back(events[i].time + d);
        if (!events.empty()) times.push_back(events.back().time + period / 2);
        for (double t : times) {
            Store::TimeStop stop;
            ASSERT_TRUE(store.FindTime(source, b, t, stop));
            // A NaN time lies before nothing and after nothing: every event counts as passed.
            const uint32_t want =
                std::isnan(t) ? static_cast<uint32_t>(events.size()) : ReferenceStop(events, t, period);
            ASSERT_EQ(stop.index, want) << "bit " << b << " time " << t;
            if (want < events.size()) {
                EXPECT_EQ(stop.time, events[want].time);
            }
            if (want > 0) {
                EXPECT_EQ(stop.timeBefore, events[want - 1].time);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Recordings, DigitalBitEventsTest, ::testing::ValuesIn(Cases()), [](const auto& info) {
    std::string name = info.param.name;
    std::replace(name.begin(), name.end(), ' ', '_');
    return name;
});

TEST(DigitalBitEvents, MemoryAndReadCostStayWithinTheirBounds)
{
    // Every bit changing on every sample: a small fraction of the channel's bytes are kept,
    // and a read anywhere reads at most one checkpoint interval of words, twice at worst.
    const std::vector<Segment> segments = {{Words(300000, [](std::size_t i) { return i % 2 ? 0xFFFF : 0; }), 0.0}};
    Store store = Built(segments, 25000000);
    EXPECT_LT(store.MemoryBytes(), 2 * segments[0].words.size() / 16);
    MemorySource source(segments);
    const uint64_t bound = 2 * Store::kCheckpointSamples;
    std::mt19937 random(3);
    Store::Event e;
    for (int k = 0; k < 100; ++k) {
        const int b = static_cast<int>(random() % 16);
        const uint32_t i = static_cast<uint32_t>(random() % store.Count(b));
        source.wordsRead = 0;
        ASSERT_TRUE(store.Get(source, b, i, e));
        EXPECT_LE(source.wordsRead, bound) << i;
        source.wordsRead = 0;
        Store::TimeStop stop;
        ASSERT_TRUE(store.FindTime(source, b, e.time + 1.5 * PeriodsToSeconds(1.0, 25000000), stop));
        EXPECT_EQ(stop.index, i + 1);
        EXPECT_LE(source.wordsRead, bound) << i;
    }
    // Reading every event of every bit in order reads each word about once per bit.
    source.wordsRead = 0;
    for (int b = 0; b < Store::kBits; ++b)
        for (uint32_t i = 0; i < store.Count(b); ++i) ASSERT_TRUE(store.Get(source, b, i, e));
    EXPECT_LE(source.wordsRead, 16 * (segments[0].words.size() + 2 * 4096));

    // Rare changes far apart: one checkpoint per event at most, and a read scans no more than the
    // checkpoint spacing in samples.
    std::vector<Segment> rare = {{Words(2000000, [](std::size_t i) { return (i / 150001) % 2 ? 1 : 0; }), 0.0}};
    Store sparse = Built(rare, 25000000);
    EXPECT_LT(sparse.MemoryBytes(), 32 * sparse.Count(0) + 2048 + 8192);
    MemorySource rareSource(rare);
    for (uint32_t i = sparse.Count(0); i-- > 0;) {
        rareSource.wordsRead = 0;
        ASSERT_TRUE(sparse.Get(rareSource, 0, i, e));
        EXPECT_LE(rareSource.wordsRead, Store::kCheckpointSamples);
    }
}

TEST(DigitalBitEvents, WordsThatCannotBeReadAgainFailTheRead)
{
    std::vector<Segment> segments = {{Words(50000, Hash), 0.0}};
    Store store = Built(segments, 25000000);
    ASSERT_GT(store.Count(0), 1000u);
    segments[0].available = 10000;  // the file lost its end after opening
    MemorySource source(segments);
    Store::Event e;
    EXPECT_TRUE(store.Get(source, 0, 10, e));
    EXPECT_FALSE(store.Get(source, 0, store.Count(0) - 1, e));
    Store::TimeStop stop;
    EXPECT_FALSE(store.FindTime(source, 0, 1.5, stop));
    EXPECT_TRUE(store.Get(source, 0, 11, e));
}

}  // namespace
