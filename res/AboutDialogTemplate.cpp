#include "res/Resources.h"

namespace {

constexpr ControlTemplate kControls[] = {
    {kNoControlId, ControlKind::IconLabel, "", 14, 14, 21, 20},
    {kNoControlId, ControlKind::Label, "publish_tavisk，1.0 版", 42, 14, 114, 8},
    {IDOK, ControlKind::DefPushButton, "确定", 113, 41, 50, 14},
};

}  // namespace

const DialogTemplate kAboutDialogTemplate = {IDD_ABOUTBOX, "关于 publish_tavisk", 170, 62, 9, kControls};
