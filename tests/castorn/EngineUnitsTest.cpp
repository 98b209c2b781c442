// The engine's pure parts: the publish address, fitting the stream numbers, FLV
// tags and what a connection sends of them, the level meter and the reconnect delays.
#include "castorn/AudioLevel.h"
#include "castorn/FlvTag.h"
#include "castorn/PreviewOutlet.h"
#include "castorn/PublishAddress.h"
#include "castorn/ReconnectBackoff.h"
#include "castorn/StreamSettings.h"
#include "castorn/TagAdmission.h"
#include "interface/EngineInterface.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <vector>

using namespace castorn;

namespace {

std::optional<PublishAddress> Parse(const std::string& server, const std::string& app = "live?qex",
                                    const std::string& stream = "s")
{
    Failure why;
    auto address = ParsePublishAddress(server, app, stream, why);
    if (!address) {
        EXPECT_FALSE(why.message.empty()) << "a refusal says why";
    }
    return address;
}

Failure AddressRefusal(const std::string& server, const std::string& app, const std::string& stream)
{
    Failure why;
    EXPECT_FALSE(ParsePublishAddress(server, app, stream, why)) << server << " " << app << " " << stream;
    return why;
}

std::string Refusal(const std::string& server, const std::string& app = "live?qex", const std::string& stream = "s")
{
    const Failure why = AddressRefusal(server, app, stream);
    EXPECT_EQ(why.reason, castorn_notification::kReasonAddress) << server;
    return why.message;
}

}  // namespace

TEST(PublishAddress, TheProgramsFormsGiveHostPortApplicationAndStream)
{
    const auto plain = Parse("rtmp://127.0.0.1");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->host, "127.0.0.1");
    EXPECT_EQ(plain->port, 1935);
    EXPECT_FALSE(plain->secure);
    EXPECT_EQ(plain->application, "live") << "servers refuse a query in the application";
    EXPECT_EQ(plain->key, "qex");
    EXPECT_EQ(plain->stream, "s");
    EXPECT_EQ(plain->PublishName(), "s?qex") << "where servers read the key";

    const auto withPort = Parse("rtmp://host.example:1936");
    ASSERT_TRUE(withPort);
    EXPECT_EQ(withPort->host, "host.example");
    EXPECT_EQ(withPort->port, 1936);

    // As the settings split an address typed without a scheme.
    const auto bare = Parse("host:1935");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->host, "host");
    EXPECT_EQ(bare->port, 1935);
    const auto slashes = Parse("//host:1935");
    ASSERT_TRUE(slashes);
    EXPECT_EQ(slashes->host, "host");

    const auto secure = Parse(" RTMPS://[::1]:443/ ");
    ASSERT_TRUE(secure);
    EXPECT_TRUE(secure->secure);
    EXPECT_EQ(secure->host, "::1");
    EXPECT_EQ(secure->port, 443);
    EXPECT_EQ(Parse("rtmps://ingest.example")->port, 443) << "RTMPS ingests' port when none is typed";
    EXPECT_EQ(Parse("rtmps://ingest.example:1936")->port, 1936);
}

TEST(PublishAddress, AnEmptyKeyLeavesNoQuestionMarkAndTheKeyStaysOutOfTheDescription)
{
    const auto keyless = Parse("rtmp://h", "live?");
    ASSERT_TRUE(keyless);
    EXPECT_EQ(keyless->application, "live");
    EXPECT_EQ(keyless->key, "");
    EXPECT_EQ(keyless->PublishName(), "s");
    EXPECT_EQ(Parse("rtmp://h", "live?sign=1-ab", "s?x=1")->PublishName(), "s?x=1&sign=1-ab")
        << "a stream name with a query of its own gets the key as one more argument";

    const auto keyed = Parse("rtmp://h:1940", "live?secret-key");
    ASSERT_TRUE(keyed);
    EXPECT_EQ(keyed->Describe(), "rtmp://h:1940/live/s");
    EXPECT_EQ(Parse("rtmps://[::1]")->Describe(), "rtmps://[::1]:443/live/s");
}

TEST(PublishAddress, UnusableAddressesAreRefusedWithTheReason)
{
    const std::pair<const char*, std::vector<const char*>> refusals[] = {
        {"no host", {"", "rtmp://", "rtmp://:1935"}},
        {"unknown scheme", {"http://host", "srt://host:9000"}},
        {"bad port", {"rtmp://host:0", "rtmp://host:65536", "rtmp://host:12ab", "rtmp://host:"}},
        {"path", {"rtmp://host/app"}},
        {"bad host", {"rtmp://ho st", "rtmp://user@host"}},
        {"IPv6", {"rtmp://[::1"}},
    };
    for (const auto& [reason, servers] : refusals)
        for (const char* server : servers) EXPECT_NE(Refusal(server).find(reason), std::string::npos) << server;
    // "rtmp:/HOST/app/stream" splits into the server "rtmp:".
    EXPECT_FALSE(Refusal("rtmp:").empty());
    EXPECT_NE(Refusal("rtmp://host", "?key").find("no application"), std::string::npos);
    EXPECT_EQ(AddressRefusal("rtmp://host", "live?k", " ").reason, castorn_notification::kReasonNoStream);
}

// What the settings make of addresses typed without a stream name: the rest after the
// scheme lands in the stream name, which must never be published to.
TEST(PublishAddress, TheSplitsOfAnAddressWithoutAStreamNameAreRefusedAsSuch)
{
    const std::vector<std::array<const char*, 3>> splits = {
        {"rtmp://127.0.0.1", "live?qex", "127.0.0.1/live"},  // rtmp://127.0.0.1/live
        {"rtmp://h:1936", "live?", "h:1936/live"},           // rtmp://h:1936/live
        {"rtmp://h", "h?k", "h"},                            // rtmp://h
        {"rtmp://h", "?k", "h/"},                            // rtmp://h/
        {"rtmp://h", "live?k", ""},                          // rtmp://h/live/
        {"host:1935", "app?k", "ost/app"},                   // host/app
        {"host:1935", "app?k", "ost:1935/app"},              // host:1935/app
    };
    for (const auto& [server, app, stream] : splits)
        EXPECT_EQ(AddressRefusal(server, app, stream).reason, castorn_notification::kReasonNoStream)
            << server << " " << app << " " << stream;
    // rtmp:/127.0.0.1/live/x: one slash short of a scheme.
    EXPECT_EQ(AddressRefusal("rtmp:", "127.0.0.1?k", "live/x").reason, castorn_notification::kReasonAddress);
    EXPECT_EQ(AddressRefusal("ftp://h", "live?k", "s").reason, castorn_notification::kReasonAddress);
    // A stream name of its own with a slash in it is taken.
    EXPECT_TRUE(Parse("rtmp://h", "app?k", "a/b"));
    EXPECT_TRUE(Parse("rtmp://h", "live?k", "h/other"));
}

TEST(StreamSettings, ValuesThatCannotMakeAWorkingStreamAreRefusedNamingTheFirst)
{
    namespace p = castorn_parameter;
    EXPECT_FALSE(Refusal(VideoSettings{}, AudioSettings{})) << "the built-in defaults stream";
    EXPECT_FALSE(Refusal(VideoSettings{4096, 2304, 120, 100'000'000, 1000, 0}, AudioSettings{96000, 1, 16, 320000}));
    EXPECT_FALSE(Refusal(VideoSettings{16, 16, 1, 1000, 1, 0}, AudioSettings{8000, 2, 16, 8000}));

    struct Case {
        VideoSettings video;
        AudioSettings audio;
        const char* field;
        int value;
    };
    const Case cases[] = {
        {{0, 0, 10, 160000, 30, 0}, {}, p::kWidth, 0},
        {{320, 0, 10, 160000, 30, 0}, {}, p::kHeight, 0},
        {{320, 240, -5, 160000, 30, 0}, {}, p::kFps, -5},
        {{320, 240, 121, 160000, 30, 0}, {}, p::kFps, 121},
        {{320, 240, 10, 0, 30, 0}, {}, p::kVideoBitrate, 0},
        {{320, 240, 10, INT_MAX, 30, 0}, {}, p::kVideoBitrate, INT_MAX},
        {{320, 240, 10, 160000, 0, 0}, {}, p::kKeyInterval, 0},
        {{4097, 240, 10, 160000, 30, 0}, {}, p::kWidth, 4097},
        {{}, {0, 0, 16, 32000}, p::kSampleRate, 0},
        {{}, {44000, 2, 16, 32000}, p::kSampleRate, 44000},
        {{}, {44100, 0, 16, 32000}, p::kChannels, 0},
        {{}, {44100, 6, 16, 32000}, p::kChannels, 6},
        {{}, {44100, 2, 16, -32000}, p::kAudioBitrate, -32000},
        {{}, {44100, 2, 16, 321000}, p::kAudioBitrate, 321000},
    };
    for (const Case& c : cases) {
        const auto refusal = Refusal(c.video, c.audio);
        ASSERT_TRUE(refusal) << c.field << " " << c.value;
        EXPECT_EQ(refusal->reason, castorn_notification::kReasonParameter);
        EXPECT_EQ(refusal->field, c.field);
        EXPECT_EQ(refusal->value, c.value);
        EXPECT_NE(refusal->message.find(std::to_string(c.value)), std::string::npos) << refusal->message;
    }
}

TEST(StreamSettings, TakenNumbersBecomeOnesTheEncodersUse)
{
    const VideoSettings video = Fit(VideoSettings{321, 241, 25, 800000, 50, 0});
    EXPECT_EQ(video.width, 320);
    EXPECT_EQ(video.height, 240);
    EXPECT_EQ(video.fps, 25);
    EXPECT_EQ(video.keyInterval, 50);

    const AudioSettings audio = Fit(AudioSettings{44100, 2, 12, 32000, 150, true});
    EXPECT_EQ(audio.bitsPerSample, 16);
    EXPECT_EQ(audio.bitrate, 32000);
    EXPECT_EQ(audio.volume, 100);
    EXPECT_TRUE(audio.mute);
    EXPECT_EQ(Fit(AudioSettings{96000, 2, 16, 8000, 80, false}).bitrate, 16000) << "the least the encoder takes";
    EXPECT_EQ(Fit(AudioSettings{44100, 1, 24, 32000, -1, false}).volume, 0);
}

TEST(StreamSettings, QualityMapsOntoRateFactorsFromWorstToBest)
{
    EXPECT_EQ(RateFactorForQuality(1), 40);
    EXPECT_EQ(RateFactorForQuality(100), 16);
    EXPECT_GT(RateFactorForQuality(50), RateFactorForQuality(80));
    EXPECT_EQ(RateFactorForQuality(INT_MAX), 16);
}

TEST(FlvTag, TellsHeadersAudioKeyAndDeltaFrames)
{
    const std::uint8_t header[] = {'F', 'L', 'V', 1, 5, 0, 0, 0, 9};
    EXPECT_EQ(ClassifyFlvTag(header, sizeof header), FlvTagKind::Header);
    std::uint8_t tag[16] = {};
    tag[0] = 8;
    EXPECT_EQ(ClassifyFlvTag(tag, sizeof tag), FlvTagKind::Audio);
    tag[0] = 18;
    EXPECT_EQ(ClassifyFlvTag(tag, sizeof tag), FlvTagKind::Script);
    tag[0] = 9;
    tag[11] = 0x17;  // key frame, AVC
    EXPECT_EQ(ClassifyFlvTag(tag, sizeof tag), FlvTagKind::VideoKey);
    tag[11] = 0x27;  // inter frame, AVC
    EXPECT_EQ(ClassifyFlvTag(tag, sizeof tag), FlvTagKind::VideoDelta);
    EXPECT_EQ(ClassifyFlvTag(tag, 11), FlvTagKind::Unknown);
    EXPECT_EQ(ClassifyFlvTag(tag, 2), FlvTagKind::Unknown);
}

TEST(TagAdmission, VideoWaitsForAKeyFrameAskingOnceAndAgainAfterItWasDroppedWhileSoundAlwaysGoes)
{
    using K = FlvTagKind;
    using P = TagAdmission::Push;
    struct Step {
        K kind;
        bool dropVideo;
        P expected;
    };
    const Step steps[] = {
        {K::Header, false, P::Sent},
        {K::Audio, false, P::Sent},
        {K::VideoDelta, false, P::NeedKeyFrame},
        {K::VideoDelta, false, P::Skipped},
        {K::VideoKey, false, P::Sent},
        {K::VideoDelta, false, P::Sent},
        {K::VideoDelta, true, P::Overflow},
        {K::Header, true, P::Sent},
        {K::Audio, true, P::Sent},
        {K::VideoKey, true, P::Overflow},
        {K::VideoDelta, false, P::NeedKeyFrame},
        {K::VideoDelta, false, P::Skipped},
        {K::VideoKey, false, P::Sent},
        {K::VideoDelta, false, P::Sent},
    };
    TagAdmission admission;
    for (std::size_t i = 0; i < std::size(steps); ++i)
        EXPECT_EQ(admission.Admit(steps[i].kind, steps[i].dropVideo), steps[i].expected) << "step " << i;
    EXPECT_EQ(admission.FramesSent(), 4);
    EXPECT_EQ(admission.FramesDropped(), 4) << "the frames before the first key frame were never due";
}

TEST(TagAdmission, TimesStartFromZeroOnEachConnection)
{
    TagAdmission first;
    EXPECT_EQ(first.Rebased(5000), 0u);
    EXPECT_EQ(first.Rebased(5040), 40u);
    EXPECT_EQ(first.Rebased(4990), 0u) << "a tag from before the first never goes back in time";
    EXPECT_EQ(TagAdmission().Rebased(9000), 0u);
}

TEST(AudioLevel, PeaksFromSilenceToFullScaleGiveZeroToHundred)
{
    EXPECT_EQ(PercentForDecibels(-INFINITY), 0);
    EXPECT_EQ(PercentForDecibels(NAN), 0);
    EXPECT_EQ(PercentForDecibels(-75), 0);
    EXPECT_EQ(PercentForDecibels(-30), 50);
    EXPECT_EQ(PercentForDecibels(0), 100);
    EXPECT_EQ(PercentForDecibels(3), 100);  // clipping stays at full scale
}

TEST(ReconnectBackoff, GrowsByHalfFromTwoSecondsUpToTheCapAndStartsOverAfterReset)
{
    ReconnectBackoff backoff;
    EXPECT_EQ(backoff.Next().count(), 2000);
    EXPECT_EQ(backoff.Next().count(), 3000);
    EXPECT_EQ(backoff.Next().count(), 4500);
    for (int i = 0; i < 50; ++i) backoff.Next();
    EXPECT_EQ(backoff.Next(), ReconnectBackoff::kLongest);
    backoff.Reset();
    EXPECT_EQ(backoff.Next().count(), 2000);
}

TEST(PreviewOutlet, PicturesFitTheProgramsSizeWithTheStreamsAspectEvenSizedAndNoneWithoutAReceiver)
{
    using Size = castorn::PreviewOutlet::Size;
    const auto fit = [](int width, int height, Size largest) {
        const Size size = castorn::FitPicture(width, height, largest);
        return std::array{size.width, size.height};
    };
    EXPECT_EQ(fit(320, 240, {318, 250}), (std::array{318, 238})) << "as wide as the frame, bars above and below";
    EXPECT_EQ(fit(1280, 720, {100, 100}), (std::array{100, 56}));
    EXPECT_EQ(fit(240, 320, {319, 250}), (std::array{186, 250})) << "as high as the frame, bars beside";
    EXPECT_EQ(fit(4096, 16, {300, 200}), (std::array{300, 2})) << "never below two pixels";
    EXPECT_EQ(fit(320, 240, {1, 240}), (std::array{0, 0})) << "no picture for a frame with no room";

    castorn::PreviewOutlet outlet;
    std::uint64_t first = 0;
    std::uint64_t second = 0;
    const Size none = outlet.Open(0x42, 320, 240, first);
    EXPECT_EQ(none.width, 0) << "no receiver, no preview branch";
    struct : ICastornPreview {
        void OnPreviewFrame(WindowHandle, const std::uint8_t*, int, int, int) override {}
    } receiver;
    outlet.SetReceiver(&receiver, {160, 160});
    outlet.Close();
    const Size some = outlet.Open(0x42, 320, 240, second);
    EXPECT_EQ(some.width, 160);
    EXPECT_EQ(some.height, 120);
    EXPECT_NE(first, second) << "pictures of an earlier publication are told apart";
}
