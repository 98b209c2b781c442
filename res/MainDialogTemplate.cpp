#include "res/Resources.h"

namespace {

constexpr ControlTemplate kControls[] = {
    {1022, ControlKind::DefPushButton, "上麦", 202, 21, 50, 39},
    {1023, ControlKind::PushButton, "下麦", 202, 82, 50, 42},
    {1016, ControlKind::BlackFrame, "", 8, 8, 160, 126},
    {3, ControlKind::DefPushButton, "详细设置", 204, 62, 50, 14},
    {1017, ControlKind::ComboBox, "", 18, 154, 80, 30},
    {1018, ControlKind::ComboBox, "", 14, 178, 94, 30},
    {-1, ControlKind::Label, "视频设备", 19, 142, 28, 8},
    {-1, ControlKind::Label, "win7背景捕获（xp第三方播放器）", 18, 166, 106, 8},
    {1019, ControlKind::PushButton, "启动", 112, 177, 44, 13},
    {1020, ControlKind::ComboBox, "", 112, 154, 80, 30},
    {-1, ControlKind::Label, "音频设备", 113, 142, 28, 8},
    {1021, ControlKind::ComboBox, "", 201, 154, 43, 30, kStyleHidden | kStyleDisabled},
    {-1, ControlKind::Label, "音频播放设备", 205, 142, 31, 8, kStyleHidden | kStyleDisabled},
};

}  // namespace

const DialogTemplate kMainDialogTemplate = {IDD_PUBLISH_TAVISK_DIALOG, "publish_tavisk", 261, 201, 9, kControls};
