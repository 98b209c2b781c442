// The engine library as the program drives it, for bench/engine_bench.sh:
//
//   engine_bench publish LIBRARY SERVER SECONDS WIDTH HEIGHT FPS KBITS RECORD_DIR VIDEO_DEVICE AUDIO_DEVICE
//       goes on air for SECONDS; prints the slowest of each interface call and the time
//       from StartPublish to the first media in RECORD_DIR (none when RECORD_DIR is "-").
//   engine_bench measure RECORD_DIR -- COMMAND...
//       runs COMMAND; prints its CPU time, peak memory and the time from its start to the
//       first media in RECORD_DIR.
//
// Device arguments are a part of a device's name, or "-" for none. With
// CASTORN_BENCH_RECORD_DIR set, publish also records what it streams into that folder.
#include "interface/EngineInterface.h"

#include <dlfcn.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration span)
{
    return std::chrono::duration<double, std::milli>(span).count();
}

struct Quiet : ICastornNotify {
    bool OnSecondCallback(std::int32_t, std::int32_t) override { return true; }
    bool OnThirdCallback(std::int32_t) override { return true; }
    bool OnFourthCallback(std::int32_t) override { return true; }
};

// The slowest run of each interface call.
class CallTimes {
public:
    template <class Call>
    auto operator()(const char* name, Call call)
    {
        const auto start = Clock::now();
        auto result = call();
        double& slowest = m_slowest[name];
        slowest = std::max(slowest, Milliseconds(Clock::now() - start));
        return result;
    }
    void Print() const
    {
        for (const auto& [name, ms] : m_slowest) std::printf("call %s %.3f ms\n", name.c_str(), ms);
    }

private:
    std::map<std::string, double> m_slowest;
};

// Polls RECORD_DIR until a recording holds data; the time it took from `since`.
class FirstMedia {
public:
    FirstMedia(std::string dir, Clock::time_point since) : m_dir(std::move(dir)), m_since(since)
    {
        if (m_dir != "-") m_thread = std::thread([this] { Watch(); });
    }
    ~FirstMedia()
    {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
    }
    void Print() const
    {
        if (m_ms >= 0) std::printf("first_media %.1f ms\n", m_ms.load());
    }

private:
    void Watch()
    {
        namespace fs = std::filesystem;
        while (!m_stop && m_ms < 0) {
            std::error_code error;
            for (const auto& file : fs::directory_iterator(m_dir, error))
                if (file.file_size(error) > 0) m_ms = Milliseconds(Clock::now() - m_since);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    std::string m_dir;
    Clock::time_point m_since;
    std::atomic<double> m_ms{-1};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

int FindDevice(ICastorn* engine, bool video, const char* part)
{
    if (std::strcmp(part, "-") == 0) return -1;
    const char16_t** names = nullptr;
    unsigned count = 0;
    video ? engine->GetVideoDevices(&names, &count) : engine->GetAudioDevices(&names, &count);
    for (unsigned i = 0; i < count; ++i) {
        std::string narrow;
        for (const char16_t* c = names[i]; *c; ++c) narrow += static_cast<char>(*c < 128 ? *c : '?');
        if (narrow.find(part) != std::string::npos) return static_cast<int>(i);
    }
    return -1;
}

int Publish(char** argv)
{
    void* library = dlopen(argv[0], RTLD_NOW | RTLD_LOCAL);
    auto create = library ? reinterpret_cast<ICastorn* (*)(ICastornNotify*)>(dlsym(library, "CreateCastorn")) : nullptr;
    if (!create) {
        std::fprintf(stderr, "cannot load %s\n", argv[0]);
        return 2;
    }
    const std::string server = argv[1];
    const int seconds = std::atoi(argv[2]);
    Quiet notify;
    CallTimes timed;
    ICastorn* engine = timed("CreateCastorn", [&] { return create(&notify); });
    const char16_t** names = nullptr;
    unsigned count = 0;
    timed("GetVideoDevices", [&] { return engine->GetVideoDevices(&names, &count); });
    timed("GetAudioDevices", [&] { return engine->GetAudioDevices(&names, &count); });
    const int video = FindDevice(engine, true, argv[8]);
    const int audio = FindDevice(engine, false, argv[9]);
    char buffer[kCommandReplySize];
    char* reply = buffer;
    timed("GetPlayerList",
          [&] { return engine->ExecuteCommand("{\"cmd\":\"GetPlayerList\",\"params\":null}", &reply); });
    std::this_thread::sleep_for(std::chrono::seconds(1));  // an operator does not press at once

    timed("SelectVideoDevice", [&] { return engine->SelectVideoDevice(video); });
    timed("SelectAudioDevice", [&] { return engine->SelectAudioDevice(audio); });
    timed("ExecuteCommand", [&] {
        return engine->ExecuteCommand("{\"cmd\":\"SetBframeCount\",\"params\":{\"BframeCount\":0}}", &reply);
    });
    timed("ExecuteCommand",
          [&] { return engine->ExecuteCommand("{\"cmd\":\"SetVBRQuality\",\"params\":{\"Quality\":0}}", &reply); });
    timed("SetAudioParams", [&] { return engine->SetAudioParams(44100, 2, 16, 32000, 80, false); });
    timed("SetVideoParams", [&] {
        return engine->SetVideoParams(std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                                      std::atoi(argv[6]) * 1000, 0, 30);
    });
    timed("SetPublishAddress", [&] { return engine->SetPublishAddress(server.c_str(), "live?bench", "engine"); });
    timed("SetAuxParams", [&] { return engine->SetAuxParams(80, 0); });
    timed("SetUserId", [&] { return engine->SetUserId("10000"); });
    if (const char* folder = std::getenv("CASTORN_BENCH_RECORD_DIR")) {
        const std::string command =
            std::string(R"({"cmd":"SetRecord","params":{"record":true,"folder":")") + folder + "\"}}";
        timed("ExecuteCommand", [&] { return engine->ExecuteCommand(command.c_str(), &reply); });
    }
    {
        FirstMedia first(argv[7], Clock::now());
        timed("StartPublish", [&] { return engine->StartPublish(); });
        for (int i = 0; i < 4; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(seconds * 1000 / 4));
            timed("ExecuteCommand", [&] {
                return engine->ExecuteCommand("{\"cmd\":\"SelectPlayerName\",\"params\":{\"player\":\"x\"}}", &reply);
            });
            timed("SetBackgroundAudioOption", [&] { return engine->SetBackgroundAudioOption(0); });
            timed("EnableBackgroundAudio", [&] { return engine->EnableBackgroundAudio(i % 2 == 0); });
        }
        timed("StopPublish", [&] { return engine->StopPublish(); });
        first.Print();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    timed("Release", [&] {
        engine->Release();
        return true;
    });
    timed.Print();
    return 0;
}

int Measure(const char* recordDir, char** command)
{
    const auto start = Clock::now();
    FirstMedia first(recordDir, start);
    pid_t child = 0;
    if (posix_spawnp(&child, command[0], nullptr, nullptr, command, environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", command[0]);
        return 2;
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const double cpu =
        usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    first.Print();
    std::printf("cpu %.2f s\npeak_rss %.1f MiB\nwall %.1f s\n", cpu, usage.ru_maxrss / 1024.0,
                Milliseconds(Clock::now() - start) / 1000);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 12 && std::strcmp(argv[1], "publish") == 0) return Publish(argv + 2);
    if (argc >= 5 && std::strcmp(argv[1], "measure") == 0 && std::strcmp(argv[3], "--") == 0)
        return Measure(argv[2], argv + 4);
    std::fprintf(stderr, "usage: see the head of engine_bench.cpp\n");
    return 2;
}
