#include "res/Resources.h"

namespace {

constexpr ControlTemplate kControls[] = {
    {IDC_ON_AIR, ControlKind::DefPushButton, "上麦", 202, 21, 50, 39},
    {IDC_OFF_AIR, ControlKind::PushButton, "下麦", 202, 82, 50, 42},
    {IDC_PREVIEW_FRAME, ControlKind::BlackFrame, "", 8, 8, 160, 126},
    {IDC_SETTINGS, ControlKind::DefPushButton, "详细设置", 204, 62, 50, 14},
    {IDC_VIDEO_DEVICE, ControlKind::ComboBox, "", 18, 154, 80, 30},
    {IDC_PLAYER, ControlKind::ComboBox, "", 14, 178, 94, 30},
    {kNoControlId, ControlKind::Label, "视频设备", 19, 142, 28, 8},
    {kNoControlId, ControlKind::Label, "win7背景捕获（xp第三方播放器）", 18, 166, 106, 8},
    {IDC_BACKGROUND_AUDIO, ControlKind::PushButton, "启动", 112, 177, 44, 13},
    {IDC_AUDIO_DEVICE, ControlKind::ComboBox, "", 112, 154, 80, 30},
    {kNoControlId, ControlKind::Label, "音频设备", 113, 142, 28, 8},
    {IDC_PLAYBACK_DEVICE, ControlKind::ComboBox, "", 201, 154, 43, 30, kStyleHidden | kStyleDisabled},
    {kNoControlId, ControlKind::Label, "音频播放设备", 205, 142, 31, 8, kStyleHidden | kStyleDisabled},
    {IDC_RECORD, ControlKind::CheckBox, "同时录制", 202, 127, 54, 10},
};

}  // namespace

const DialogTemplate kMainDialogTemplate = {IDD_PUBLISH_TAVISK_DIALOG, "publish_tavisk", 261, 201, 9, kControls};
