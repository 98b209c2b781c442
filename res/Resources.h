// Resource ids and the program's templates, strings and icon.
#pragma once

#include "platform/DialogTemplate.h"

#include <QIcon>

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_PUBLISH_TAVISK_DIALOG = 102;
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;

extern const DialogTemplate kMainDialogTemplate;   // 102
extern const DialogTemplate kAboutDialogTemplate;  // 100

// The string table's text for an id, empty when there is none.
QString LoadResourceString(int id);

// The program's icon in all its sizes.
QIcon LoadAppIcon();
