// Template 129: the settings dialog.
#pragma once

#include "platform/DialogTemplate.h"

inline constexpr int IDD_SETTING_DIALOG = 129;

// Control ids of the settings dialog.
inline constexpr int IDC_PUBLISH_ADDRESS = 1001;
inline constexpr int IDC_VIDEO_WIDTH = 1006;
inline constexpr int IDC_VIDEO_HEIGHT = 1007;
inline constexpr int IDC_VIDEO_FPS = 1008;
inline constexpr int IDC_VIDEO_BITRATE = 1009;
inline constexpr int IDC_VIDEO_INTERVAL = 1010;
inline constexpr int IDC_VIDEO_QUALITY = 1011;
inline constexpr int IDC_VIDEO_BFRAME = 1012;
inline constexpr int IDC_AUDIO_SAMPLE_RATE = 1015;
inline constexpr int IDC_AUDIO_CHANNELS = 1020;
inline constexpr int IDC_AUDIO_BITRATE = 1021;
inline constexpr int IDC_AUDIO_BIT_PER_SAMPLE = 1022;
// Added in the dialog's free space: what the engine would refuse, under the address
// and under the numbers.
inline constexpr int IDC_ADDRESS_HINT = 1026;
inline constexpr int IDC_PARAMETER_HINT = 1027;
// The recordings' folder, under the audio parameters.
inline constexpr int IDC_RECORD_FOLDER = 1028;
inline constexpr int IDC_RECORD_BROWSE = 1029;

extern const DialogTemplate kSettingDialogTemplate;
