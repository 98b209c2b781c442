// GetModuleFileVersion and GetModulePath.
#include "crash/CrashInternal.h"
#include "CrashTestSupport.h"

#include <climits>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace tavisk_crash;

namespace {

std::string Version(const std::string& path, bool* ok)
{
    uint16_t p[4] = {0, 0, 0, 0};
    *ok = GetModuleFileVersion(path.c_str(), &p[0], &p[1], &p[2], &p[3]);
    return std::to_string(p[0]) + "." + std::to_string(p[1]) + "." + std::to_string(p[2]) + "." + std::to_string(p[3]);
}

}  // namespace

TEST(CrashVersion, HelperProgramCarriesTheProjectVersion)
{
    bool ok = false;
    EXPECT_EQ(Version(crash_test::HelperPath(), &ok), "1.0.0.2");
    EXPECT_TRUE(ok);
}

TEST(CrashVersion, ThisTestProgramCarriesItToo)
{
    bool ok = false;
    EXPECT_EQ(Version("/proc/self/exe", &ok), "1.0.0.2");
    EXPECT_TRUE(ok);
}

TEST(CrashVersion, RealProgramCarriesTheProjectVersion)
{
    const std::string program = crash_test::BuildDir() + "/publish_tavisk";
    if (access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "the program is not built in this build folder";
    bool ok = false;
    EXPECT_EQ(Version(program, &ok), "1.0.0.2");
    EXPECT_TRUE(ok);
}

TEST(CrashVersion, FileWithoutTheMarkerReadsZeroAndLeavesOutputs)
{
    uint16_t p[4] = {7, 7, 7, 7};
    EXPECT_FALSE(GetModuleFileVersion("/bin/true", &p[0], &p[1], &p[2], &p[3]));
    EXPECT_EQ(p[0], 7);
    EXPECT_EQ(p[3], 7);
    bool ok = true;
    EXPECT_EQ(Version("/bin/true", &ok), "0.0.0.0");
    EXPECT_FALSE(ok);
}

TEST(CrashVersion, MissingOrNonElfFileFails)
{
    crash_test::TempDir dir;
    crash_test::WriteFile(dir / "text", "just some text, not a program\n");
    crash_test::WriteFile(dir / "short",
                          "\x7f"
                          "EL");
    bool ok = true;
    EXPECT_EQ(Version(dir / "text", &ok), "0.0.0.0");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Version(dir / "short", &ok), "0.0.0.0");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Version(dir / "missing", &ok), "0.0.0.0");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Version("", &ok), "0.0.0.0");
    EXPECT_FALSE(ok);
}

TEST(CrashVersion, MarkerSurvivesStrip)
{
    if (access("/usr/bin/strip", X_OK) != 0) GTEST_SKIP() << "no strip";
    crash_test::TempDir dir;
    crash_test::CopyHelper(dir / "prog");
    crash_test::RunResult r = crash_test::RunProgram({"/usr/bin/strip", "--strip-all", dir / "prog"});
    ASSERT_EQ(r.status, 0) << crash_test::Describe(r);
    bool ok = false;
    EXPECT_EQ(Version(dir / "prog", &ok), "1.0.0.2");
    EXPECT_TRUE(ok);
}

TEST(CrashModulePath, ProgramPathAndCut)
{
    char expected[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", expected, sizeof expected - 1), 0);
    char buffer[kPathSize];
    ASSERT_TRUE(GetModulePath(buffer, kPathSize - 1));
    EXPECT_EQ(std::string(buffer), std::string(expected).substr(0, kPathSize - 2));
    char tiny[5];
    ASSERT_TRUE(GetModulePath(tiny, sizeof tiny));
    EXPECT_EQ(std::string(tiny), std::string(expected).substr(0, 4));
    EXPECT_FALSE(GetModulePath(buffer, 1));
    EXPECT_EQ(buffer[0], '\0');
}
