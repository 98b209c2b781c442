// The window's side of the settings: reading set.ini at go-on-air and opening
// the settings dialog.
#include "window/MainDialog.h"

#include "platform/MessageBox.h"
#include "settings/SettingDialog.h"
#include "settings/SettingsFile.h"

bool Cpublish_taviskDlg::LoadSettings()
{
    if (ReadOnAirSettings(kSettingsPath, m_settings)) return true;
    ShowMessage(this, QString::fromUtf8(kEmptyAddressMessage));
    return false;
}

void Cpublish_taviskDlg::OnBnClickedSettings()
{
    // The window owns the dialog; the file carries its result to the next go-on-air.
    CSettingDilag dialog(this);
    dialog.DoModal();
}
