#include "window/MainDialog.h"

#include "engine/EngineLoader.h"
#include "platform/TextConversion.h"
#include "platform/DialogTemplate.h"
#include "platform/MessageBox.h"
#include "res/Resources.h"
#include "window/PreviewPicture.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace {

constexpr char kInitFailed[] = "初始化失败";
constexpr char kGetPlayerList[] = "GetPlayerList";

void AppendEntry(QComboBox* list, const QString& text)
{
    list->insertItem(list->count(), text);
}

}  // namespace

Cpublish_taviskDlg::Cpublish_taviskDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_hIcon(LoadAppIcon()),
      m_handoff(this, [this](PendingEvents pending) { OnEngineEvents(std::move(pending)); })
{
    setWindowIcon(m_hIcon);
    BuildDialog(*this, kMainDialogTemplate);
    // The frame keeps a native window of its own from the start: its handle is what the
    // engine is given, and hands back with each preview picture.
    QWidget* frame = DialogItem(*this, IDC_PREVIEW_FRAME);
    frame->setAttribute(Qt::WA_NativeWindow);
    m_preview = new PreviewPicture(frame);
    CreateStatusControls();
}

Cpublish_taviskDlg::~Cpublish_taviskDlg()
{
    if (m_pPreviewEngine) m_pPreviewEngine->Release();
}

int Cpublish_taviskDlg::DoModal()
{
    OnInitDialog();
    const int result = exec();
    PostNcDestroy();
    return result;
}

void Cpublish_taviskDlg::DoDataExchange()
{
    m_comboPlayer = DialogItemAs<QComboBox>(*this, IDC_PLAYER);
    m_comboVideo = DialogItemAs<QComboBox>(*this, IDC_VIDEO_DEVICE);
    m_comboAudio = DialogItemAs<QComboBox>(*this, IDC_AUDIO_DEVICE);
    m_comboPlayback = DialogItemAs<QComboBox>(*this, IDC_PLAYBACK_DEVICE);
}

bool Cpublish_taviskDlg::OnInitDialog()
{
    DoDataExchange();
    ConnectHandlers();
    InitDeviceChoices();
    InitSystemMenu();
    InitPublisher();
    InitStatus();
    InitRecording();
    return true;
}

void Cpublish_taviskDlg::ConnectHandlers()
{
    connect(Button(IDC_SETTINGS), &QPushButton::clicked, this, &Cpublish_taviskDlg::OnBnClickedSettings);
    connect(Button(IDC_ON_AIR), &QPushButton::clicked, this, &Cpublish_taviskDlg::OnBnClickedOnAir);
    connect(Button(IDC_OFF_AIR), &QPushButton::clicked, this, &Cpublish_taviskDlg::OnBnClickedOffAir);
    connect(Button(IDC_BACKGROUND_AUDIO), &QPushButton::clicked, this, &Cpublish_taviskDlg::OnBnClickedBackgroundAudio);
    ShowNameBeginnings();
}

// A name longer than its field shows its beginning, where the edit would scroll to its end.
void Cpublish_taviskDlg::ShowNameBeginnings()
{
    for (QComboBox* list : {m_comboVideo, m_comboPlayer, m_comboAudio})
        connect(list, &QComboBox::currentIndexChanged, list, [list] { list->lineEdit()->setCursorPosition(0); });
}

void Cpublish_taviskDlg::InitPublisher()
{
    SetButtonPattern(false);
    m_pPublishEngine = engine_link::CreateCastorn(this);
    if (!m_pPublishEngine) {
        ShowMessage(this, QString::fromUtf8(kInitFailed));
        return;
    }
    FillDeviceList(m_comboVideo, &ICastorn::GetVideoDevices);
    FillDeviceList(m_comboAudio, &ICastorn::GetAudioDevices);
    m_pPreviewEngine = engine_link::CreateVistrel(this);
    if (!FillPlayerList()) return;
    SelectChoices();
}

void Cpublish_taviskDlg::FillDeviceList(QComboBox* list, DeviceGetter getDevices)
{
    const char16_t** names = nullptr;
    unsigned count = 0;
    (m_pPublishEngine->*getDevices)(&names, &count);
    if (!names) return;
    // A null name keeps its place, so that entry i stays device i.
    for (unsigned i = 0; i < count; ++i) AppendEntry(list, names[i] ? QString::fromUtf16(names[i]) : QString());
    list->setCurrentIndex(-1);
}

bool Cpublish_taviskDlg::FillPlayerList()
{
    ReplyBuffer reply;
    if (!SendCommand(kGetPlayerList, {}, reply)) return false;
    std::vector<std::string> players;
    ReadPlayerListReply(reply.Text(), players);
    m_comboPlayer->clear();
    for (const std::string& player : players) {
        const std::u16string name = AnsiToWide(player);
        AppendEntry(m_comboPlayer, QString::fromStdU16String(name));
    }
    m_comboPlayer->setCurrentIndex(-1);
    return true;
}

void Cpublish_taviskDlg::PostNcDestroy()
{
    if (!m_pPublishEngine) return;
    m_pPublishEngine->Release();
    m_pPublishEngine = nullptr;
}

bool Cpublish_taviskDlg::SendCommand(const char* name, const std::vector<CommandArgument>& arguments,
                                     ReplyBuffer& reply)
{
    const std::string text = BuildEngineCommand(m_cmdRoot, m_cmdParams, name, arguments);
    return m_pPublishEngine->ExecuteCommand(text.c_str(), reply.Address());
}

QPushButton* Cpublish_taviskDlg::Button(int id) const
{
    return DialogItemAs<QPushButton>(*this, id);
}

WindowHandle Cpublish_taviskDlg::FrameHandle() const
{
    return static_cast<WindowHandle>(DialogItem(*this, IDC_PREVIEW_FRAME)->winId());
}
