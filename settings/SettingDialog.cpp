#include "settings/SettingDialog.h"

#include "engine/TextConversion.h"
#include "interface/EngineInterface.h"
#include "platform/DialogTemplate.h"
#include "platform/MessageBox.h"
#include "platform/Wtoi.h"
#include "res/SettingDialogTemplate.h"
#include "settings/PublishAddress.h"
#include "settings/SettingsFile.h"
#include "settings/StreamParameters.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>

namespace {

// A field whose value the engine would refuse; the hints say why.
constexpr char kRefusedFieldStyle[] = "QLineEdit { border: 1px solid #d00000; }";

void ShowAsHint(QLabel* hint)
{
    QPalette red = hint->palette();
    red.setColor(QPalette::WindowText, QColor(0xc0, 0, 0));
    hint->setPalette(red);
    hint->setWordWrap(true);
    hint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

// The settings were not saved: the file could not be written.
constexpr char kSaveFailedMessage[] = "设置保存失败,设置未保存!";

struct NumericField {
    int id;
    std::int32_t PublishSettings::*field;
};

// The order in which the controls are filled and read.
constexpr NumericField kNumericFields[] = {
    {IDC_VIDEO_WIDTH, &PublishSettings::m_iVdWidth},
    {IDC_VIDEO_HEIGHT, &PublishSettings::m_iVdHeight},
    {IDC_VIDEO_FPS, &PublishSettings::m_iVdFps},
    {IDC_VIDEO_BITRATE, &PublishSettings::m_iVdBitRate},
    {IDC_VIDEO_INTERVAL, &PublishSettings::m_iVdInterval},
    {IDC_VIDEO_BFRAME, &PublishSettings::m_iBFrame},
    {IDC_VIDEO_QUALITY, &PublishSettings::m_iQuality},
    {IDC_AUDIO_SAMPLE_RATE, &PublishSettings::m_iAdSampleRate},
    {IDC_AUDIO_CHANNELS, &PublishSettings::m_iAdChannels},
    {IDC_AUDIO_BIT_PER_SAMPLE, &PublishSettings::m_iAdBitPerSample},
    {IDC_AUDIO_BITRATE, &PublishSettings::m_iAdBitRate},
};

}  // namespace

CSettingDilag::CSettingDilag(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    BuildDialog(*this, kSettingDialogTemplate);
    connect(DialogItemAs<QPushButton>(*this, IDOK), &QPushButton::clicked, this, &CSettingDilag::OnBnClickedOk);
    connect(DialogItemAs<QPushButton>(*this, IDCANCEL), &QPushButton::clicked, this, &QDialog::reject);
    // Hints only: OK saves whatever is typed.
    for (int id : {IDC_ADDRESS_HINT, IDC_PARAMETER_HINT}) ShowAsHint(DialogItemAs<QLabel>(*this, id));
    for (const StreamParameter& parameter : StreamParameters())
        Edit(parameter.controlId)->setToolTip(ParameterToolTip(parameter));
    connect(Edit(IDC_PUBLISH_ADDRESS), &QLineEdit::textChanged, this, &CSettingDilag::ShowHints);
    for (const NumericField& numeric : kNumericFields)
        connect(Edit(numeric.id), &QLineEdit::textChanged, this, &CSettingDilag::ShowHints);
    connect(DialogItemAs<QPushButton>(*this, IDC_RECORD_BROWSE), &QPushButton::clicked, this,
            &CSettingDilag::OnBnClickedBrowse);
}

int CSettingDilag::DoModal()
{
    OnInitDialog();
    return exec();
}

bool CSettingDilag::OnInitDialog()
{
    // Enter clicks OK wherever the focus is, as the platform does.
    DialogItemAs<QPushButton>(*this, IDOK)->setDefault(true);
    FillControls();
    return true;
}

void CSettingDilag::OnBnClickedOk()
{
    // An empty address keeps the dialog open, nothing saved, for a correction or Cancel.
    if (!ReadControls()) return;
    if (!SaveToFile()) {
        ShowMessage(this, QString::fromUtf8(kSaveFailedMessage));
        return;
    }
    accept();
}

void CSettingDilag::SetDefaults()
{
    m_settings = PublishSettings{};
}

void CSettingDilag::LoadFromFile()
{
    ReadDialogSettings(kSettingsPath, m_settings);
}

bool CSettingDilag::SaveToFile()
{
    return WriteSettingsFile(kSettingsPath, m_settings);
}

void CSettingDilag::FillControls()
{
    if (ReadProfileBool(kSettingsPath, "Start", "first", true))
        LoadFromFile();
    else
        SetDefaults();
    if (!m_settings.m_strScheduleSvr.empty())
        Edit(IDC_PUBLISH_ADDRESS)->setText(QString::fromStdU16String(AnsiToWide(JoinPublishAddress(m_settings))));
    for (const NumericField& numeric : kNumericFields)
        Edit(numeric.id)->setText(QString::number(m_settings.*numeric.field));
    const QString folder = QString::fromStdU16String(AnsiToWide(RecordFolder(m_settings)));
    m_shownDefaultFolder = m_settings.m_strRecordDir.empty() ? folder : QString();
    Edit(IDC_RECORD_FOLDER)->setText(folder);
    ShowHints();
}

bool CSettingDilag::ReadControls()
{
    const QString address = Edit(IDC_PUBLISH_ADDRESS)->text().left(kTextFieldUnits);
    if (!ParsePublishAddress(WideToAnsi(address.toStdU16String()))) return false;
    ReadNumbers(m_settings);
    // The default left as shown stays the default, and follows the user's videos folder.
    const QString folder = Edit(IDC_RECORD_FOLDER)->text().trimmed();
    if (folder != m_shownDefaultFolder) m_settings.m_strRecordDir = WideToAnsi(folder.toStdU16String());
    return true;
}

void CSettingDilag::ReadNumbers(PublishSettings& settings) const
{
    for (const NumericField& numeric : kNumericFields)
        settings.*numeric.field = Wtoi(Edit(numeric.id)->text().left(kTextFieldUnits).toStdU16String());
}

void CSettingDilag::ShowHints()
{
    const QString address = Edit(IDC_PUBLISH_ADDRESS)->text().left(kTextFieldUnits);
    DialogItemAs<QLabel>(*this, IDC_ADDRESS_HINT)->setText(AddressHint(WideToAnsi(address.toStdU16String())));
    PublishSettings typed;
    ReadNumbers(typed);
    QStringList hints;
    for (const StreamParameter& parameter : StreamParameters()) {
        const QString hint = ParameterHint(parameter, typed);
        Edit(parameter.controlId)->setStyleSheet(hint.isEmpty() ? QString() : QString::fromUtf8(kRefusedFieldStyle));
        if (!hint.isEmpty()) hints << hint;
    }
    DialogItemAs<QLabel>(*this, IDC_PARAMETER_HINT)->setText(hints.join(QString::fromUtf8("；")));
}

void CSettingDilag::OnBnClickedBrowse()
{
    const QString chosen =
        QFileDialog::getExistingDirectory(this, QString::fromUtf8("选择录制位置"), Edit(IDC_RECORD_FOLDER)->text());
    if (!chosen.isEmpty()) Edit(IDC_RECORD_FOLDER)->setText(chosen);
}

bool CSettingDilag::ParsePublishAddress(const std::string& address)
{
    if (address.empty()) {
        ShowMessage(this, QString::fromUtf8(kEmptyAddressMessage));
        return false;
    }
    SplitPublishAddress(address, m_settings);
    return true;
}

QLineEdit* CSettingDilag::Edit(int id) const
{
    return DialogItemAs<QLineEdit>(*this, id);
}
