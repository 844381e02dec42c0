// Requests that once blocked, leaked or answered wrongly: each row is one request and the result it must get.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "include/nsAPItypes.h"
#include "tests/support/EveryKindRecording.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::TempDir;

ns_RESULT Open(std::string path, uint32_t* h) { return ns_OpenFile(path.data(), h); }

// Opens `path` and closes what opened; the open's result. A FIFO without a writer must not block: the
// open runs on a thread and, when it does not return in time, a writer is attached to free it.
ns_RESULT OpenWithoutHanging(const std::string& path)
{
    auto result = std::async(std::launch::async, [path] {
        uint32_t h = 0;
        const ns_RESULT r = Open(path, &h);
        if (h) ns_CloseFile(h);
        return r;
    });
    if (result.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
        ADD_FAILURE() << "ns_OpenFile blocked on " << path;
        const int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) close(writer);
    }
    return result.get();
}

// Whether the descriptor of an open file is marked close-on-exec; -1 when it is not found.
int CloseOnExecOf(const std::string& path)
{
    char wanted[PATH_MAX];
    if (!realpath(path.c_str(), wanted)) return -1;
    for (int fd = 0; fd < 1024; ++fd) {
        char link[PATH_MAX];
        const std::string proc = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t n = readlink(proc.c_str(), link, sizeof link - 1);
        if (n <= 0) continue;
        link[n] = '\0';
        if (std::string(link) == wanted) return (fcntl(fd, F_GETFD) & FD_CLOEXEC) ? 1 : 0;
    }
    return -1;
}

TEST(Hardening, RequestsAndTheirResults)
{
    TempDir dir;
    const std::string recording = kvdtest::EveryKindRecording(11, false).WriteTo(dir.Path("rec.kvd"));
    const std::string fifo = dir.Path("fifo.kvd");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    uint32_t h = 0;
    ASSERT_EQ(Open(recording, &h), ns_OK);
    const uint32_t entities[] = {0, 3, 20};  // analog, a digital bit's events, a spike channel's segments
    for (uint32_t id : entities) {
        ns_ENTITYINFO info{};
        ASSERT_EQ(ns_GetEntityInfo(h, id, &info, sizeof info), ns_OK);
        ASSERT_GT(info.dwItemCount, 0u) << id;
    }

    struct Row {
        const char* request;
        std::function<ns_RESULT()> call;
        ns_RESULT expected;
    };
    const Row rows[] = {
        {"a FIFO without a writer", [&] { return OpenWithoutHanging(fifo); }, ns_FILEERROR},
        {"a character device", [&] { return OpenWithoutHanging("/dev/null"); }, ns_FILEERROR},
        {"a folder", [&] { return OpenWithoutHanging(dir.Path()); }, ns_FILEERROR},
        {"a null handle pointer",
         [&] {
             // Nothing is opened: the lowest free handle stays free.
             uint32_t before = 0, after = 0;
             Open(recording, &before);
             ns_CloseFile(before);
             const ns_RESULT r = Open(recording, nullptr);
             Open(recording, &after);
             ns_CloseFile(after);
             return before == after ? r : ns_OK;
         },
         ns_LIBERROR},
        {"a NaN time, analog",
         [&] {
             uint32_t i = 7;
             return ns_GetIndexByTime(h, 0, std::nan(""), ns_CLOSEST, &i);
         },
         ns_BADINDEX},
        {"a NaN time, event",
         [&] {
             uint32_t i = 7;
             return ns_GetIndexByTime(h, 3, NAN, ns_BEFORE, &i);
         },
         ns_BADINDEX},
        {"a NaN time, segment",
         [&] {
             uint32_t i = 7;
             return ns_GetIndexByTime(h, 20, -NAN, ns_AFTER, &i);
         },
         ns_BADINDEX},
        // Hosts probe the library with a null structure; the answer they have always had is ns_OK.
        {"library information into nothing", [] { return ns_GetLibraryInfo(nullptr, sizeof(ns_LIBRARYINFO)); }, ns_OK},
        {"the recording's descriptor without close-on-exec",
         [&] { return CloseOnExecOf(recording) == 1 ? ns_OK : ns_LIBERROR; }, ns_OK},
    };
    for (const Row& row : rows) EXPECT_EQ(row.call(), row.expected) << row.request;
    EXPECT_EQ(ns_CloseFile(h), ns_OK);
}

}  // namespace
