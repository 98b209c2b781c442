// GetModuleFileVersion and GetModulePath.
#include "crash/CrashInternal.h"
#include "CrashTestSupport.h"

#include <climits>
#include <unistd.h>

using namespace tavisk_crash;
using namespace crash_test;

namespace {

using Read = std::pair<bool, std::string>;  // whether it was read, and the four parts as written out
const Read kProjectVersion{true, "1.0.0.2"};
const Read kNoVersion{false, "0.0.0.0"};

Read Version(const std::string& path)
{
    uint16_t p[4] = {0, 0, 0, 0};
    const bool ok = GetModuleFileVersion(path.c_str(), &p[0], &p[1], &p[2], &p[3]);
    return {ok, std::to_string(p[0]) + "." + std::to_string(p[1]) + "." + std::to_string(p[2]) + "." +
                    std::to_string(p[3])};
}

}  // namespace

TEST(CrashVersion, HelperProgramCarriesTheProjectVersion)
{
    EXPECT_EQ(Version(kHelperPath), kProjectVersion);
}

TEST(CrashVersion, ThisTestProgramCarriesItToo)
{
    EXPECT_EQ(Version("/proc/self/exe"), kProjectVersion);
}

TEST(CrashVersion, RealProgramCarriesTheProjectVersion)
{
    const std::string program = BuildDir() + "/publish_tavisk";
    if (access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "the program is not built in this build folder";
    EXPECT_EQ(Version(program), kProjectVersion);
}

TEST(CrashVersion, FileWithoutTheMarkerReadsZeroAndLeavesOutputs)
{
    uint16_t p[4] = {7, 7, 7, 7};
    EXPECT_FALSE(GetModuleFileVersion("/bin/true", &p[0], &p[1], &p[2], &p[3]));
    EXPECT_EQ(p[0], 7);
    EXPECT_EQ(p[3], 7);
    EXPECT_EQ(Version("/bin/true"), kNoVersion);
}

TEST(CrashVersion, MissingOrNonElfFileFails)
{
    TempDir dir;
    WriteFile(dir / "text", "just some text, not a program\n");
    WriteFile(dir / "short",
              "\x7f"
              "EL");
    for (const std::string& path : {dir / "text", dir / "short", dir / "missing", std::string()})
        EXPECT_EQ(Version(path), kNoVersion) << path;
}

TEST(CrashVersion, MarkerSurvivesStrip)
{
    if (access("/usr/bin/strip", X_OK) != 0) GTEST_SKIP() << "no strip";
    TempDir dir;
    CopyHelper(dir / "prog");
    const RunResult r = RunProgram({"/usr/bin/strip", "--strip-all", dir / "prog"});
    ASSERT_EQ(r.status, 0) << Describe(r);
    EXPECT_EQ(Version(dir / "prog"), kProjectVersion);
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
