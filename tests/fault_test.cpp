// Faults tried on purpose: files that cannot be opened or written, many threads at once and
// long runs of calls. In every case the call returns 999, the process lives, the message is
// the fixed one, and nothing but the target file is touched.
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;
using test_support::file_exists;
using test_support::read_file;
using test_support::render;
using test_support::temp_dir;
using test_support::widen;

const char *const open_message = "fopen():error en genwav()\n";
const char *const write_message = "WAVCreate() error: could not write the file\n";

// What a folder holds: each entry's name with its size and modification time.
std::map<std::string, std::pair<std::uintmax_t, std::filesystem::file_time_type>>
snapshot(const std::string &folder)
{
    std::map<std::string, std::pair<std::uintmax_t, std::filesystem::file_time_type>> entries;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::uintmax_t size = entry.is_regular_file() ? entry.file_size() : 0;
        entries[entry.path().string()] = {size, entry.last_write_time()};
    }
    return entries;
}

// Calls WAVCreate and checks its result and the line it printed.
void expect_call(const std::string &path, const char *message)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(WAVCreate(u"Hello, world", widen(path).c_str(), 5), 999);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), message) << path;
}

// Runs `body` in a child process whose standard output goes to `output`; returns the child's
// exit code, or -1 if it did not exit normally.
int run_in_child(const std::string &output, const std::function<int()> &body)
{
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        dup2(fd, STDOUT_FILENO);
        const int code = body();
        std::fflush(stdout);
        _exit(code);
    }
    int status = 0;
    if (child == -1 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

std::string text_of(const std::string &path)
{
    const bytes content = read_file(path);
    return std::string(content.begin(), content.end());
}

TEST(OpenFailure, MissingFolderOrFolderAtThePathWritesNothing)
{
    temp_dir dir;
    std::filesystem::create_directory(dir.file("folder"));
    test_support::write_file(dir.file("bystander.wav"), "untouched");
    const auto before = snapshot(dir.path);

    expect_call(dir.file("missing/out.wav"), open_message);
    expect_call(dir.file("folder"), open_message);
    expect_call(dir.file("folder/"), open_message);
    expect_call("", open_message);
    testing::internal::CaptureStdout();
    EXPECT_EQ(WAVCreate(u"AB", nullptr, 5), 999);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), open_message);

    EXPECT_EQ(snapshot(dir.path), before);
}

TEST(OpenFailure, ReadOnlyFileIsLeftAsItWas)
{
    temp_dir dir;
    const std::string path = dir.file("read-only.wav");
    test_support::write_file(path, "keep");
    chmod(path.c_str(), 0444);
    // The superuser writes read-only files regardless: the call runs as "nobody" then.
    chmod(dir.path.c_str(), 0755);
    const std::string output = dir.file("stdout.txt");
    const int code = run_in_child(output, [&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            return 3;
        return WAVCreate(u"AB", widen(path).c_str(), 5) == 999 ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(text_of(output), open_message);
    EXPECT_EQ(text_of(path), "keep");
}

TEST(WriteFailure, FileSizeLimitLeavesNoPartialFile)
{
    temp_dir dir;
    test_support::write_file(dir.file("bystander.wav"), "untouched");
    const std::string path = dir.file("big.wav");
    const std::string output = dir.file("stdout.txt");
    const int code = run_in_child(output, [&] {
        // The file system refuses the write part-way with EFBIG instead of killing the child.
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{20000, 20000};
        setrlimit(RLIMIT_FSIZE, &limit);
        return WAVCreate(u"Hello, world", widen(path).c_str(), 40) == 999 ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(file_exists(path));
    EXPECT_EQ(text_of(output), write_message);
    EXPECT_EQ(text_of(dir.file("bystander.wav")), "untouched");
}

TEST(WriteFailure, DeviceIsReportedButNeverRemoved)
{
    expect_call("/dev/full", write_message);
    struct stat status;
    ASSERT_EQ(stat("/dev/full", &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));
}

TEST(Output, FifoReceivesTheWholeFileWithItsFinalHeaderFirst)
{
    temp_dir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A FIFO cannot seek back to a placeholder: its header carries the final sizes at once.
    bytes received;
    std::thread reader([&] { received = read_file(fifo); });
    expect_call(fifo, "");
    reader.join();
    EXPECT_EQ(received, render(u"Hello, world", 5));
    struct stat status;
    ASSERT_EQ(stat(fifo.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

TEST(Threads, SixteenThreadsOfTwentyCallsEachMatchASingleCall)
{
    constexpr int thread_count = 16;
    constexpr int calls = 20;
    std::vector<std::u16string> texts;
    std::vector<bytes> expected;
    for (int t = 0; t < thread_count; ++t) {
        texts.push_back(u"thread " + widen(std::to_string(t)) + u" \u00e9");
        expected.push_back(render(texts.back(), 1 + t % 3));
    }
    temp_dir dir;
    const auto path = [&](int t, int call) {
        return dir.file(std::to_string(t) + "-" + std::to_string(call) + ".wav");
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([&, t] {
            for (int call = 0; call < calls; ++call)
                WAVCreate(texts[t].c_str(), widen(path(t, call)).c_str(), 1 + t % 3);
        });
    }
    for (auto &thread : threads)
        thread.join();
    for (int t = 0; t < thread_count; ++t) {
        for (int call = 0; call < calls; ++call)
            ASSERT_EQ(read_file(path(t, call)), expected[t]) << path(t, call);
    }
}

std::size_t open_descriptors()
{
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                                  std::filesystem::directory_iterator()));
}

TEST(LongRun, ThousandsOfCallsLeaveNoDescriptorOpen)
{
    temp_dir dir;
    const std::string good = dir.file("good.wav");
    const std::string missing = dir.file("missing/out.wav");
    const std::size_t before = open_descriptors();
    testing::internal::CaptureStdout();
    for (int i = 0; i < 1000; ++i) {
        WAVCreate(u"AB", widen(good).c_str(), 1);          // written
        WAVCreate(u"AB", widen(missing).c_str(), 1);       // cannot open
        WAVCreate(u"AB", u"/dev/full", 1);                 // cannot write
        WAVCreate(u"AB", widen(good).c_str(), 41);         // refused
    }
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(open_descriptors(), before);
    EXPECT_EQ(printed.size(), 1000 * (std::string(open_message).size() +
                                      std::string(write_message).size() +
                                      std::string("WAVCreate() error: tone length must be 0 to "
                                                  "40 tenths\n")
                                          .size()));
    EXPECT_EQ(read_file(good).size(), 44u + 3 * 200);
}

} // namespace
