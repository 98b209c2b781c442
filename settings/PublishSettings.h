// The stream parameters, one field per key of set.ini, named as the key.
#pragma once

#include <cstdint>
#include <string>

struct PublishSettings {
    std::string m_strScheduleSvr;
    std::string m_strPublishRoomInfo = "app";
    std::string m_strPublishStageInfo = "stream";
    std::string m_strUserID = "10000";
    std::string m_strKey = "qex";
    std::int32_t m_iVdFps = 10;
    std::int32_t m_iVdBitRate = 160;
    std::int32_t m_iVdWidth = 320;
    std::int32_t m_iVdHeight = 240;
    std::int32_t m_iVdQuality = 80;
    std::int32_t m_iVdInterval = 30;
    std::int32_t m_iBFrame = 0;
    std::int32_t m_iQuality = 0;
    std::int32_t m_iAdSampleRate = 44100;
    std::int32_t m_iAdBitRate = 32;
    std::int32_t m_iAdChannels = 2;
    std::int32_t m_iAdBitPerSample = 16;
    std::int32_t m_iAdVolum = 80;
    bool m_bAdMute = false;
    bool m_bShowSpectrum = true;
    bool m_bRecord = false;
    std::string m_strRecordDir;  // empty: the user's videos folder (DefaultRecordFolder)
    bool m_bAdaptiveBitrate = true;

    bool operator==(const PublishSettings&) const = default;
};
