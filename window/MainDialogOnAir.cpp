#include "window/MainDialog.h"

#include "engine/EngineLoader.h"
#include "platform/DialogTemplate.h"
#include "res/Resources.h"
#include "window/PreviewPicture.h"

#include <QComboBox>
#include <QPushButton>

namespace {

constexpr int kAuxFirst = 80;
constexpr int kAuxSecond = 0;

}  // namespace

void Cpublish_taviskDlg::OnBnClickedOnAir()
{
    if (!LoadSettings()) return;
    RememberChoices();
    if (!m_pPublishEngine) {
        m_pPublishEngine = engine_link::CreateCastorn(this);
        if (!m_pPublishEngine) return;
        std::vector<std::string> names;
        m_pPublishEngine->GetNameList(names);
    }
    m_pPublishEngine->SelectVideoDevice(m_comboVideo->currentIndex());
    m_pPublishEngine->SelectAudioDevice(m_comboAudio->currentIndex());
    ReplyBuffer reply;
    SendCommand("SetBframeCount", {{"BframeCount", Json::Value(m_settings.m_iBFrame)}}, reply);
    reply.Clear();
    SendCommand("SetVBRQuality", {{"Quality", Json::Value(m_settings.m_iQuality)}}, reply);
    const PublishSettings& s = m_settings;
    m_pPublishEngine->SetAudioParams(s.m_iAdSampleRate, s.m_iAdChannels, s.m_iAdBitPerSample, s.m_iAdBitRate,
                                     s.m_iAdVolum, s.m_bAdMute);
    m_pPublishEngine->SetVideoParams(s.m_iVdWidth, s.m_iVdHeight, s.m_iVdFps, s.m_iVdBitRate, FrameHandle(),
                                     s.m_iVdInterval);
    const std::string application = s.m_strPublishRoomInfo + "?" + s.m_strKey;
    m_pPublishEngine->SetPublishAddress(s.m_strScheduleSvr.c_str(), application.c_str(),
                                        s.m_strPublishStageInfo.c_str());
    m_pPublishEngine->SetAuxParams(kAuxFirst, kAuxSecond);
    m_pPublishEngine->SetUserId(s.m_strUserID.c_str());
    SendRecordCommand();
    // An engine without it answers that it does not know the command, and streams as before.
    reply.Clear();
    SendCommand("SetAdaptiveBitrate", {{"Enabled", Json::Value(s.m_bAdaptiveBitrate)}}, reply);
    SendPreviewReceiver();
    StatusOnAir();
    m_pPublishEngine->StartPublish();
    SetButtonPattern(true);
}

// The frame shows what the engine hands over; an engine that does not know the command
// refuses it, and the frame stays black.
void Cpublish_taviskDlg::SendPreviewReceiver()
{
    const auto receiver = reinterpret_cast<std::uintptr_t>(static_cast<ICastornPreview*>(m_preview));
    const QSize largest = m_preview->LargestPicture();
    ReplyBuffer reply;
    SendCommand(kSetPreviewReceiverCommand,
                {{"receiver", Json::Value(static_cast<Json::UInt64>(receiver))},
                 {"width", Json::Value(largest.width())},
                 {"height", Json::Value(largest.height())}},
                reply);
}

void Cpublish_taviskDlg::OnBnClickedOffAir()
{
    if (!m_pPublishEngine) return;
    m_pPublishEngine->StopPublish();
    SetButtonPattern(false);
    StatusOffAir();
}

void Cpublish_taviskDlg::SetButtonPattern(bool onAir)
{
    // Enable before disabling, and hand the focus on, so that the keyboard
    // focus sits on the button that undoes what was just done.
    const bool hadFocus = focusWidget() == Button(onAir ? IDC_ON_AIR : IDC_OFF_AIR);
    for (int id : {IDC_OFF_AIR, IDC_BACKGROUND_AUDIO}) Button(id)->setEnabled(onAir);
    for (int id : {IDC_ON_AIR, IDC_SETTINGS}) Button(id)->setEnabled(!onAir);
    if (hadFocus) Button(onAir ? IDC_OFF_AIR : IDC_ON_AIR)->setFocus();
}
