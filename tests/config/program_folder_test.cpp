// ProgramFolder, asked by a small program (program_folder_probe) started from
// a folder each case builds: found under the folder's name at the moment of
// asking (the probe renames it first), shown with control characters
// escaped, and, where the folder cannot be told, the report names the cause.

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized = __has_feature(address_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

struct ProbeCase {
    const char *name;
    std::string folder;                 // the probe's, relative to the scratch folder
    std::vector<std::string> meanwhile; // what the probe does to itself before it asks, relative to it too
    bool withoutProc;                   // started where /proc is not mounted
    bool found;                         // whether the folder is told
    std::string expected; // found: the file it names, relative to the scratch folder; else what the report says
};

void PrintTo(const ProbeCase &row, std::ostream *out)
{
    *out << row.name;
}

std::string longerThanPathMax()
{
    std::string path;
    while (path.size() <= PATH_MAX)
        path += std::string(200, 'd') + '/';
    path.pop_back();
    return path;
}

const ProbeCase kProbeCases[] = {
    {"FoundUnderItsNewNameAfterARename",
     "before",
     {"rename", "before", "after"},
     false,
     true,
     "after/ORNIVEX_CONFIG.txt"},
    {"ControlCharactersShowEscaped",
     "odd\n\x1b[1m\u202Ename",
     {},
     false,
     true,
     R"(odd\x0A\x1B[1m\u202Ename/ORNIVEX_CONFIG.txt)"},
    {"ProgramFileDeleted", "gone", {"delete", "gone/probe"}, false, false, "deleted or replaced"},
    {"PathLongerThanPathMax", longerThanPathMax(), {}, false, false, "PATH_MAX"},
    {"WithoutProc", "plain", {}, true, false, "/proc is not mounted"},
};

// Copies the probe into `folder` below `scratch`, one folder at a time so
// that any depth works, and returns a descriptor to start it by.
int placeProbe(const std::string &scratch, const std::string &folder)
{
    int at = ::open(scratch.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (std::size_t start = 0; start < folder.size();) {
        const std::size_t end = std::min(folder.find('/', start), folder.size());
        const std::string part = folder.substr(start, end - start);
        ::mkdirat(at, part.c_str(), 0755);
        const int next = ::openat(at, part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(at);
        at = next;
        start = end + 1;
    }
    std::ifstream probe(ORNIVEX_PROBE, std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(probe), {});
    const int copy = ::openat(at, "probe", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0755);
    const bool copied = copy >= 0 && ::write(copy, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(copy);
    const int program = copied ? ::openat(at, "probe", O_PATH | O_CLOEXEC) : -1;
    ::close(at);
    return program;
}

class ProgramFolderTest : public testing::TestWithParam<ProbeCase> {
protected:
    void SetUp() override
    {
        m_scratch = std::filesystem::temp_directory_path() / "ornivex-probe-XXXXXX";
        ASSERT_NE(::mkdtemp(m_scratch.data()), nullptr) << std::strerror(errno);
    }
    // rm copes with paths longer than PATH_MAX; std::filesystem does not.
    void TearDown() override { EXPECT_EQ(std::system(("rm -rf " + m_scratch).c_str()), 0); }

    std::string m_scratch;
};

TEST_P(ProgramFolderTest, NamesTheFolderOrWhyItIsUnknown)
{
    const ProbeCase &row = GetParam();
    if (row.withoutProc && ::geteuid() != 0)
        GTEST_SKIP() << "needs root to start the program in a mount namespace without /proc";
    if (row.withoutProc && kSanitized)
        GTEST_SKIP() << "the sanitizers' runtime in the probe cannot work without /proc; the plain build runs this";
    const int program = placeProbe(m_scratch, row.folder);
    ASSERT_GE(program, 0) << std::strerror(errno);
    std::array<int, 2> output{};
    ASSERT_EQ(::pipe2(output.data(), O_CLOEXEC), 0);
    constexpr int kNoNamespace = 77;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::dup2(output[1], 1) != 1 || ::chdir(m_scratch.c_str()) != 0)
            ::_exit(1);
        if (row.withoutProc
            && (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                || ::umount2("/proc", MNT_DETACH) != 0))
            ::_exit(kNoNamespace);
        std::vector<char *> arguments{const_cast<char *>("probe")};
        for (const std::string &argument : row.meanwhile)
            arguments.push_back(const_cast<char *>(argument.c_str()));
        arguments.push_back(nullptr);
        ::syscall(SYS_execveat, program, "", arguments.data(), environ, AT_EMPTY_PATH);
        ::_exit(127);
    }
    ::close(output[1]);
    ::close(program);
    std::string said;
    std::array<char, 4096> buffer{};
    for (ssize_t got = 0; (got = ::read(output[0], buffer.data(), buffer.size())) > 0;)
        said.append(buffer.data(), static_cast<std::size_t>(got));
    ::close(output[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kNoNamespace)
        GTEST_SKIP() << "this system does not let a test unmount /proc in a namespace of its own";
    if (row.found) {
        EXPECT_EQ(said, m_scratch + "/" + row.expected);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    } else {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1 && said.starts_with("Error ")) << said;
        EXPECT_NE(said.find(row.expected), std::string::npos) << said;
    }
}

INSTANTIATE_TEST_SUITE_P(Places, ProgramFolderTest, testing::ValuesIn(kProbeCases),
                         [](const testing::TestParamInfo<ProbeCase> &row) { return std::string(row.param.name); });

} // namespace
