#include "castorn/background/BackgroundAudio.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "castorn/background/CaptureThread.h"
#include "castorn/background/PlayerName.h"
#include "castorn/background/PulseSession.h"

namespace castorn {

namespace {

std::atomic<unsigned> s_lastInstance{0};

}  // namespace

std::vector<std::string> ListPlayers()
{
    PulseSession session;
    const auto inputs = session.Connect() ? session.SinkInputs() : std::nullopt;
    std::vector<std::string> names;
    for (const SinkInput& input : inputs.value_or(std::vector<SinkInput>{})) {
        const auto name = ListedPlayerName(input);
        if (name && std::find(names.begin(), names.end(), *name) == names.end()) names.push_back(*name);
    }
    return names;
}

BackgroundAudio::BackgroundAudio(Notify notify)
    : m_thread(std::make_unique<CaptureThread>(std::move(notify), CaptureSinkOwner{getpid(), ++s_lastInstance}))
{}

BackgroundAudio::~BackgroundAudio() = default;

void BackgroundAudio::SelectPlayer(const std::string& name)
{
    m_thread->SelectPlayer(name);
}

void BackgroundAudio::Enable(bool on)
{
    m_thread->Enable(on);
}

std::string BackgroundAudio::StartCapture()
{
    return m_thread->StartCapture();
}

void BackgroundAudio::StopCapture()
{
    m_thread->StopCapture();
}

}  // namespace castorn
