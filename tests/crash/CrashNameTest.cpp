// The dump's name, the fallback in the user's state folder, the cuts of the installer's
// arguments and the two installation messages.
#include "crash/CrashInternal.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace tavisk_crash;

namespace {

std::string DumpName(const std::string& program, size_t size = kPathSize)
{
    std::string out(size, 'x');
    bool ok = FormDumpName(program.c_str(), out.data(), size);
    std::string text = out.c_str();
    EXPECT_EQ(ok, !text.empty()) << program;
    return text;
}

// `text` as CopyCut leaves it in a buffer of `size` bytes.
std::string Cut(size_t size, const std::string& text)
{
    std::vector<char> buffer(size, 'x');
    CopyCut(buffer.data(), size, text.c_str());
    return buffer.data();
}

struct Fallback {
    bool ok;
    std::string dir;
    std::string file;
};

Fallback FallbackFor(const std::string& program, const char* stateHome, const char* home)
{
    std::string dir(kLongPathSize, 'x');
    std::string file(kLongPathSize, 'x');
    bool ok = FormFallbackDumpPath(program.c_str(), stateHome, home, dir.data(), dir.size(), file.data(), file.size());
    return {ok, dir.c_str(), file.c_str()};
}

}  // namespace

TEST(CrashDumpName, ProgramWithoutExtensionGetsDmpAppended)
{
    EXPECT_EQ(DumpName("/usr/bin/publish_tavisk"), "/usr/bin/publish_tavisk.dmp");
}

TEST(CrashDumpName, LastDotOfTheFileNameOnly)
{
    EXPECT_EQ(DumpName("/opt/a.b/prog.bin"), "/opt/a.b/prog.dmp");
    // A dot in a folder name is never cut at.
    EXPECT_EQ(DumpName("/opt/a.b/prog"), "/opt/a.b/prog.dmp");
    EXPECT_EQ(DumpName("/x.y/prog"), "/x.y/prog.dmp");
}

TEST(CrashDumpName, ExtensionReplaced)
{
    EXPECT_EQ(DumpName("/Tools/Live/app.exe"), "/Tools/Live/app.dmp");
    EXPECT_EQ(DumpName("/a/b/archive.tar.gz"), "/a/b/archive.tar.dmp");
    EXPECT_EQ(DumpName("/a/b/prog."), "/a/b/prog.dmp");
}

TEST(CrashDumpName, LeadingDotIsNotAnExtension)
{
    EXPECT_EQ(DumpName("/home/u/.hidden"), "/home/u/.hidden.dmp");
    EXPECT_EQ(DumpName("/home/u/.hidden.bin"), "/home/u/.hidden.dmp");
}

TEST(CrashDumpName, ResultMustFitIn259Characters)
{
    // 259 characters with an extension: the name keeps its length and fits.
    const std::string withExtension = std::string("/").append(249, 'd').append("/prog.bin");
    ASSERT_EQ(withExtension.size(), 259u);
    const std::string dump = DumpName(withExtension);
    EXPECT_EQ(dump.size(), 259u);
    EXPECT_EQ(dump.substr(dump.size() - 9), "/prog.dmp");

    // 255 characters without one: 259 with ".dmp" fits; 256 does not.
    std::string fits = std::string("/").append(249, 'd').append("/prog");
    ASSERT_EQ(fits.size(), 255u);
    EXPECT_EQ(DumpName(fits).size(), 259u);
    EXPECT_EQ(DumpName(fits + "x"), "");
}

TEST(CrashDumpName, FallbackInXdgStateHome)
{
    Fallback f = FallbackFor("/usr/bin/publish_tavisk", "/home/u/state", "/home/u");
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.dir, "/home/u/state/publish_tavisk");
    EXPECT_EQ(f.file, "/home/u/state/publish_tavisk/publish_tavisk.dmp");
}

TEST(CrashDumpName, FallbackInHomeLocalState)
{
    Fallback f = FallbackFor("/opt/a.b/prog.bin", nullptr, "/home/u/");
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.dir, "/home/u/.local/state/prog");
    EXPECT_EQ(f.file, "/home/u/.local/state/prog/prog.dmp");
    // A relative or empty XDG_STATE_HOME is ignored, as the base directory rules say.
    EXPECT_EQ(FallbackFor("/usr/bin/p", "relative/state", "/h").file, "/h/.local/state/p/p.dmp");
    EXPECT_EQ(FallbackFor("/usr/bin/p", "", "/h").file, "/h/.local/state/p/p.dmp");
    EXPECT_EQ(FallbackFor("/usr/bin/p", "/", "/h").file, "/p/p.dmp");
}

TEST(CrashDumpName, NoFallbackWithoutAnyHome)
{
    Fallback f = FallbackFor("/usr/bin/p", nullptr, nullptr);
    EXPECT_FALSE(f.ok);
    EXPECT_EQ(f.dir, "");
    EXPECT_EQ(f.file, "");
    EXPECT_FALSE(FallbackFor("/usr/bin/p", "rel", "also/relative").ok);
}

TEST(CrashDumpName, FallbackTooLongIsRefused)
{
    std::string home = std::string("/").append(kLongPathSize, 'h');
    EXPECT_FALSE(FallbackFor("/usr/bin/p", nullptr, home.c_str()).ok);
}

TEST(CrashArguments, ReporterPathCutAt259)
{
    EXPECT_EQ(Cut(kPathSize, std::string(400, 'r')), std::string(259, 'r'));
    EXPECT_EQ(Cut(kPathSize, "/short"), "/short");
}

TEST(CrashArguments, AppArgumentCutAt1023)
{
    EXPECT_EQ(Cut(kAppArgSize, std::string(5000, 'a')), std::string(1023, 'a'));
    EXPECT_EQ(Cut(kAppArgSize, std::string(1023, 'b')), std::string(1023, 'b'));
}

TEST(CrashInstallMessages, UnreadablePathPrints590AndInstallsNothing)
{
    testing::internal::CaptureStdout();
    bool installed = InstallForProgramPath("", 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(installed);
    EXPECT_EQ(out, "(590): can't get filename\n");
    EXPECT_FALSE(s_bInstalled);
}

TEST(CrashInstallMessages, PathOf260CharactersPrints593AndInstallsNothing)
{
    std::string path = std::string("/").append(259, 'p');
    ASSERT_EQ(path.size(), 260u);
    testing::internal::CaptureStdout();
    bool installed = InstallForProgramPath(path.c_str(), path.size());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(installed);
    EXPECT_EQ(out, "CrashHandler.cpp(593): file(" + path + ") too large\n");
    EXPECT_FALSE(s_bInstalled);
    struct sigaction current {};
    sigaction(SIGSEGV, nullptr, &current);
    EXPECT_FALSE((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == CrashExceptionFilter);
}

TEST(CrashReporterArguments, ExactVectorWithoutShell)
{
    char savedProgram[kPathSize];
    memcpy(savedProgram, s_szProgram, sizeof savedProgram);
    CopyCut(s_szReporter, sizeof s_szReporter, "/opt/reporter");
    CopyCut(s_szProgram, sizeof s_szProgram, "/usr/bin/pub \"quoted\"");
    s_szAppArg[0] = '\0';
    const char* const* argv = ReporterArguments("/usr/bin/pub.dmp", 4242);
    std::vector<std::string> args;
    for (; *argv != nullptr; ++argv) args.push_back(*argv);
    // The version is the one read at installation (none here: this process never installed).
    const std::string version = args.size() > 6 ? args[6] : "";
    const std::vector<std::string> expected = {
        "/opt/reporter", "-f",  "/usr/bin/pub.dmp", "-t", "/usr/bin/pub \"quoted\"", "-v", version, "-a", "",
        "-pid",          "4242"};
    EXPECT_EQ(args, expected);
    s_szReporter[0] = '\0';
    memcpy(s_szProgram, savedProgram, sizeof savedProgram);
}
