#include "castorn/RetiredSenders.h"

#include "castorn/EngineLoop.h"
#include "castorn/RtmpSender.h"

#include <algorithm>

namespace castorn {

namespace {

constexpr std::chrono::milliseconds kSweepPeriod{100};

}  // namespace

RetiredSenders::RetiredSenders(EngineLoop& loop) : m_loop(loop) {}

RetiredSenders::~RetiredSenders()
{
    m_loop.Cancel(m_sweepTimer);
}

void RetiredSenders::Add(std::unique_ptr<RtmpSender> sender)
{
    m_retired.push_back({std::move(sender), std::chrono::steady_clock::now() + kWaitLimit});
    if (m_sweepTimer == 0) m_sweepTimer = m_loop.Every(kSweepPeriod, [this] { Sweep(); });
}

void RetiredSenders::Sweep()
{
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(m_retired,
                  [now](const Retired& retired) { return retired.deadline <= now || retired.sender->AttemptOver(); });
    if (m_retired.empty()) m_loop.Cancel(m_sweepTimer);
}

}  // namespace castorn
