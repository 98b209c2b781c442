// The settings dialog: the publish address and eleven numbers, read from set.ini when
// it opens and written back whole by OK. It never touches the main window's record.
#pragma once

#include "settings/PublishSettings.h"

#include <QDialog>
#include <QString>
#include <string>

class QLineEdit;

class CSettingDilag : public QDialog {
    Q_OBJECT

public:
    explicit CSettingDilag(QWidget* parent = nullptr);

    // Runs the dialog modally, initialisation first.
    int DoModal();

    bool OnInitDialog();
    void OnBnClickedOk();

protected:
    void SetDefaults();
    void LoadFromFile();
    bool SaveToFile();
    void FillControls();
    bool ReadControls();
    bool ParsePublishAddress(const std::string& address);
    void OnBnClickedBrowse();

private:
    QLineEdit* Edit(int id) const;
    void ReadNumbers(PublishSettings& settings) const;
    void ShowHints();

    PublishSettings m_settings;    // file units: bitrates in kbit/s
    QString m_shownDefaultFolder;  // what the folder field showed for "no folder set"
};
