// Real crashes of the helper program, their dumps read field by field and by lldb-15.
#include "CrashTestSupport.h"
#include "MinidumpReader.h"

#include "support/ChildProcess.h"
#include "support/WaitUntil.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace crash_test;

namespace {

// lldb-15 on the copy's dump, which must show `threads` threads when that is given.
LldbResult Lldb(const HelperCopy& crash, size_t threads = 0)
{
    LldbResult result = RunLldb(crash.dump, crash.program);
    EXPECT_TRUE(result.found) << "lldb-15 is needed to read the dumps: apt-get install lldb-15";
    EXPECT_TRUE(threads == 0 || result.threadLines.size() == threads) << result.threadLines.size() << " threads\n"
                                                                      << result.output;
    return result;
}

// When the helper was about to fault, as it stamps it with --stamp (on the same clock).
std::chrono::steady_clock::time_point FaultTime(const RunResult& run)
{
    const size_t at = run.out.find("T0 ");
    EXPECT_NE(at, std::string::npos) << run.out;
    return std::chrono::steady_clock::time_point(
        std::chrono::nanoseconds(at == std::string::npos ? 0 : std::stoll(run.out.substr(at + 3))));
}

// Everything a dump of the helper must hold, whatever the crash.
void CheckDump(const HelperCopy& crash, const MinidumpReader& dump, size_t expectedThreads, int signo,
               bool stackOverflow = false)
{
    ASSERT_TRUE(dump.valid()) << dump.error();
    EXPECT_EQ(dump.header().signature, 0x504D444Du);
    EXPECT_EQ(dump.header().version & 0xffff, 0xA793u);

    auto system = dump.systemInfo();
    ASSERT_TRUE(system);
    EXPECT_EQ(system->processorArchitecture, 9);
    EXPECT_EQ(system->platformId, 0x8201u);
    EXPECT_GE(system->numberOfProcessors, 1);
    EXPECT_NE(dump.string(system->csdVersionRva).find("Linux"), std::string::npos);

    auto misc = dump.miscInfo();
    ASSERT_TRUE(misc);
    EXPECT_EQ(misc->flags1 & 1u, 1u);
    EXPECT_EQ(misc->processId, static_cast<uint32_t>(crash.run.pid));

    auto exception = dump.exception();
    ASSERT_TRUE(exception);
    EXPECT_EQ(exception->exceptionRecord.exceptionCode, static_cast<uint32_t>(signo));

    // Threads: all of them, each with a full context and its stack, which the memory list holds too.
    const auto threads = dump.threads();
    EXPECT_EQ(threads.size(), expectedThreads);
    const auto ranges = dump.memoryList();
    bool faultingListed = false;
    for (const md::Thread& t : threads) {
        SCOPED_TRACE("thread " + std::to_string(t.threadId));
        EXPECT_EQ(t.threadContext.dataSize, 1232u);
        auto context = dump.context(t.threadContext);
        ASSERT_TRUE(context);
        EXPECT_EQ(context->contextFlags & 0x0010000Fu, 0x0010000Fu);
        EXPECT_NE(context->rip, 0u);
        EXPECT_NE(t.teb, 0u);
        // The FXSAVE area is there: MXCSR sits at its byte 24 and keeps its default masks.
        uint32_t savedMxCsr;
        std::memcpy(&savedMxCsr, context->fltSave + 24, 4);
        EXPECT_EQ(savedMxCsr, context->mxCsr);
        EXPECT_EQ(context->mxCsr & 0x1F80u, 0x1F80u);
        ASSERT_GT(t.stack.memory.dataSize, 0u);
        if (stackOverflow && t.threadId == exception->threadId) {
            // The stack pointer ran to or below its stack's end: the stack is captured from there.
            EXPECT_GE(t.stack.startOfMemoryRange, context->rsp);
            EXPECT_EQ(t.stack.memory.dataSize, 256u * 1024);
        } else {
            EXPECT_LE(t.stack.startOfMemoryRange, context->rsp);
            EXPECT_GT(t.stack.startOfMemoryRange + t.stack.memory.dataSize, context->rsp);
        }
        EXPECT_TRUE(std::ranges::any_of(ranges, [&](const md::MemoryDescriptor& r) {
            return r.startOfMemoryRange == t.stack.startOfMemoryRange && r.memory.dataSize == t.stack.memory.dataSize &&
                   r.memory.rva == t.stack.memory.rva;
        }));
        if (t.threadId == exception->threadId) {
            faultingListed = true;
            EXPECT_EQ(t.threadContext.rva, exception->threadContext.rva);
        }
    }
    EXPECT_TRUE(faultingListed);

    // Modules: the program first, with its path and build id, and the C library.
    const auto modules = dump.modules();
    ASSERT_FALSE(modules.empty());
    EXPECT_EQ(modules[0].name, crash.program);
    const auto buildId = ElfBuildId(crash.program);
    ASSERT_FALSE(buildId.empty());
    std::vector<unsigned char> cv = {0x4C, 0x45, 0x70, 0x42};  // 'BpEL' little-endian
    cv.insert(cv.end(), buildId.begin(), buildId.end());
    EXPECT_EQ(modules[0].cvRecord, cv);
    EXPECT_EQ(modules[0].record.versionInfo.fileVersionMs, 0x00010000u);
    EXPECT_EQ(modules[0].record.versionInfo.fileVersionLs, 0x00000002u);
    bool libc = false;
    for (const auto& m : modules) {
        EXPECT_EQ(m.name.front(), '/');
        EXPECT_GT(m.record.sizeOfImage, 0u);
        if (m.name.find("/libc.so") != std::string::npos) {
            libc = true;
            EXPECT_EQ(std::vector<unsigned char>(m.cvRecord.begin() + 4, m.cvRecord.end()), ElfBuildId(m.name));
        }
    }
    EXPECT_TRUE(libc);

    // The Linux streams.
    EXPECT_NE(dump.stream(md::kLinuxMaps).find(crash.program), std::string::npos);
    EXPECT_NE(dump.stream(md::kLinuxProcStatus).find("Pid:\t" + std::to_string(crash.run.pid) + "\n"),
              std::string::npos);
    EXPECT_EQ(dump.stream(md::kLinuxCmdLine).rfind(crash.program + '\0', 0), 0u);
    const std::string auxv = dump.stream(md::kLinuxAuxv);
    EXPECT_GT(auxv.size(), 0u);
    EXPECT_EQ(auxv.size() % 16, 0u);
}

class CrashDump : public testing::Test {
protected:
    HelperCopy crash;
};

}  // namespace

TEST_F(CrashDump, NullWriteOnTheMainThread)
{
    ASSERT_TRUE(crash.Crash({"main-null", "--threads", "3"}));
    ASSERT_TRUE(Exists(crash.dump));
    struct stat st {};
    stat(crash.dump.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // it holds process memory

    MinidumpReader dump(crash.dump);
    CheckDump(crash, dump, 4, SIGSEGV);
    auto exception = dump.exception();
    ASSERT_TRUE(exception);
    EXPECT_EQ(exception->threadId, static_cast<uint32_t>(crash.run.pid));  // the main thread
    EXPECT_EQ(exception->exceptionRecord.exceptionFlags, 1u);              // SEGV_MAPERR
    EXPECT_EQ(exception->exceptionRecord.exceptionAddress, 0u);            // the null pointer

    // The code at the fault is in the dump too.
    auto context = dump.context(exception->threadContext);
    ASSERT_TRUE(context);
    EXPECT_TRUE(dump.memory(context->rip, 16));

    LldbResult lldb = Lldb(crash, 4);
    EXPECT_NE(lldb.stopLine.find("stop reason = signal SIGSEGV"), std::string::npos) << lldb.output;
    EXPECT_NE(lldb.stopLine.find("CrashOnMainThread"), std::string::npos) << lldb.output;
    EXPECT_NE(lldb.faultingBacktrace.find("frame #0: "), std::string::npos) << lldb.output;
    EXPECT_NE(lldb.faultingBacktrace.find("CrashOnMainThread"), std::string::npos) << lldb.output;
    EXPECT_NE(lldb.faultingBacktrace.find("`main"), std::string::npos) << lldb.output;
    EXPECT_NE(lldb.output.find("SleepingWorker"), std::string::npos) << lldb.output;
}

TEST_F(CrashDump, NullWriteOnASecondThreadWhileOthersRun)
{
    ASSERT_TRUE(crash.Crash({"thread-null", "--threads", "4"}));  // two of them busy, two asleep
    MinidumpReader dump(crash.dump);
    CheckDump(crash, dump, 6, SIGSEGV);
    auto exception = dump.exception();
    ASSERT_TRUE(exception);
    EXPECT_NE(exception->threadId, static_cast<uint32_t>(crash.run.pid));

    LldbResult lldb = Lldb(crash, 6);
    EXPECT_NE(lldb.stopLine.find("signal SIGSEGV"), std::string::npos) << lldb.output;
    EXPECT_NE(lldb.faultingBacktrace.find("FaultingWorker"), std::string::npos) << lldb.output;
    EXPECT_NE(lldb.output.find("BusyWorker"), std::string::npos) << lldb.output;
    EXPECT_NE(lldb.output.find("std::thread::join"), std::string::npos) << lldb.output;  // the main thread
}

TEST_F(CrashDump, ManyThreads)
{
    ASSERT_TRUE(crash.Crash({"thread-null", "--threads", "60"}));
    MinidumpReader dump(crash.dump);
    CheckDump(crash, dump, 62, SIGSEGV);
}

struct SignalCase {
    const char* mode;
    int signo;
    const char* name;
    const char* function;
};

void PrintTo(const SignalCase& c, std::ostream* os)
{
    *os << c.mode;
}

class CrashSignals : public CrashDump, public testing::WithParamInterface<SignalCase> {};

TEST_P(CrashSignals, DumpedAndEndedByTheSameSignal)
{
    const SignalCase& c = GetParam();
    ASSERT_TRUE(crash.Crash({c.mode, "--threads", "2"}, c.signo));
    MinidumpReader dump(crash.dump);
    CheckDump(crash, dump, 3, c.signo);
    auto exception = dump.exception();
    ASSERT_TRUE(exception);
    auto context = dump.context(exception->threadContext);
    ASSERT_TRUE(context);
    if (c.signo == SIGFPE || c.signo == SIGILL) {  // the faulting instruction's address
        EXPECT_EQ(exception->exceptionRecord.exceptionAddress, context->rip);
    }
    if (c.signo == SIGBUS) {
        EXPECT_EQ(exception->exceptionRecord.exceptionFlags, 2u);  // BUS_ADRERR
    }
    if (std::string(c.mode) == "raise" || c.signo == SIGABRT) {  // sent by the program itself
        EXPECT_EQ(static_cast<int32_t>(exception->exceptionRecord.exceptionFlags), SI_TKILL);
    }

    LldbResult lldb = Lldb(crash, 3);
    EXPECT_NE(lldb.stopLine.find(std::string("signal ") + c.name), std::string::npos) << lldb.output;
    EXPECT_NE(lldb.faultingBacktrace.find(c.function), std::string::npos) << lldb.output;
}

INSTANTIATE_TEST_SUITE_P(All, CrashSignals,
                         testing::Values(SignalCase{"abort", SIGABRT, "SIGABRT", "AbortOnMainThread"},
                                         SignalCase{"fpe", SIGFPE, "SIGFPE", "DivideByZero"},
                                         SignalCase{"ill", SIGILL, "SIGILL", "IllegalInstruction"},
                                         SignalCase{"bus", SIGBUS, "SIGBUS", "BusError"},
                                         SignalCase{"raise", SIGSEGV, "SIGSEGV", "RaiseSegv"}),
                         [](const auto& info) { return std::string(info.param.name).substr(3); });

TEST_F(CrashDump, TwoThreadsFaultingAtOnceNeitherDeadlocks)
{
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        HelperCopy copy;
        ASSERT_TRUE(copy.Crash({"two-faults", "--threads", "2"}));
        MinidumpReader dump(copy.dump);
        CheckDump(copy, dump, 5, SIGSEGV);
        LldbResult lldb = Lldb(copy, 5);
        EXPECT_NE(lldb.stopLine.find("FaultingTwin"), std::string::npos) << lldb.output;
        // The other twin is shown in its own function, where it faulted, not inside the handler.
        const bool aStopped = lldb.stopLine.find("FaultingTwinA") != std::string::npos;
        const std::string other = aStopped ? "FaultingTwinB" : "FaultingTwinA";
        bool otherAtItsFault = false;
        for (const std::string& line : lldb.threadLines)
            otherAtItsFault = otherAtItsFault || line.find("`(anonymous namespace)::" + other) != std::string::npos;
        EXPECT_TRUE(otherAtItsFault) << other << "\n" << lldb.output;
    }
}

TEST_F(CrashDump, ThreadThatBlocksEverySignalIsStillListed)
{
    ASSERT_TRUE(crash.Crash({"blocked-thread", "--threads", "2", "--stamp"}));
    // Seen blocking the stop signal, it is not waited for the full second.
    EXPECT_LT(crash.run.ended - FaultTime(crash.run), std::chrono::milliseconds(900));
    MinidumpReader dump(crash.dump);
    ASSERT_TRUE(dump.valid());
    EXPECT_EQ(dump.threads().size(), 4u);
    LldbResult lldb = Lldb(crash, 4);
    EXPECT_NE(lldb.faultingBacktrace.find("CrashOnMainThread"), std::string::npos) << lldb.output;
    // Described from its system call: lldb still unwinds it to its function.
    EXPECT_NE(lldb.output.find("BlockedWorker"), std::string::npos) << lldb.output;
}

TEST_F(CrashDump, StackOverflowOnTheMainThread)
{
    // The handler runs on the alternate stack; the dump holds the innermost 256 KiB of the stack.
    ASSERT_TRUE(crash.Crash({"overflow", "--threads", "1"}));
    MinidumpReader dump(crash.dump);
    CheckDump(crash, dump, 2, SIGSEGV, true);
    LldbResult lldb = Lldb(crash);
    EXPECT_NE(lldb.stopLine.find("RecurseForever"), std::string::npos) << lldb.output;
    EXPECT_NE(lldb.faultingBacktrace.find("frame #20: "), std::string::npos) << lldb.output;
}

TEST_F(CrashDump, RunningThreadThatBlocksEverySignalIsListedWithoutRegisters)
{
    // It cannot be stopped nor located: after the full wait it is listed with zero registers,
    // and the reader still shows every other thread.
    ASSERT_TRUE(crash.Crash({"blocked-busy-thread", "--threads", "2"}));
    MinidumpReader dump(crash.dump);
    ASSERT_TRUE(dump.valid());
    const auto threads = dump.threads();
    ASSERT_EQ(threads.size(), 4u);
    int unknown = 0;
    for (const auto& t : threads) {
        auto context = dump.context(t.threadContext);
        ASSERT_TRUE(context);
        if (context->rip == 0) {
            ++unknown;
            EXPECT_EQ(context->contextFlags, 0x00100000u);
        }
    }
    EXPECT_EQ(unknown, 1);
    LldbResult lldb = Lldb(crash, 4);
    EXPECT_NE(lldb.faultingBacktrace.find("CrashOnMainThread"), std::string::npos) << lldb.output;
}

TEST_F(CrashDump, PreviousHandlerIsChained)
{
    ASSERT_TRUE(crash.Crash({"prev-handler"}));
    EXPECT_NE(crash.run.err.find("previous handler ran"), std::string::npos);
    EXPECT_TRUE(MinidumpReader(crash.dump).valid());
    // Every descriptor the handler opened (threads folder, memory, dump, /proc files) is closed again.
    const size_t before = crash.run.err.find("open descriptors before the fault: ");
    const size_t after = crash.run.err.find("open descriptors after the dump: ");
    ASSERT_NE(before, std::string::npos) << crash.run.err;
    ASSERT_NE(after, std::string::npos) << crash.run.err;
    EXPECT_EQ(std::stoi(crash.run.err.substr(before + 35)), std::stoi(crash.run.err.substr(after + 33)));
}

TEST_F(CrashDump, FaultInThePreviousHandlerNeitherLoopsNorHangs)
{
    ASSERT_TRUE(crash.Crash({"prev-handler-faults"}));
    EXPECT_NE(crash.run.err.find("previous handler faults"), std::string::npos);
    EXPECT_TRUE(MinidumpReader(crash.dump).valid());
}

TEST_F(CrashDump, FaultInsideTheWriterKeepsWhatWasWritten)
{
    ASSERT_TRUE(crash.Crash({"writer-fault"}));
    MinidumpReader dump(crash.dump);
    ASSERT_TRUE(dump.valid()) << dump.error();
    EXPECT_TRUE(dump.hasStream(md::kSystemInfoStream));
    EXPECT_TRUE(dump.hasStream(md::kExceptionStream));
    EXPECT_EQ(dump.threads().size(), 4u);
    EXPECT_FALSE(dump.memoryList().empty());
    EXPECT_FALSE(dump.hasStream(md::kModuleListStream));  // the writer was left before it
}

TEST_F(CrashDump, SecondCrashReplacesTheDump)
{
    ASSERT_TRUE(crash.Crash({"thread-null", "--threads", "8"}));
    const size_t firstSize = MinidumpReader(crash.dump).fileSize();
    ASSERT_TRUE(crash.Crash({"main-null", "--threads", "1"}));
    MinidumpReader dump(crash.dump);
    ASSERT_TRUE(dump.valid());
    ASSERT_TRUE(dump.miscInfo());
    EXPECT_EQ(dump.miscInfo()->processId, static_cast<uint32_t>(crash.run.pid));
    EXPECT_EQ(dump.threads().size(), 2u);
    EXPECT_LT(dump.fileSize(), firstSize);  // replaced, not appended to
}

TEST_F(CrashDump, WithoutInstallationNoDump)
{
    ASSERT_TRUE(crash.Crash({"main-null", "--no-install"}));
    EXPECT_FALSE(Exists(crash.dump));
}

TEST_F(CrashDump, RealProgramLeavesADumpBesideIt)
{
    const std::string program = BuildDir() + "/publish_tavisk";
    if (access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "the program is not built in this build folder";
    const std::string dumpPath = BuildDir() + "/publish_tavisk.dmp";
    unlink(dumpPath.c_str());
    TempDir work;
    test_support::ChildProcess app({program},
                                   {.env = {"ASAN_OPTIONS=" + SanitizerOptionsForChild(), "QT_QPA_PLATFORM=offscreen",
                                            "XDG_STATE_HOME=" + (work / "state")},
                                    .workingDir = work.Path()});
    // Wait until the handler is in place (SIGSEGV caught), then fault it from outside.
    const std::string status = "/proc/" + std::to_string(app.Pid()) + "/status";
    const bool caught = test_support::WaitUntil([&] {
        const std::string text = ReadFile(status);
        const size_t at = text.find("SigCgt:\t");
        return at != std::string::npos && (std::stoull(text.substr(at + 8, 16), nullptr, 16) >> (SIGSEGV - 1)) & 1;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(app.Pid(), SIGSEGV);
    EXPECT_TRUE(app.AwaitExit(std::chrono::seconds(60)));
    const int wstatus = app.Status();
    ASSERT_TRUE(caught) << "the program never installed a SIGSEGV handler";
    EXPECT_TRUE(WIFSIGNALED(wstatus) && WTERMSIG(wstatus) == SIGSEGV);
    MinidumpReader dump(dumpPath);
    ASSERT_TRUE(dump.valid()) << dump.error();
    ASSERT_TRUE(dump.exception());
    EXPECT_EQ(dump.exception()->exceptionRecord.exceptionCode, static_cast<uint32_t>(SIGSEGV));
    EXPECT_GE(dump.threads().size(), 1u);
    ASSERT_FALSE(dump.modules().empty());
    EXPECT_EQ(dump.modules()[0].name, program);
    LldbResult lldb = RunLldb(dumpPath, program);
    EXPECT_TRUE(lldb.found);
    EXPECT_EQ(lldb.threadLines.size(), dump.threads().size()) << lldb.output;
    EXPECT_NE(lldb.stopLine.find("signal SIGSEGV"), std::string::npos) << lldb.output;
    unlink(dumpPath.c_str());
}
