#include "res/SettingDialogTemplate.h"

namespace {

constexpr ControlTemplate kControls[] = {
    {IDOK, ControlKind::PushButton, "确定", 198, 156, 50, 14},
    {IDCANCEL, ControlKind::PushButton, "取消", 252, 156, 50, 14},
    {1000, ControlKind::Label, "上麦地址", 23, 26, 37, 11},
    {IDC_PUBLISH_ADDRESS, ControlKind::Edit, "", 67, 24, 171, 14},
    {1002, ControlKind::Label, "视频参数", 23, 51, 37, 11},
    {1003, ControlKind::Label, "音频参数", 23, 91, 37, 11},
    {1004, ControlKind::Label, "宽度", 69, 51, 17, 11},
    {1013, ControlKind::Label, "帧率", 114, 51, 17, 11},
    {kNoControlId, ControlKind::Label, "关键帧间隔", 163, 51, 41, 11},
    {1005, ControlKind::Label, "高度", 68, 69, 17, 11},
    {kNoControlId, ControlKind::Label, "码率", 114, 69, 17, 11},
    {kNoControlId, ControlKind::Label, "视频质量", 165, 69, 33, 11},
    {kNoControlId, ControlKind::Label, "B帧", 230, 51, 13, 11},
    {IDC_VIDEO_WIDTH, ControlKind::Edit, "", 87, 50, 24, 12},
    {IDC_VIDEO_FPS, ControlKind::Edit, "", 137, 50, 24, 12},
    {IDC_VIDEO_BITRATE, ControlKind::Edit, "", 137, 68, 24, 12},
    {IDC_VIDEO_INTERVAL, ControlKind::Edit, "", 204, 50, 24, 12},
    {IDC_VIDEO_QUALITY, ControlKind::Edit, "", 204, 68, 24, 12},
    {IDC_VIDEO_BFRAME, ControlKind::Edit, "", 246, 50, 24, 12},
    {1014, ControlKind::Label, "采样率", 67, 91, 24, 11},
    {IDC_VIDEO_HEIGHT, ControlKind::Edit, "", 87, 68, 24, 12},
    {1017, ControlKind::Label, "通道数", 119, 91, 24, 11},
    {1018, ControlKind::Label, "码率", 177, 91, 17, 11},
    {1019, ControlKind::Label, "采样精度", 68, 106, 32, 11},
    {IDC_AUDIO_SAMPLE_RATE, ControlKind::Edit, "", 94, 88, 24, 14},
    {IDC_AUDIO_CHANNELS, ControlKind::Edit, "", 145, 88, 24, 14},
    {IDC_AUDIO_BITRATE, ControlKind::Edit, "", 195, 88, 24, 14},
    {IDC_AUDIO_BIT_PER_SAMPLE, ControlKind::Edit, "", 103, 103, 24, 14},
    {kNoControlId, ControlKind::Label, "例如：rtmp://live.example.com/demo/stream", 67, 12, 173, 9},
    {IDC_ADDRESS_HINT, ControlKind::Label, "", 67, 39, 173, 9},
    {IDC_PARAMETER_HINT, ControlKind::Label, "", 23, 137, 279, 17},
    {kNoControlId, ControlKind::Label, "录制位置", 23, 123, 37, 11},
    {IDC_RECORD_FOLDER, ControlKind::Edit, "", 67, 121, 171, 14},
    {IDC_RECORD_BROWSE, ControlKind::PushButton, "浏览…", 242, 121, 40, 14},
};

}  // namespace

const DialogTemplate kSettingDialogTemplate = {IDD_SETTING_DIALOG, "Dialog", 309, 177, 8, kControls};
