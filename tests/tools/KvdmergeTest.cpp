// kvdmerge run as a user runs it: options, exit status, messages, and an interrupted merge.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "reader/KVXAStreamFile.h"
#include "streams/KVXAStream.h"
#include "tests/support/RecordingBuilder.h"
#include "tests/support/FolderNames.h"

namespace {

constexpr uint64_t kSecond = 1000000000ULL;

struct ToolRun {
    int status = -1;
    std::string out, err;
};

// Reads everything from `fd` until the end.
std::string Drain(int fd)
{
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

// Starts kvdmerge with `args`, its standard output and error on the write ends of the two pipes (made
// here unless already open).
pid_t Start(const std::vector<std::string>& args, int out[2], int err[2])
{
    if (out[1] < 0 && pipe(out) != 0) ADD_FAILURE() << "pipe";
    if (err[1] < 0 && pipe(err) != 0) ADD_FAILURE() << "pipe";
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(out[0]);
        close(err[0]);
        std::vector<char*> argv;
        std::string tool = KVDMERGE_PATH;
        argv.push_back(tool.data());
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    return pid;
}

ToolRun Kvdmerge(const std::vector<std::string>& args)
{
    int out[2] = {-1, -1}, err[2] = {-1, -1};
    const pid_t pid = Start(args, out, err);
    ToolRun r;
    r.out = Drain(out[0]);
    r.err = Drain(err[0]);
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

kvdtest::RecordingDesc Recording(uint64_t offset, uint64_t samples)
{
    kvdtest::RecordingDesc rec;
    rec.startTime += offset;
    rec.startPressed = rec.startTime;
    rec.streams = {kvdtest::ElectrodeStream(2)};
    kvdtest::AddSampleChunks(rec, {0}, {{rec.startTime, samples}}, 320);
    rec.stopTime = rec.startTime + samples * 40000ULL;
    return rec;
}

TEST(Kvdmerge, WrongUsageExitsWithTwoAndHelpDescribesTheTool)
{
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{}, {"out.kvd"}, {"--bogus", "out.kvd", "in.kvd"}}) {
        const ToolRun r = Kvdmerge(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("Try 'kvdmerge --help'"), std::string::npos);
        EXPECT_EQ(r.out, "");
    }
    const ToolRun help = Kvdmerge({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--force"), std::string::npos);
    EXPECT_NE(help.out.find("Exit status"), std::string::npos);
    const ToolRun version = Kvdmerge({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find("kvdmerge"), std::string::npos);
}

TEST(Kvdmerge, MergesAndRefusesToOverwriteWithoutForce)
{
    kvdtest::TempDir dir;
    const std::string a = Recording(0, 1600).WriteTo(dir.Path("a.kvd"));
    const std::string b = Recording(5 * kSecond, 1600).WriteTo(dir.Path("b.kvd"));
    const std::string out = dir.Path("out.kvd");

    ToolRun r = Kvdmerge({out, b, a});
    EXPECT_EQ(r.status, 0) << r.err;
    // Not a terminal: one plain line per step.
    EXPECT_EQ(r.err, "Merging file: " + a + "\nMerging file: " + b + "\nGenerating index\n");
    EXPECT_EQ(r.out, "");
    CKVXAStreamFile merged;
    ASSERT_EQ(merged.OpenFile(out.c_str()), OK);
    EXPECT_EQ(merged.GetStream(0)->GetRawDataBufferSizeOfChannel(), 3200);

    r = Kvdmerge({out, a, b});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--force"), std::string::npos);
    r = Kvdmerge({"--force", "--quiet", out, a, b});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    // Not even --force writes over an input.
    r = Kvdmerge({"-f", "-q", a, a, b});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kvdmerge: The output file is one of the input files.\n");
}

TEST(Kvdmerge, RefusalsAndFailuresSayWhyAndExitWithOne)
{
    kvdtest::TempDir dir;
    const std::string a = Recording(0, 640).WriteTo(dir.Path("a.kvd"));
    kvdtest::RecordingDesc other = Recording(5 * kSecond, 640);
    other.millisamplesPerSecond = 10000000;
    const std::string b = other.WriteTo(dir.Path("b.kvd"));
    ToolRun r = Kvdmerge({"-q", dir.Path("out.kvd"), a, b});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kvdmerge: Different sample rate.\n");
    r = Kvdmerge({"-q", dir.Path("out.kvd"), a, dir.Path("missing.kvd")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing.kvd cannot be opened"), std::string::npos);
    EXPECT_EQ(kvdtest::FolderNames(dir.Path()), (std::vector<std::string>{"a.kvd", "b.kvd"}));
}

TEST(Kvdmerge, AnInterruptedMergeLeavesNoOutput)
{
    kvdtest::TempDir dir;
    const std::string a = Recording(0, 1600).WriteTo(dir.Path("a.kvd"));
    const std::string b = Recording(5 * kSecond, 1600).WriteTo(dir.Path("b.kvd"));
    int out[2] = {-1, -1}, err[2] = {-1, -1};
    // Standard error is a full pipe: the tool's first progress line blocks inside the merge until the
    // signal has arrived and the pipe is drained, so the signal always lands in the middle of the merge.
    ASSERT_EQ(pipe(err), 0);
    fcntl(err[1], F_SETFL, O_NONBLOCK);
    const std::string filler(4096, 'x');
    std::size_t filled = 0;
    for (ssize_t n; (n = write(err[1], filler.data(), filler.size())) > 0;) filled += static_cast<std::size_t>(n);
    for (ssize_t n; (n = write(err[1], filler.data(), 1)) > 0;) filled += static_cast<std::size_t>(n);
    fcntl(err[1], F_SETFL, 0);
    const pid_t pid = Start({dir.Path("out.kvd"), a, b}, out, err);
    // The temporary output appears once the merge writes; then the tool is blocked on its first line.
    for (int i = 0; i < 500 && kvdtest::FolderNames(dir.Path()).size() < 3; ++i) usleep(10000);
    EXPECT_EQ(kvdtest::FolderNames(dir.Path()).size(), 3u);
    usleep(50000);
    kill(pid, SIGTERM);
    usleep(50000);
    std::string text = Drain(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    close(out[0]);
    close(err[0]);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    ASSERT_GE(text.size(), filled);
    text = text.substr(filled);
    EXPECT_NE(text.find("kvdmerge: Merging canceled.\n"), std::string::npos) << text;
    EXPECT_EQ(kvdtest::FolderNames(dir.Path()), (std::vector<std::string>{"a.kvd", "b.kvd"}));
}

}  // namespace
