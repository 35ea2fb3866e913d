// The POSIX module and path calls, against what Windows does with them.
#include "win32_subset.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

namespace {

std::string ExecutablePath()
{
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

TEST(GetModuleFileNameA, FitsReturnsLength)
{
    std::string expected = ExecutablePath();
    char path[PATH_MAX];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    EXPECT_EQ(expected.size(), length);
    EXPECT_EQ(expected, path);
    // Exactly room for the NUL.
    DWORD exact = static_cast<DWORD>(expected.size() + 1);
    EXPECT_EQ(expected.size(), GetModuleFileNameA(NULL, path, exact));
    EXPECT_EQ(expected, path);
}

// Windows cuts to size - 1, terminates, returns size: the caller sees the
// cut only from the count.
TEST(GetModuleFileNameA, TooSmallCutsTerminatesAndReturnsSize)
{
    std::string expected = ExecutablePath();
    for (DWORD size : {DWORD(1), DWORD(5), static_cast<DWORD>(expected.size())}) {
        char path[PATH_MAX];
        memset(path, 'x', sizeof path);
        SetLastError(0);
        EXPECT_EQ(size, GetModuleFileNameA(NULL, path, size)) << size;
        EXPECT_EQ(expected.substr(0, size - 1), path) << size;
        EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError()) << size;
        EXPECT_EQ('x', path[size]) << "wrote past the buffer, size " << size;
    }
}

struct PathCase {
    const char *before;
    BOOL result;
    const char *after;
};

void PrintTo(const PathCase &c, std::ostream *os) { *os << '"' << c.before << '"'; }

class RemoveFileSpec : public testing::TestWithParam<PathCase> {};

TEST_P(RemoveFileSpec, DropsLastComponent)
{
    char path[MAX_PATH];
    strcpy(path, GetParam().before);
    EXPECT_EQ(GetParam().result, PathRemoveFileSpecA(path));
    EXPECT_STREQ(GetParam().after, path);
}

INSTANTIATE_TEST_SUITE_P(Table, RemoveFileSpec, testing::Values(
    PathCase{"/opt/atcmd/atcmd", TRUE, "/opt/atcmd"},
    PathCase{"/atcmd", TRUE, "/"},
    PathCase{"/", FALSE, "/"},
    PathCase{"atcmd", TRUE, ""},
    PathCase{"", FALSE, ""},
    PathCase{"/opt/atcmd/", TRUE, "/opt/atcmd"},
    PathCase{"Z:\\tools\\atcmd.exe", TRUE, "Z:\\tools"},
    PathCase{"/opt\\atcmd", TRUE, "/opt"}));

struct AppendCase {
    std::string path;
    const char *more;
    BOOL result;
    std::string after;
};

void PrintTo(const AppendCase &c, std::ostream *os)
{
    *os << c.path.size() << " chars + \"" << c.more << '"';
}

class Append : public testing::TestWithParam<AppendCase> {};

TEST_P(Append, JoinsWithOneSeparatorWithinMaxPath)
{
    char path[MAX_PATH + 8];
    memset(path, 'x', sizeof path);
    strcpy(path, GetParam().path.c_str());
    EXPECT_EQ(GetParam().result, PathAppendA(path, GetParam().more));
    EXPECT_EQ(GetParam().after, path);
    EXPECT_EQ('x', path[MAX_PATH]) << "wrote past MAX_PATH";
}

const std::string kDir243 = "/" + std::string(242, 'd');

INSTANTIATE_TEST_SUITE_P(Table, Append, testing::Values(
    AppendCase{"/opt/atcmd", "MbimPortAPI.dll", TRUE, "/opt/atcmd/MbimPortAPI.dll"},
    AppendCase{"/opt/atcmd/", "MbimPortAPI.dll", TRUE, "/opt/atcmd/MbimPortAPI.dll"},
    AppendCase{"/opt/atcmd", "/MbimPortAPI.dll", TRUE, "/opt/atcmd/MbimPortAPI.dll"},
    AppendCase{"/", "MbimPortAPI.dll", TRUE, "/MbimPortAPI.dll"},
    // 243 + 1 + 15 = 259 characters fit with the NUL; 260 do not, and then
    // Windows leaves an empty path.
    AppendCase{kDir243, "MbimPortAPI.dll", TRUE, kDir243 + "/MbimPortAPI.dll"},
    AppendCase{kDir243 + "d", "MbimPortAPI.dll", FALSE, ""}));

}  // namespace
