#include "window/MainDialog.h"

#include "platform/TextConversion.h"
#include "res/Resources.h"

#include <QComboBox>
#include <QPushButton>

namespace {

constexpr int kBackgroundAudioOption = 0;

}  // namespace

void Cpublish_taviskDlg::OnBnClickedBackgroundAudio()
{
    m_bBackgroundAudioOn = !m_bBackgroundAudioOn;
    Button(IDC_BACKGROUND_AUDIO)->setText(QString::fromUtf8(m_bBackgroundAudioOn ? "停止" : "启动"));
    if (!m_pPublishEngine) return;
    const std::u16string player = m_comboPlayer->currentText().left(kTextFieldUnits).toStdU16String();
    ReplyBuffer reply;
    SendCommand("SelectPlayerName", {{"player", Json::Value(WideToAnsi(player))}}, reply);
    m_pPublishEngine->SetBackgroundAudioOption(kBackgroundAudioOption);
    m_pPublishEngine->EnableBackgroundAudio(m_bBackgroundAudioOn);
}
