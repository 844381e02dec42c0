// The sample cache on its own: turning chunks around, when chunks are added and dropped, the budget, and
// where the default budget comes from.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>
#include <unistd.h>

#include "streams/CacheBudget.h"
#include "streams/SampleCache.h"

namespace {

// Interleaved samples whose value tells chunk, sample and channel apart.
std::vector<int16_t> Interleaved(uint64_t samples, uint32_t channels, int chunk = 0)
{
    std::vector<int16_t> v(samples * channels);
    for (uint64_t i = 0; i < samples; ++i)
        for (uint32_t c = 0; c < channels; ++c)
            v[i * channels + c] = static_cast<int16_t>(chunk * 7919 + i * 131 + c * 17 - 30000);
    return v;
}

std::vector<int16_t> ChannelOf(const std::vector<int16_t>& interleaved, uint32_t channels, uint32_t c)
{
    std::vector<int16_t> out;
    for (std::size_t i = c; i < interleaved.size(); i += channels) out.push_back(interleaved[i]);
    return out;
}

TEST(SampleCacheTest, DeinterleaveMovesEverySampleToItsChannel)
{
    const struct {
        uint64_t samples;
        uint32_t channels;
    } cases[] = {{0, 3}, {1, 1}, {7, 8}, {8, 8}, {9, 9}, {16, 60}, {3200, 60}, {13, 17}, {25, 1}, {64, 16}};
    for (const auto& c : cases) {
        const std::vector<int16_t> in = Interleaved(c.samples, c.channels);
        std::vector<int16_t> out(in.size() + 1, 12345);
        kvd::Deinterleave(in.data(), c.samples, c.channels, out.data());
        for (uint32_t ch = 0; ch < c.channels; ++ch) {
            const std::vector<int16_t> want = ChannelOf(in, c.channels, ch);
            EXPECT_TRUE(std::equal(want.begin(), want.end(), out.begin() + ch * c.samples))
                << c.samples << " x " << c.channels << ", channel " << ch;
        }
        EXPECT_EQ(out.back(), 12345) << "wrote past the end";
    }
}

TEST(SampleCacheTest, ChunksAreAddedOnTheirSecondUseAndServeEveryChannel)
{
    CCacheBudget budget(1 << 20);
    CSampleCache cache(budget);
    const std::vector<int16_t> chunk = Interleaved(100, 6);
    const uint64_t key = CSampleCache::Key(0, 4);
    std::vector<int16_t> out(100);

    EXPECT_FALSE(cache.Copy(key, 0, 0, 100, out.data()));
    EXPECT_FALSE(cache.Wanted(key, 6, 100, 2)) << "a chunk read once is not kept";
    EXPECT_FALSE(cache.Wanted(key, 6, 100, 2)) << "nor one read twice for the same channel";
    EXPECT_TRUE(cache.Wanted(key, 6, 100, 3));
    ASSERT_TRUE(cache.Add(key, chunk.data(), 6, 100));
    EXPECT_EQ(budget.Used(), CSampleCache::ChunkBytes(6, 100));
    for (uint32_t c = 0; c < 6; ++c) {
        const std::vector<int16_t> want = ChannelOf(chunk, 6, c);
        ASSERT_TRUE(cache.Copy(key, c, 10, 50, out.data()));
        EXPECT_TRUE(std::equal(want.begin() + 10, want.begin() + 60, out.begin())) << "channel " << c;
    }
    // Outside the chunk nothing is served, and nothing is written.
    out.assign(100, 1);
    EXPECT_FALSE(cache.Copy(key, 6, 0, 1, out.data()));
    EXPECT_FALSE(cache.Copy(key, 0, 60, 41, out.data()));
    EXPECT_FALSE(cache.Copy(CSampleCache::Key(1, 4), 0, 0, 1, out.data()));
    EXPECT_EQ(out, std::vector<int16_t>(100, 1));

    cache.Clear();
    EXPECT_EQ(budget.Used(), 0u);
    EXPECT_FALSE(cache.Copy(key, 0, 0, 1, out.data()));
}

TEST(SampleCacheTest, TheBudgetIsNeverExceeded)
{
    const uint64_t one = CSampleCache::ChunkBytes(4, 50);
    const struct {
        const char* name;
        uint64_t limit;
        std::size_t mostChunks;
    } cases[] = {
        {"off", 0, 0}, {"smaller than a chunk", one - 1, 0}, {"one chunk", one, 1}, {"three chunks", 3 * one + 5, 3}};
    for (const auto& c : cases) {
        CCacheBudget budget(c.limit);
        {
            CSampleCache cache(budget);
            // Time-major use: each chunk is asked for by two channels in a row, then never again.
            for (int k = 0; k < 10; ++k) {
                const std::vector<int16_t> chunk = Interleaved(50, 4, k);
                const uint64_t key = CSampleCache::Key(0, k);
                cache.Wanted(key, 4, 50, 0);
                if (cache.Wanted(key, 4, 50, 1)) cache.Add(key, chunk.data(), 4, 50);
                EXPECT_LE(budget.Used(), c.limit) << c.name;
                EXPECT_LE(cache.ChunkCount(), c.mostChunks) << c.name;
            }
            EXPECT_EQ(cache.ChunkCount(), c.mostChunks) << c.name;
            // The most recent chunks are the ones kept.
            std::vector<int16_t> out(50);
            for (std::size_t k = 0; k < c.mostChunks; ++k)
                EXPECT_TRUE(cache.Copy(CSampleCache::Key(0, 9 - k), 3, 0, 50, out.data())) << c.name << " " << k;
        }
        EXPECT_EQ(budget.Used(), 0u) << c.name << ": closing returns every byte";
    }
}

TEST(SampleCacheTest, CachesOfTwoFilesShareOneBudget)
{
    const uint64_t one = CSampleCache::ChunkBytes(3, 40);
    CCacheBudget budget(2 * one);
    CSampleCache first(budget), second(budget);
    const std::vector<int16_t> chunk = Interleaved(40, 3);
    const std::vector<int16_t> larger = Interleaved(80, 3);  // fits the budget, not one file's half
    ASSERT_LE(CSampleCache::ChunkBytes(3, 80), budget.Limit());
    std::vector<int16_t> out(40);
    ASSERT_TRUE(first.Add(CSampleCache::Key(0, 0), chunk.data(), 3, 40));
    ASSERT_TRUE(second.Add(CSampleCache::Key(0, 0), chunk.data(), 3, 40));
    // With the budget full, each file makes room from its own chunks only.
    EXPECT_TRUE(second.Add(CSampleCache::Key(0, 1), chunk.data(), 3, 40));
    EXPECT_FALSE(second.Copy(CSampleCache::Key(0, 0), 0, 0, 40, out.data()));
    EXPECT_TRUE(first.Copy(CSampleCache::Key(0, 0), 0, 0, 40, out.data()));
    // A chunk that would not fit in what the file could free costs it nothing.
    EXPECT_FALSE(first.Add(CSampleCache::Key(0, 1), larger.data(), 3, 80));
    EXPECT_TRUE(first.Copy(CSampleCache::Key(0, 0), 2, 0, 40, out.data()));
    EXPECT_EQ(budget.Used(), 2 * one);
}

TEST(SampleCacheTest, ASweepLargerThanTheBudgetKeepsWhatIsCached)
{
    const uint64_t one = CSampleCache::ChunkBytes(2, 10);
    CCacheBudget budget(3 * one);
    CSampleCache cache(budget);
    std::vector<int16_t> out(10);
    int hits = 0;
    // Entity after entity over 8 chunks: every pass reads every chunk once, in order.
    for (uint32_t channel = 0; channel < 2; ++channel) {
        for (int pass = 0; pass < 3; ++pass) {
            hits = 0;
            for (int k = 0; k < 8; ++k) {
                const uint64_t key = CSampleCache::Key(1, k);
                if (cache.Copy(key, channel, 0, 10, out.data())) {
                    ++hits;
                    continue;
                }
                const std::vector<int16_t> chunk = Interleaved(10, 2, k);
                if (cache.Wanted(key, 2, 10, channel)) {
                    ASSERT_TRUE(cache.Add(key, chunk.data(), 2, 10));
                }
            }
        }
        // One channel read over and over has nothing to share: nothing is cached. Once a second channel
        // reads, the first three chunks, cached while there was room, keep serving; the others are read
        // as without a cache instead of pushing them out one pass after another.
        EXPECT_EQ(hits, channel == 0 ? 0 : 3) << "channel " << channel;
    }
    EXPECT_EQ(cache.ChunkCount(), 3u);
}

TEST(SampleCacheTest, ChunksEveryChannelHasReadToTheEndGiveWayFirst)
{
    // Room for all ten chunks; every channel of each chunk is read, window after window, as a host reading
    // all channels second by second does. The last window's chunk is read up to its middle only.
    CCacheBudget budget(10 * CSampleCache::ChunkBytes(4, 50));
    CSampleCache cache(budget);
    std::vector<int16_t> out(50);
    // A read as the stream makes it: from the cache, else added when wanted, else from the chunk itself.
    auto read = [&](int k, uint32_t channel, uint64_t first, uint64_t count) {
        const uint64_t key = CSampleCache::Key(0, k);
        if (cache.Copy(key, channel, first, count, out.data())) return true;
        const std::vector<int16_t> chunk = Interleaved(50, 4, k);
        if (cache.Wanted(key, 4, 50, channel) && cache.Add(key, chunk.data(), 4, 50) &&
            cache.Copy(key, channel, first, count, out.data()))
            return false;
        const std::vector<int16_t> want = ChannelOf(chunk, 4, channel);
        std::copy(want.begin() + first, want.begin() + first + count, out.begin());
        return false;
    };
    for (int k = 0; k < 10; ++k) {
        const uint64_t count = k == 9 ? 25 : 50;
        for (uint32_t channel = 0; channel < 4; ++channel) {
            EXPECT_EQ(read(k, channel, 0, count), channel >= 2) << "chunk " << k << ", channel " << channel;
            const std::vector<int16_t> want = ChannelOf(Interleaved(50, 4, k), 4, channel);
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + count, want.begin()));
        }
        EXPECT_LE(cache.ChunkCount(), 2u) << "a spent chunk gives its place to the next one";
    }
    // Chunk 8 gave its place to chunk 9, which, read up to its middle only, is not spent: it serves the rest.
    EXPECT_EQ(cache.ChunkCount(), 1u);
    EXPECT_FALSE(cache.Copy(CSampleCache::Key(0, 8), 3, 0, 50, out.data()));
    EXPECT_TRUE(read(9, 0, 25, 25));
    EXPECT_EQ(budget.Used(), CSampleCache::ChunkBytes(4, 50));
}

TEST(SampleCacheTest, ConcurrentCallsServeTheRightSamplesWithinTheBudget)
{
    CCacheBudget budget(5 * CSampleCache::ChunkBytes(8, 64));
    CSampleCache cache(budget);
    std::vector<std::vector<int16_t>> chunks;
    for (int k = 0; k < 12; ++k) chunks.push_back(Interleaved(64, 8, k));
    std::atomic<int> wrong{0};
    std::atomic<bool> over{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::vector<int16_t> out(64);
            for (int round = 0; round < 300; ++round) {
                const int k = (round * 7 + t * 3) % 12;
                const uint32_t channel = static_cast<uint32_t>((round + t) % 8);
                const uint64_t key = CSampleCache::Key(0, k);
                if (!cache.Copy(key, channel, 0, 64, out.data())) {
                    if (cache.Wanted(key, 8, 64, channel)) cache.Add(key, chunks[k].data(), 8, 64);
                    if (!cache.Copy(key, channel, 0, 64, out.data())) out = ChannelOf(chunks[k], 8, channel);
                }
                if (out != ChannelOf(chunks[k], 8, channel)) ++wrong;
                if (budget.Used() > budget.Limit()) over = true;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_FALSE(over.load());
}

TEST(CacheBudgetTest, BudgetTextsAndMemoryLimitTexts)
{
    const struct {
        const char* text;
        bool valid;
        uint64_t bytes;
    } budgets[] = {{nullptr, false, 0},
                   {"", false, 0},
                   {"0", true, 0},
                   {"512", true, 512ULL << 20},
                   {"-1", false, 0},
                   {"12abc", false, 0},
                   {" 5", false, 0},
                   {"99999999999999999999", false, 0},
                   {"18446744073709551615", true, UINT64_MAX}};
    for (const auto& b : budgets) {
        uint64_t bytes = 7;
        EXPECT_EQ(kvd::ParseBudgetMegabytes(b.text, bytes), b.valid) << (b.text ? b.text : "(unset)");
        if (b.valid) {
            EXPECT_EQ(bytes, b.bytes) << b.text;
        }
    }
    const struct {
        const char* text;
        uint64_t limit;
    } limits[] = {
        {"max\n", 0}, {"", 0},  {"1073741824\n", 1073741824ULL}, {"9223372036854771712", 9223372036854771712ULL},
        {"12x", 0},   {"-5", 0}};
    for (const auto& l : limits) EXPECT_EQ(kvd::ParseMemoryLimit(l.text), l.limit) << l.text;
}

TEST(CacheBudgetTest, TheLowestControlGroupLimitOnTheWayToTheRootApplies)
{
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("kvd_cgroup_" + std::to_string(::getpid()));
    auto write = [&](const fs::path& file, const char* text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    };
    write(root / "a/memory.max", "4000000\n");
    write(root / "a/b/memory.max", "max\n");
    write(root / "c/memory.max", "max\n");
    write(root / "memory/x/memory.limit_in_bytes", "3000000\n");
    write(root / "memory/memory.limit_in_bytes", "9223372036854771712\n");
    const struct {
        const char* cgroup;
        uint64_t limit;
    } cases[] = {{"0::/a/b\n", 4000000},
                 {"0::/c\n", 0},
                 {"0::/\n", 0},
                 {"5:cpu,memory:/x\n2:pids:/\n", 3000000},
                 {"3:memory:/\n", 9223372036854771712ULL},
                 {"garbage", 0},
                 {"", 0},
                 {"5:memory:/x\n0::/a\n", 3000000}};
    for (const auto& c : cases) EXPECT_EQ(kvd::CgroupMemoryLimit(c.cgroup, root.string()), c.limit) << c.cgroup;
    fs::remove_all(root);
    EXPECT_GT(kvd::MemoryAvailableToProcess(), 0u);
}

}  // namespace
