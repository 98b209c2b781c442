// A fresh working directory for set.ini, and the message boxes shown meanwhile.
#pragma once

#include "platform/MessageBox.h"

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

// What a save of the built-in defaults with the address rtmp://127.0.0.1/live/s writes
// into a folder without set.ini.
inline constexpr char kFromScratch[] =
    "[Start]\nfirst=True\n"
    "[svr]\nm_strScheduleSvr=rtmp://127.0.0.1\nm_strPublishRoomInfo=live\n"
    "m_strPublishStageInfo=s\nm_strUserID=10000\nm_strKey=qex\n"
    "[video]\nm_iVdFps=10\nm_iVdBitRate=160\nm_iVdWidth=320\nm_iVdHeight=240\n"
    "m_iVdQuality=80\nm_iVdInterval=30\nm_iBFrame=0\nm_iQuality=0\n"
    "[audio]\nm_iAdSampleRate=44100\nm_iAdBitRate=32\nm_iAdChannels=2\n"
    "m_iAdBitPerSample=16\nm_iAdVolum=80\nm_bAdMute=False\nm_bShowSpectrum=True\n";

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
        Messages().clear();
        SetMessageBoxHook([](QWidget*, const QString& text) { Messages().push_back(text); });
    }

    void TearDown() override
    {
        SetMessageBoxHook(nullptr);
        QDir::setCurrent(m_previous);
    }

    static QStringList& Messages()
    {
        static QStringList messages;
        return messages;
    }

    static void WriteFile(const std::string& text, const char* name = "set.ini")
    {
        std::ofstream(name, std::ios::binary) << text;
    }

    static std::string ReadFile(const char* name = "set.ini")
    {
        std::ostringstream text;
        text << std::ifstream(name, std::ios::binary).rdbuf();
        return text.str();
    }

private:
    QString m_previous = QDir::currentPath();
    QTemporaryDir m_dir;
};
