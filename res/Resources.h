// Resource ids and the program's templates, strings and icon.
#pragma once

#include "platform/DialogTemplate.h"

#include <QIcon>

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_PUBLISH_TAVISK_DIALOG = 102;
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;

// Control ids of the main dialog.
inline constexpr int IDC_SETTINGS = 3;
inline constexpr int IDC_PREVIEW_FRAME = 1016;
inline constexpr int IDC_VIDEO_DEVICE = 1017;
inline constexpr int IDC_PLAYER = 1018;
inline constexpr int IDC_BACKGROUND_AUDIO = 1019;
inline constexpr int IDC_AUDIO_DEVICE = 1020;
inline constexpr int IDC_PLAYBACK_DEVICE = 1021;
inline constexpr int IDC_ON_AIR = 1022;
inline constexpr int IDC_OFF_AIR = 1023;
// Not in the template: the window adds them below the video frame.
inline constexpr int IDC_STATUS = 1024;
inline constexpr int IDC_LEVEL_METER = 1025;
// In the template's free space under "下麦".
inline constexpr int IDC_RECORD = 1026;

extern const DialogTemplate kMainDialogTemplate;   // 102
extern const DialogTemplate kAboutDialogTemplate;  // 100

// The string table's text for an id, empty when there is none.
QString LoadResourceString(int id);

// The program's icon in all its sizes.
QIcon LoadAppIcon();
