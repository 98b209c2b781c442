// One publisher on a slow uplink, the long form of the congestion tests: nginx and the
// publisher in a network namespace of this process's own, whose loopback follows a list
// of phases (a rate in kbit/s, 0 for none, and seconds). The picture is the Xvfb screen
// with moving noise on it and the tone in the microphone, for the engine and for the
// ffmpeg command line alike. Per phase: what arrived, the sound kept, the delay.
//
//   castorn_congestion_bench engine|ffmpeg SOURCE_DIR [KBPS:SECONDS ...]
#include "interface/EngineInterface.h"
#include "support/ChildProcess.h"
#include "support/RtmpServer.h"
#include "support/ShapedNetwork.h"
#include "support/SoundServer.h"
#include "support/TagArrivals.h"
#include "support/VirtualDisplay.h"

#include "tests/castorn/NotificationLog.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace test_support;
using namespace std::chrono_literals;

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFps = 30;
constexpr int kKbps = 2500;

struct Phase {
    int kbps;
    std::chrono::seconds span;
    ArrivalTime from{};  // filled in as the phase runs
    ArrivalTime to{};
};

// How long after `from` the delay last stood above `baseline` by more than a little.
double BackToBaseline(const std::vector<TagArrival>& tags, ArrivalTime from, ArrivalTime to, double baseline)
{
    const std::vector<double> delays = Delays(tags);
    double last = 0;
    for (std::size_t i = 0; i < tags.size(); ++i)
        if (tags[i].at >= from && tags[i].at < to && delays[i] > baseline + 0.3)
            last = std::chrono::duration<double>(tags[i].at - from).count();
    return last;
}

std::unique_ptr<ChildProcess> StartFfmpeg(const std::string& source, const std::string& url)
{
    const std::string line = ". " + source + "/bench/ffmpeg-publisher.sh; ffmpeg_publish " + std::to_string(kWidth) +
                             " " + std::to_string(kHeight) + " " + std::to_string(kFps) + " " + std::to_string(kKbps) +
                             " 100000 " + url;
    return std::make_unique<ChildProcess>(std::vector<std::string>{"bash", "-c", line});
}

}  // namespace

int main(int argc, char** argv)
{
    std::string why;
    if (argc < 3 || !ShapedNetwork::Enter(why)) {
        std::fprintf(stderr, "usage: %s engine|ffmpeg SOURCE_DIR [KBPS:SECONDS ...] (as root) %s\n", argv[0],
                     why.c_str());
        return 2;
    }
    const bool engine = std::string(argv[1]) == "engine";
    std::vector<Phase> phases;
    for (int i = 3; i < argc; ++i) {
        int kbps = 0;
        int seconds = 0;
        if (std::sscanf(argv[i], "%d:%d", &kbps, &seconds) == 2)
            phases.push_back({kbps, std::chrono::seconds(seconds)});
    }
    if (phases.empty()) phases = {{0, 10s}, {1000, 60s}, {0, 30s}, {300, 30s}, {0, 30s}, {200, 40s}, {0, 30s}};

    VirtualDisplay display;
    setenv("DISPLAY", display.Name().c_str(), 1);
    SoundServer sound(SoundServer::Microphone::SinkMonitor);
    TonePlayer tone("Microphone", "mic_sink", 0.5);
    ChildProcess noise({"gst-launch-1.0", "-q", "videotestsrc", "pattern=snow", "is-live=true", "!",
                        "video/x-raw,width=1280,height=720,framerate=30/1", "!", "ximagesink"});
    RtmpServer server;
    TagArrivals arrivals(server.RecordingsDir());
    std::this_thread::sleep_for(2s);

    castorn_test::NotificationLog log;
    ICastorn* castorn = nullptr;
    std::unique_ptr<ChildProcess> ffmpeg;
    if (engine) {
        castorn = CreateCastorn(&log);
        const char16_t** names = nullptr;
        unsigned count = 0;
        castorn->GetVideoDevices(&names, &count);
        int screen = -1;
        for (unsigned i = 0; i < count; ++i)
            if (std::u16string(names[i]).find(u"Screen") != std::u16string::npos) screen = static_cast<int>(i);
        castorn->GetAudioDevices(&names, &count);
        int microphone = -1;
        for (unsigned i = 0; i < count; ++i)
            if (std::u16string(names[i]).find(u"FakeMicSink") != std::u16string::npos) microphone = static_cast<int>(i);
        castorn->SelectVideoDevice(screen);
        castorn->SelectAudioDevice(microphone);
        castorn->SetAudioParams(44100, 2, 16, 32000, 80, false);
        castorn->SetVideoParams(kWidth, kHeight, kFps, kKbps * 1000, 0, 30);
        castorn->SetPublishAddress(server.Address().c_str(), "live?qex", "s");
        castorn->StartPublish();
    } else {
        ffmpeg = StartFfmpeg(argv[2], server.Address() + "/live/s");
    }
    std::this_thread::sleep_for(3s);

    for (Phase& phase : phases) {
        phase.kbps > 0 ? ShapedNetwork::Limit(phase.kbps) : ShapedNetwork::Unlimit();
        phase.from = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(phase.span);
        phase.to = std::chrono::steady_clock::now();
    }
    const std::vector<TagArrival> tags = arrivals.Tags();
    if (castorn) castorn->Release();
    ffmpeg.reset();

    double longestStepMs = 0;
    const double kept = SoundKept(tags, longestStepMs);
    int recordings = 0;
    for (const TagArrival& tag : tags) recordings = std::max(recordings, tag.recording + 1);
    const double baseline = FiguresBetween(tags, phases.front().from, phases.front().to).maxDelay;
    std::printf("%s: sound kept %.2f %% (longest step %.0f ms), %d publication(s), delay before any limit %.2f s\n",
                argv[1], kept * 100, longestStepMs, recordings, baseline);
    std::printf("phase     | kbit/s in | video fps | delay at end | max delay | back to baseline after\n");
    for (std::size_t i = 0; i < phases.size(); ++i) {
        const Phase& phase = phases[i];
        const ArrivalFigures figures = FiguresBetween(tags, phase.from, phase.to);
        const double back = phase.kbps == 0 && i > 0 ? BackToBaseline(tags, phase.from, phase.to, baseline) : 0;
        std::printf("%4d x %3llds | %9.0f | %9.1f | %10.2f s | %7.2f s | %.1f s\n", phase.kbps,
                    static_cast<long long>(phase.span.count()), figures.kbps, figures.videoFps, figures.lastDelay,
                    figures.maxDelay, back);
    }
    return 0;
}
