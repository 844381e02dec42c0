// Calls from many threads at once: on one handle, on a handle per thread, and opening and closing while
// others read; of the Neuroshare and of the array interface. Every result must equal that of the same call
// made with no other thread running.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "include/kvd.h"
#include "include/nsAPItypes.h"
#include "tests/support/EveryKindRecording.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::EveryKindRecording;
using kvdtest::TempDir;

// Everything one entity answers, as numbers: result codes, counts, times, values.
using Answers = std::vector<double>;

void Put(Answers& out, ns_RESULT result) { out.push_back(result); }

// Reads the whole entity through every function of its kind; analog data in pieces of `piece` samples
// (pieces that straddle chunks and sweeps), events and segments item by item, from `first` on and then
// from the start (so that forward and backward walks both run).
Answers ReadEntity(uint32_t h, uint32_t id, uint32_t piece = 97, uint32_t first = 0)
{
    Answers out;
    ns_ENTITYINFO entity{};
    Put(out, ns_GetEntityInfo(h, id, &entity, sizeof entity));
    if (out.back() != ns_OK) return out;
    out.push_back(entity.dwEntityType);
    out.push_back(entity.dwItemCount);
    out.insert(out.end(), entity.szEntityLabel, entity.szEntityLabel + std::strlen(entity.szEntityLabel));
    const uint32_t items = entity.dwItemCount;
    std::vector<uint32_t> order;
    for (uint32_t k = first; k < items; ++k) order.push_back(k);
    for (uint32_t k = 0; k < std::min(first, items); ++k) order.push_back(k);

    double t = 0;
    uint32_t index = 0;
    for (double time : {0.0, 0.0031, 0.017, 1e9}) {
        Put(out, ns_GetIndexByTime(h, id, time, ns_CLOSEST, &index));
        out.push_back(index);
    }
    for (uint32_t k : {0u, items / 2, items ? items - 1 : 0}) {
        Put(out, ns_GetTimeByIndex(h, id, k, &t));
        out.push_back(t);
    }
    std::vector<double> values(std::max<uint32_t>(piece, 64));
    if (entity.dwEntityType == ns_ENTITY_ANALOG) {
        ns_ANALOGINFO info{};
        Put(out, ns_GetAnalogInfo(h, id, &info, sizeof info));
        out.push_back(info.dSampleRate);
        for (uint32_t start = 0; start < items; start += piece) {
            const uint32_t n = std::min(piece, items - start);
            uint32_t count = 0;
            Put(out, ns_GetAnalogData(h, id, start, n, &count, values.data()));
            out.push_back(count);
            out.insert(out.end(), values.begin(), values.begin() + n);
        }
    } else if (entity.dwEntityType == ns_ENTITY_EVENT) {
        ns_EVENTINFO info{};
        Put(out, ns_GetEventInfo(h, id, &info, sizeof info));
        for (uint32_t k : order) {
            uint8_t data[8] = {};
            uint32_t size = 0;
            Put(out, ns_GetEventData(h, id, k, &t, data, sizeof data, &size));
            out.push_back(t);
            out.push_back(size);
            out.insert(out.end(), data, data + sizeof data);
        }
    } else if (entity.dwEntityType == ns_ENTITY_SEGMENT) {
        ns_SEGMENTINFO info{};
        Put(out, ns_GetSegmentInfo(h, id, &info, sizeof info));
        ns_SEGSOURCEINFO source{};
        Put(out, ns_GetSegmentSourceInfo(h, id, 0, &source, sizeof source));
        out.push_back(source.dResolution);
        for (uint32_t k : order) {
            std::fill(values.begin(), values.end(), 0.0);
            uint32_t count = 0, unit = 0;
            Put(out, ns_GetSegmentData(h, id, static_cast<int32_t>(k), &t, values.data(),
                                       static_cast<uint32_t>(values.size() * sizeof(double)), &count, &unit));
            out.push_back(t);
            out.push_back(count);
            out.push_back(unit);
            out.insert(out.end(), values.begin(), values.begin() + std::min<std::size_t>(count, values.size()));
        }
    }
    return out;
}

// Two ways of reading an entity: analog pieces of 97 samples and items from the first; pieces of 1000
// samples and items from the fourth on, then the first three.
struct Variant {
    uint32_t piece, first;
};
constexpr Variant kVariants[] = {{97, 0}, {1000, 3}};

// The answers of every entity of a file in both variants, read with no other thread running.
struct Reference {
    std::string path;
    std::vector<Answers> entities[2];
    uint32_t kinds = 0;  // bit per entity type present

    bool Matches(uint32_t h, uint32_t id, int variant) const
    {
        return ReadEntity(h, id, kVariants[variant].piece, kVariants[variant].first) == entities[variant][id];
    }
};

Reference MakeReference(const std::string& path)
{
    Reference ref;
    ref.path = path;
    uint32_t h = 0;
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    EXPECT_EQ(ns_OpenFile(name.data(), &h), ns_OK);
    ns_FILEINFO file{};
    EXPECT_EQ(ns_GetFileInfo(h, &file, sizeof file), ns_OK);
    for (uint32_t id = 0; id < file.dwEntityCount; ++id) {
        for (int v = 0; v < 2; ++v)
            ref.entities[v].push_back(ReadEntity(h, id, kVariants[v].piece, kVariants[v].first));
        ref.kinds |= 1u << static_cast<uint32_t>(ref.entities[0].back().at(1));
    }
    ns_CloseFile(h);
    return ref;
}

class ConcurrentCalls : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new TempDir;
        s_refs = new std::vector<Reference>;
        // A continuous and a triggered recording of several hundred chunks, and a small old-format one.
        const struct {
            uint16_t version;
            bool triggered;
            uint32_t scale;
        } files[] = {{11, false, 8}, {11, true, 6}, {4, false, 2}};
        int n = 0;
        for (const auto& f : files)
            s_refs->push_back(MakeReference(EveryKindRecording(f.version, f.triggered, f.scale)
                                                .WriteTo(s_dir->Path("r" + std::to_string(n++) + ".kvd"))));
    }
    static void TearDownTestSuite()
    {
        delete s_refs;
        delete s_dir;
    }

    static uint32_t Open(const Reference& ref)
    {
        std::vector<char> name(ref.path.begin(), ref.path.end());
        name.push_back('\0');
        uint32_t h = 0;
        return ns_OpenFile(name.data(), &h) == ns_OK ? h : 0;
    }

    static TempDir* s_dir;
    static std::vector<Reference>* s_refs;
};

TempDir* ConcurrentCalls::s_dir = nullptr;
std::vector<Reference>* ConcurrentCalls::s_refs = nullptr;

constexpr int kThreads = 6;

TEST_F(ConcurrentCalls, ReferenceHoldsEveryEntityKind)
{
    for (const Reference& ref : *s_refs)
        EXPECT_EQ(ref.kinds, (1u << ns_ENTITY_EVENT) | (1u << ns_ENTITY_ANALOG) | (1u << ns_ENTITY_SEGMENT))
            << ref.path;
}

// A barrier for a fixed number of threads, reusable round after round.
class Barrier {
public:
    explicit Barrier(int count) : m_count(count) {}
    void Wait()
    {
        std::unique_lock<std::mutex> lock(m_lock);
        const int round = m_round;
        if (++m_arrived == m_count) {
            m_arrived = 0;
            ++m_round;
            m_turn.notify_all();
        } else {
            m_turn.wait(lock, [&] { return m_round != round; });
        }
    }

private:
    std::mutex m_lock;
    std::condition_variable m_turn;
    const int m_count;
    int m_arrived = 0;
    int m_round = 0;
};

// Threads read each entity of one handle together, in both variants, so that the same entity's spike
// cursor, the stream's current chunk and the scratch words are wanted at once; then each reads the
// entities in an order of its own.
TEST_F(ConcurrentCalls, OneHandleManyThreads)
{
    for (const Reference& ref : *s_refs) {
        const uint32_t h = Open(ref);
        ASSERT_NE(h, 0u);
        std::atomic<int> mismatches{0};
        Barrier barrier(kThreads);
        std::vector<std::thread> threads;
        const uint32_t n = static_cast<uint32_t>(ref.entities[0].size());
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                for (uint32_t id = 0; id < n; ++id) {
                    barrier.Wait();
                    if (!ref.Matches(h, id, t % 2)) ++mismatches;
                }
                for (uint32_t k = 0; k < n; ++k) {
                    const uint32_t id = (k + static_cast<uint32_t>(t) * 5) % n;
                    if (!ref.Matches(h, id, (t + static_cast<int>(k)) % 2)) ++mismatches;
                }
            });
        for (auto& thread : threads) thread.join();
        EXPECT_EQ(mismatches.load(), 0) << ref.path;
        EXPECT_EQ(ns_CloseFile(h), ns_OK);
    }
}

// Each thread opens every file under a handle of its own and reads it whole, files in parallel.
TEST_F(ConcurrentCalls, HandlePerThread)
{
    std::atomic<int> mismatches{0}, failedOpens{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (std::size_t r = 0; r < s_refs->size(); ++r) {
                const Reference& ref = (*s_refs)[(r + static_cast<std::size_t>(t)) % s_refs->size()];
                const uint32_t h = Open(ref);
                if (!h) {
                    ++failedOpens;
                    continue;
                }
                for (uint32_t id = 0; id < ref.entities[0].size(); ++id)
                    if (!ref.Matches(h, id, t % 2)) ++mismatches;
                if (ns_CloseFile(h) != ns_OK) ++failedOpens;
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failedOpens.load(), 0);
    EXPECT_EQ(mismatches.load(), 0);
}

// Opening and closing from several threads: every open gets a handle no other open file has, and every
// handle closes exactly once.
TEST_F(ConcurrentCalls, OpenAndCloseConcurrently)
{
    std::atomic<int> failures{0};
    std::mutex seenLock;
    std::set<uint32_t> open;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 8; ++round) {
                const Reference& ref = (*s_refs)[static_cast<std::size_t>(t + round) % s_refs->size()];
                uint32_t handles[3] = {Open(ref), Open(ref), Open(ref)};
                for (uint32_t h : handles) {
                    const std::lock_guard<std::mutex> lock(seenLock);
                    if (h == 0 || !open.insert(h).second) ++failures;
                }
                ns_ENTITYINFO entity{};
                if (ns_GetEntityInfo(handles[1], 0, &entity, sizeof entity) != ns_OK) ++failures;
                for (uint32_t h : handles) {
                    {
                        const std::lock_guard<std::mutex> lock(seenLock);
                        open.erase(h);
                    }
                    if (ns_CloseFile(h) != ns_OK) ++failures;
                }
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
}

// A file closed while other threads read it: each call either answers as before the close or finds no file
// (ns_BADFILE); nothing the reads use is freed under them.
TEST_F(ConcurrentCalls, CloseWhileReading)
{
    for (const Reference& ref : *s_refs) {
        for (int round = 0; round < 4; ++round) {
            const uint32_t h = Open(ref);
            ASSERT_NE(h, 0u);
            std::atomic<int> started{0}, wrong{0};
            std::vector<std::thread> readers;
            for (int t = 0; t < 4; ++t)
                readers.emplace_back([&, t] {
                    ++started;
                    const uint32_t n = static_cast<uint32_t>(ref.entities[0].size());
                    for (uint32_t k = 0;; ++k) {
                        const uint32_t id = (k + static_cast<uint32_t>(t) * 7) % n;
                        ns_ENTITYINFO entity{};
                        if (ns_GetEntityInfo(h, id, &entity, sizeof entity) == ns_BADFILE) return;
                        const Answers answers = ReadEntity(h, id);
                        // A file closed during the read ends it in ns_BADFILE from that call on.
                        const auto closed = std::find(answers.begin(), answers.end(), double(ns_BADFILE));
                        const Answers& expected = ref.entities[0][id];
                        if (closed == answers.end() && answers != expected) ++wrong;
                        if (closed != answers.end() &&
                            (closed - answers.begin() > static_cast<std::ptrdiff_t>(expected.size()) ||
                             !std::equal(answers.begin(), closed, expected.begin())))
                            ++wrong;
                    }
                });
            while (started.load() < 4) std::this_thread::yield();
            std::this_thread::sleep_for(std::chrono::milliseconds(5 * round));
            EXPECT_EQ(ns_CloseFile(h), ns_OK);
            for (auto& reader : readers) reader.join();
            EXPECT_EQ(wrong.load(), 0) << ref.path << " round " << round;
        }
    }
}

// Threads read windows of one array handle at once, in channel orders of their own, while the handle's
// chunk table is still being filled and the events are counted: every array equals the one read with no
// other thread running. Other handles of the file are opened and closed meanwhile.
TEST(ConcurrentArrayCalls, OneHandleManyThreads)
{
    TempDir dir;
    const std::string path = EveryKindRecording(11, false, 200).WriteTo(dir.Path("arrays.kvd"));
    kvd_file* alone = nullptr;
    ASSERT_EQ(kvd_open(path.c_str(), &alone), KVD_OK);
    kvd_stream_info info{};
    info.size = sizeof info;
    ASSERT_EQ(kvd_get_stream_info(alone, 0, &info), KVD_OK);
    const int64_t n = info.frame_count;
    std::vector<uint16_t> whole(static_cast<std::size_t>(n) * 2);
    ASSERT_EQ(kvd_read_frames(alone, 0, 0, n, nullptr, 0, whole.data()), n);
    const int64_t spikes = kvd_count_events(alone, 3), changes = kvd_count_events(alone, 1);
    std::vector<kvd_spike> allSpikes(static_cast<std::size_t>(spikes));
    ASSERT_EQ(kvd_read_spikes(alone, 3, 0, spikes, allSpikes.data(), nullptr, 0), spikes);
    std::vector<kvd_bit_change> allChanges(static_cast<std::size_t>(changes));
    ASSERT_EQ(kvd_read_bit_changes(alone, 1, 0, changes, allChanges.data()), changes);
    kvd_close(alone);

    kvd_file* shared = nullptr;
    ASSERT_EQ(kvd_open(path.c_str(), &shared), KVD_OK);
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            const std::vector<int32_t> orders[] = {{}, {1, 0}, {1}};
            std::vector<uint16_t> words;
            for (int64_t i = 0; i < 40; ++i) {
                const int64_t first = (t * 7919 + i * 104729) % n;
                const int64_t count = std::min<int64_t>(n - first, 1 + (i * 3797 + t) % 9000);
                const std::vector<int32_t>& order = orders[(i + t) % 3];
                const std::size_t columns = order.empty() ? 2 : order.size();
                words.assign(static_cast<std::size_t>(count) * columns, 0);
                if (kvd_read_frames(shared, 0, first, count, order.empty() ? nullptr : order.data(),
                                    static_cast<int32_t>(order.size()), words.data()) != count)
                    ++mismatches;
                for (int64_t f = 0; f < count; ++f)
                    for (std::size_t j = 0; j < columns; ++j)
                        if (words[static_cast<std::size_t>(f) * columns + j] !=
                            whole[static_cast<std::size_t>(first + f) * 2 + (order.empty() ? j : order[j])])
                            ++mismatches;
                if (i % 8 == t % 8) {
                    kvd_spike spike{};
                    const int64_t k = (i * 31 + t) % spikes;
                    if (kvd_read_spikes(shared, 3, k, 1, &spike, nullptr, 0) != 1 ||
                        std::memcmp(&spike, &allSpikes[static_cast<std::size_t>(k)], sizeof spike) != 0)
                        ++mismatches;
                    kvd_bit_change change{};
                    const int64_t c = (i * 13 + t) % changes;
                    if (kvd_read_bit_changes(shared, 1, c, 1, &change) != 1 ||
                        std::memcmp(&change, &allChanges[static_cast<std::size_t>(c)], sizeof change) != 0)
                        ++mismatches;
                    kvd_file* other = nullptr;
                    if (kvd_open(path.c_str(), &other) != KVD_OK) ++mismatches;
                    kvd_close(other);
                }
            }
        });
    for (auto& thread : threads) thread.join();
    kvd_close(shared);
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
