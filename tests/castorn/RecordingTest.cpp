// The copy on disk of what is streamed, on air against nginx: the very packets the
// server got, across a server that goes away, a full disk, and switched on air.
#include "OnAirFixture.h"

#include "support/TempDir.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace castorn_test;
using namespace std::chrono_literals;

namespace {

std::string RecordCommand(bool on, const std::string& folder)
{
    return R"({"cmd":"SetRecord","params":{"record":)" + std::string(on ? "true" : "false") + R"(,"folder":")" +
           folder + "\"}}";
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".mp4") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

std::uint64_t FreeBytes(const std::string& folder)
{
    struct statvfs stats {};
    statvfs(folder.c_str(), &stats);
    return std::uint64_t{stats.f_bavail} * stats.f_frsize;
}

// A 2 MB tmpfs of the test's own, nearly filled, unmounted when the test ends.
class SmallDisk {
public:
    SmallDisk()
    {
        m_mounted = mount("tmpfs", m_dir.Path().c_str(), "tmpfs", 0, "size=2m") == 0;
        if (!m_mounted) return;
        std::ofstream filler(m_dir / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (FreeBytes(m_dir.Path()) > kLeftFree) filler.write(block.data(), block.size()).flush();
    }
    ~SmallDisk()
    {
        if (m_mounted) umount2(m_dir.Path().c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool Mounted() const { return m_mounted; }
    const std::string& Path() const { return m_dir.Path(); }

    // Room for the file's head and a few whole fragments, a key frame's among them.
    static constexpr std::uint64_t kLeftFree = 128 * 1024;

private:
    TempDir m_dir;
    bool m_mounted = false;
};

// The stream went on: neither track of the server's recording has a gap.
void ExpectNoGapAtTheServer(const std::vector<std::string>& recordings)
{
    ASSERT_EQ(recordings.size(), 1u);
    for (const char* track : {"v", "a"}) EXPECT_LT(ReadTrack(recordings[0], track).longestGap, kLongestGap) << track;
}

class Recording : public Publishing {
protected:
    void Record(bool on, const std::string& folder) { ASSERT_TRUE(Command(RecordCommand(on, folder))); }
    // The recording at `path` ended and was made an ordinary MP4.
    void ExpectFinalized(const std::string& path, int skip = 0)
    {
        const Json::Value finalized = m_log.WaitFor("OnRecordingFinalized", 10s, skip);
        ASSERT_FALSE(finalized.isNull());
        EXPECT_EQ(finalized["path"].asString(), path);
        EXPECT_TRUE(finalized["ordinary"].asBool()) << finalized["message"].asString();
        ExpectOrdinaryMp4(path);
    }
    // The path of the next recording begun, or empty.
    std::string Began(int skip = 0)
    {
        const Json::Value started = m_log.WaitFor("OnRecordingStarted", 5s, skip);
        return started.isNull() ? std::string() : started["path"].asString();
    }

    TempDir m_folder;
};

}  // namespace

TEST_F(Recording, TenSecondsOnAirLeaveAFileOfTheVeryPacketsTheServerGot)
{
    const OnAir on{.video = ScreenIndex(), .audio = MicrophoneIndex(), .width = 480, .height = 360, .fps = 25};
    Record(true, m_folder.Path());
    GoLive(on);
    const std::string path = Began();
    GoOffAir(10s);
    ASSERT_FALSE(m_log.WaitFor("OnRecordingStopped", 5s).isNull());
    ExpectFinalized(path);
    EXPECT_EQ(m_log.Count("OnRecordingFailed"), 0);
    ASSERT_EQ(FilesIn(m_folder.Path()), std::vector<std::string>{path}) << "nothing left beside it";
    EXPECT_NE(path.find("/publish_tavisk 20"), std::string::npos) << path;

    const MediaInfo media = Probe(path);
    ExpectAsAsked(media, on);
    EXPECT_NEAR(media.duration, m_onAirSeconds, 0.5);
    for (const char* track : {"v", "a"}) EXPECT_LT(ReadTrack(path, track).longestGap, kLongestGap) << track;

    // The server's recording starts once it took the stream: the file's packets, from
    // there, are the very ones it got.
    ExpectSameVideoPackets(path, m_server->Recordings().at(0));
}

TEST_F(Recording, AServerGoneForFiveSecondsLeavesNoGapInTheFile)
{
    // Black rather than the screen: its pictures come on time on any machine, so a gap
    // in the file could only be the recording's.
    const OnAir on{.audio = MicrophoneIndex(), .fps = 25};
    Record(true, m_folder.Path());
    GoLive(on);
    const std::string path = Began();
    std::this_thread::sleep_for(3s);
    m_server->Stop();
    ASSERT_FALSE(m_log.WaitFor("OnDisconnected", 5s).isNull());
    std::this_thread::sleep_for(5s);
    m_server->Start();
    ASSERT_FALSE(m_log.WaitFor("OnConnected", 15s, 1).isNull());
    GoOffAir(2s);
    ASSERT_FALSE(m_log.WaitFor("OnRecordingStopped", 5s).isNull());
    ExpectFinalized(path);

    EXPECT_NEAR(Probe(path).duration, m_onAirSeconds, 0.5);
    for (const char* track : {"v", "a"}) {
        const Track packets = ReadTrack(path, track);
        EXPECT_LE(packets.longestGap, 0.1 + 1e-3) << track;
        EXPECT_GT(packets.last - packets.first, m_onAirSeconds - 1) << track;
    }
}

TEST_F(Recording, SwitchedOnAirItEndsOneFileAndBeginsAnotherAndTheStreamGoesOn)
{
    Record(true, m_folder.Path());
    GoLive({.video = ScreenIndex(), .audio = MicrophoneIndex()});
    const std::string first = Began();
    std::this_thread::sleep_for(3s);
    Record(false, m_folder.Path());
    ASSERT_EQ(m_log.WaitFor("OnRecordingStopped", 5s)["path"].asString(), first);
    std::this_thread::sleep_for(1s);
    Record(true, m_folder.Path());
    const std::string second = Began(1);
    ASSERT_FALSE(second.empty());
    EXPECT_NE(second, first) << "never the same file again";
    GoOffAir(3s);
    ASSERT_EQ(m_log.WaitFor("OnRecordingStopped", 5s, 1)["path"].asString(), second);
    ExpectFinalized(first);
    ExpectFinalized(second, 1);

    EXPECT_EQ(FilesIn(m_folder.Path()), (std::vector<std::string>{first, second}));
    EXPECT_NEAR(Probe(first).duration, 3, 0.6);
    EXPECT_NEAR(Probe(second).duration, 3, 0.6);
    EXPECT_EQ(m_log.Count("OnDisconnected"), 1) << "only going off air ended the connection";
    ExpectNoGapAtTheServer(m_server->Recordings());
}

TEST_F(Recording, AFolderThatCannotBeWrittenIsToldAndTheStreamGoesOn)
{
    Record(true, m_folder / "missing/folder");
    GoLive({.audio = MicrophoneIndex()});
    const Json::Value failed = m_log.WaitFor("OnRecordingFailed", 5s);
    ASSERT_FALSE(failed.isNull());
    EXPECT_EQ(failed["reason"].asString(), "cannotWrite");
    EXPECT_NE(failed["path"].asString().find("missing/folder"), std::string::npos);
    EXPECT_EQ(m_log.Count("OnRecordingStarted"), 0);
    GoOffAir(3s);
    EXPECT_EQ(m_log.Count("OnDisconnected"), 1);
    ExpectNoGapAtTheServer(m_server->Recordings());
}

TEST_F(Recording, AFullDiskIsToldAtOnceWhatWasWrittenStaysReadableAndTheStreamGoesOn)
{
    const SmallDisk disk;
    if (!disk.Mounted()) GTEST_SKIP() << "mounting a tmpfs needs root";
    Record(true, disk.Path());
    GoLive({.video = ScreenIndex(), .audio = MicrophoneIndex(), .fps = 25});
    const std::string path = Began();
    ASSERT_FALSE(path.empty());
    // When the disk is full, as often as a streaming thread could notice it.
    std::optional<std::chrono::steady_clock::time_point> fullAt;
    ASSERT_TRUE(WaitUntil(
        [&] {
            if (!fullAt && FreeBytes(disk.Path()) < 4096) fullAt = std::chrono::steady_clock::now();
            return m_log.Count("OnRecordingFailed") > 0;
        },
        60s));
    const auto toldAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(fullAt);
    EXPECT_LT(toldAt - *fullAt, 2s);
    const Json::Value failed = m_log.WaitFor("OnRecordingFailed", 0ms);
    EXPECT_EQ(failed["reason"].asString(), "diskFull");
    EXPECT_EQ(failed["path"].asString(), path);

    GoOffAir(3s);
    EXPECT_EQ(m_log.Count("OnDisconnected"), 1) << "the stream went on";
    ExpectNoGapAtTheServer(m_server->Recordings());
    EXPECT_EQ(m_log.Count("OnRecordingFinalized"), 0) << "a failed recording stays in its fragments";
    EXPECT_GT(ReadTrack(path, "v").packets, 0u) << "what was written reads";
    EXPECT_GT(ReadTrack(path, "a").packets, 0u);
}
