// The check box "同时录制": kept in set.ini, handed to the engine before going on air
// and at once when it changes on air.
#include "window/MainDialog.h"

#include "interface/EngineInterface.h"
#include "platform/DialogTemplate.h"
#include "res/Resources.h"
#include "settings/SettingsFile.h"

#include <QCheckBox>

void Cpublish_taviskDlg::InitRecording()
{
    PublishSettings onFile;
    ReadDialogSettings(kSettingsPath, onFile);
    QCheckBox* box = DialogItemAs<QCheckBox>(*this, IDC_RECORD);
    box->setChecked(onFile.m_bRecord);
    connect(box, &QCheckBox::clicked, this, &Cpublish_taviskDlg::OnBnClickedRecord);
}

void Cpublish_taviskDlg::OnBnClickedRecord()
{
    WriteRecordSwitch(kSettingsPath, DialogItemAs<QCheckBox>(*this, IDC_RECORD)->isChecked());
    if (m_status.OnAir()) SendRecordCommand();
}

// An engine that does not know the command refuses it, and records nothing.
void Cpublish_taviskDlg::SendRecordCommand()
{
    if (!m_pPublishEngine) return;
    const bool on = DialogItemAs<QCheckBox>(*this, IDC_RECORD)->isChecked();
    ReplyBuffer reply;
    SendCommand(kSetRecordCommand, {{"record", Json::Value(on)}, {"folder", Json::Value(RecordFolder(m_settings))}},
                reply);
}
