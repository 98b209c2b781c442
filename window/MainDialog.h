// The program's only top-level window: devices, players, going on and off air.
#pragma once

#include "engine/EngineCommand.h"
#include "engine/ReplyBuffer.h"
#include "interface/EngineInterface.h"
#include "settings/PublishSettings.h"
#include "window/NotificationHandoff.h"
#include "window/StreamStatus.h"

#include <QDialog>
#include <QIcon>
#include <json/value.h>

class LevelMeter;
class PreviewPicture;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;

class Cpublish_taviskDlg : public QDialog, public ICastornNotify, public IVistrelNotify {
public:
    explicit Cpublish_taviskDlg(QWidget* parent = nullptr);
    ~Cpublish_taviskDlg() override;

    // Runs the window modally: initialisation, the modal loop, then the teardown.
    int DoModal();

    // ICastornNotify; called on engine threads: they only hand events to the window's thread.
    bool OnEngineMessage(const char* message) override;
    bool OnSecondCallback(std::int32_t, std::int32_t) override;
    bool OnThirdCallback(std::int32_t) override;
    bool OnFourthCallback(std::int32_t) override;

    // IVistrelNotify
    bool OnPreviewCallback(std::int32_t, std::int32_t, std::int32_t) override;

    void OnSysCommand(unsigned nID, std::intptr_t lParam);
    QIcon OnQueryDragIcon() const;
    QMenu* SystemMenu() const { return m_pSysMenu; }

protected:
    void DoDataExchange();
    bool OnInitDialog();
    void PostNcDestroy();
    void InitPublisher();
    bool LoadSettings();

    void OnBnClickedSettings();
    void OnBnClickedOnAir();
    void OnBnClickedOffAir();
    void OnBnClickedBackgroundAudio();
    void OnBnClickedRecord();

    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Escape, the close box and the window manager all come here.
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void InitSystemMenu();
    void ConnectHandlers();
    using DeviceGetter = bool (ICastorn::*)(const char16_t***, unsigned*);
    void FillDeviceList(QComboBox* list, DeviceGetter getDevices);
    bool FillPlayerList();  // false when the engine did not answer

    // The devices and player chosen last time, and the player list asked again when opened.
    void InitDeviceChoices();
    void SelectChoices();
    void RememberChoices();
    void RefreshPlayerList();
    void PickTypedPlayer();
    void SetButtonPattern(bool onAir);
    bool SendCommand(const char* name, const std::vector<CommandArgument>& arguments, ReplyBuffer& reply);
    QPushButton* Button(int id) const;
    WindowHandle FrameHandle() const;
    void ShowNameBeginnings();

    // The status (IDC_STATUS) and the level meter (IDC_LEVEL_METER).
    void CreateStatusControls();
    void InitStatus();
    void StatusOnAir();
    void StatusOffAir();
    void OnEngineEvents(PendingEvents pending);
    void ShowStatus();
    void ClearVideoFrame();
    void SendPreviewReceiver();

    // The check box "同时录制" (IDC_RECORD).
    void InitRecording();
    void SendRecordCommand();

    ICastorn* m_pPublishEngine = nullptr;
    Json::Value m_cmdRoot;
    Json::Value m_cmdParams;
    PublishSettings m_settings;
    bool m_bBackgroundAudioOn = false;
    IVistrel* m_pPreviewEngine = nullptr;
    QIcon m_hIcon;
    QComboBox* m_comboPlayer = nullptr;
    QComboBox* m_comboVideo = nullptr;
    QComboBox* m_comboAudio = nullptr;
    QComboBox* m_comboPlayback = nullptr;
    QMenu* m_pSysMenu = nullptr;
    QLabel* m_statusText = nullptr;
    LevelMeter* m_levelMeter = nullptr;
    PreviewPicture* m_preview = nullptr;
    QTimer* m_statusTick = nullptr;
    StreamStatus m_status;
    NotificationHandoff m_handoff;
};
