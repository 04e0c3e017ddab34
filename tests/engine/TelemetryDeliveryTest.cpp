// Telemetry lines collected from the text stream and delivered to the two panels as the
// recording plays: order, once each, replacement, seeks, full-screen layout, speed, teardown.

#include "EngineFixture.h"
#include "VideoState.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

using namespace std::chrono_literals;

namespace velk::test {
namespace {

// A line of the telemetry format, padded past the 80 bytes the reader needs.
std::string Line(int speed) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "%d,2150,1,0,0/0,3,0,37.566500,126.978000,0/0.12,-0.05,0.98,0,5,0,0,0,0/"
                  "1.2.3,144,0   ",
                  speed);
    return text;
}

// Options for a small recording whose text packets are exactly these (key, text) pairs.
std::vector<std::string> WithLines(const std::vector<std::pair<int, std::string>>& lines,
                                   const std::string& duration) {
    std::string name = "velk-lines";
    for (auto& [key, text] : lines)
        name += "-" + std::to_string(key) + "_" + text.substr(0, 3);
    const auto path = std::filesystem::path(VELK_BINARY_DIR) / "test-recordings" / (name + ".txt");
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path);
    for (auto& [key, text] : lines)
        out << key << '\t' << text << '\n';
    return {"--duration", duration, "--front",          "320x180",
            "--rear",     "160x90", "--telemetry-file", path.string()};
}

std::vector<std::string> SmallRecording(const std::string& duration) {
    return {"--duration", duration, "--front", "320x180", "--rear", "160x90"};
}

// The key each written line was stored under, to read delivered texts back as keys.
std::map<std::string, int> KeysOfLines(const std::vector<std::string>& options) {
    std::map<std::string, int> keyOf;
    for (auto& [key, text] : RecordingTelemetry(options))
        keyOf[text] = key;
    return keyOf;
}

// The delivered telemetry pairs in log order; fails the test when MsgVehicleTelemetry and
// MsgMapTelemetry do not pair up. Taken while a playback runs, the log may end between the two
// messages of a pair: that last vehicle message is not counted yet.
std::vector<std::string> DeliveredTexts() {
    std::vector<std::string> texts;
    const auto log = Poster().snapshot();
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (log[i].id != MsgVehicleTelemetry || !log[i].text) continue;
        if (i + 1 == log.size()) break;
        EXPECT_EQ(log[i].target, kVehiclePanel);
        const bool paired = i + 1 < log.size() && log[i + 1].id == MsgMapTelemetry &&
                            log[i + 1].target == kMapPanel && log[i + 1].text == log[i].text;
        EXPECT_TRUE(paired)
            << "MsgMapTelemetry with the same text follows each MsgVehicleTelemetry";
        texts.push_back(*log[i].text);
    }
    return texts;
}

// Copies a recording as a tool that re-writes the text track as 3GPP timed text would: the text
// samples in a 1/1000 time base, each prefixed with its length in two bytes. Returns the path.
std::string RewrittenTextTrack(const std::string& source) {
    const std::string target = source + ".timed-text.mp4";
    if (std::filesystem::exists(target)) return target;
    const std::string partial = target + ".part.mp4";
    AVFormatContext* in = nullptr;
    AVFormatContext* out = nullptr;
    AVPacket* pkt = av_packet_alloc();
    bool ok = pkt && avformat_open_input(&in, source.c_str(), nullptr, nullptr) >= 0 &&
              avformat_find_stream_info(in, nullptr) >= 0 &&
              avformat_alloc_output_context2(&out, nullptr, "mp4", partial.c_str()) >= 0;
    for (unsigned i = 0; ok && i < in->nb_streams; ++i) {
        AVStream* stream = avformat_new_stream(out, nullptr);
        ok = stream && avcodec_parameters_copy(stream->codecpar, in->streams[i]->codecpar) >= 0;
        if (!ok) break;
        stream->codecpar->codec_tag = 0;
        stream->time_base = in->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE
                                ? AVRational{1, 1000}
                                : in->streams[i]->time_base;
    }
    ok = ok && avio_open(&out->pb, partial.c_str(), AVIO_FLAG_WRITE) >= 0 &&
         avformat_write_header(out, nullptr) >= 0;
    while (ok && av_read_frame(in, pkt) >= 0) {
        const AVStream* from = in->streams[pkt->stream_index];
        const AVStream* to = out->streams[pkt->stream_index];
        if (from->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE && pkt->size > 0) {
            AVPacket* prefixed = av_packet_alloc();
            ok = prefixed && av_new_packet(prefixed, pkt->size + 2) >= 0;
            if (ok) {
                prefixed->data[0] = static_cast<std::uint8_t>(pkt->size >> 8);
                prefixed->data[1] = static_cast<std::uint8_t>(pkt->size & 0xff);
                std::memcpy(prefixed->data + 2, pkt->data, static_cast<std::size_t>(pkt->size));
                av_packet_copy_props(prefixed, pkt);
                av_packet_unref(pkt);
                av_packet_move_ref(pkt, prefixed);
            }
            av_packet_free(&prefixed);
        }
        av_packet_rescale_ts(pkt, from->time_base, to->time_base);
        pkt->pos = -1;
        ok = ok && av_interleaved_write_frame(out, pkt) >= 0;
        av_packet_unref(pkt);
    }
    ok = ok && av_write_trailer(out) >= 0;
    if (out) avio_closep(&out->pb);
    EXPECT_TRUE(ok) << "could not re-write " << source;
    if (ok) {
        const AVStream* text = out->streams[in->nb_streams - 1];
        EXPECT_EQ(text->time_base.den, 1000) << "the text track keeps its 1/1000 time base";
    }
    avformat_free_context(out);
    avformat_close_input(&in);
    av_packet_free(&pkt);
    if (ok) std::filesystem::rename(partial, target);
    return target;
}

using TelemetryDeliveryTest = EngineTest;

TEST_F(TelemetryDeliveryTest, LinesArriveOnceInOrderAndAReplacedKeyGivesTheNewText) {
    const std::vector<std::pair<int, std::string>> lines = {
        {5, Line(50)}, {6, Line(60)}, {7, Line(70)}, {7, Line(77)}};
    ASSERT_TRUE(PlayUntil(Recording(WithLines(lines, "1.5")), MsgEndOfPlayback, 20s));
    EXPECT_EQ(DeliveredTexts(), (std::vector<std::string>{Line(50), Line(60), Line(77)}));
}

TEST_F(TelemetryDeliveryTest, EveryLineOfTheRecordingIsDeliveredAtNormalAndFourfoldSpeed) {
    struct Case {
        int factor;
        const char* duration;
    };
    for (Case c : {Case{1, "4"}, Case{4, "20"}}) {
        const auto options = SmallRecording(c.duration);
        const auto written = RecordingTelemetry(options);
        speedFactor = c.factor;
        ASSERT_TRUE(PlayUntil(Recording(options), MsgEndOfPlayback, 40s)) << "factor " << c.factor;
        std::vector<std::string> expected;
        for (auto& [key, text] : written)
            expected.push_back(text);
        EXPECT_EQ(DeliveredTexts(), expected) << "every line once, in order; factor " << c.factor;
        ASSERT_TRUE(StopPlayback());
    }
}

// A recording whose text track another tool re-wrote delivers the device's lines, each once.
TEST_F(TelemetryDeliveryTest, ARewrittenTextTrackDeliversTheSameLines) {
    const auto options = SmallRecording("3");
    std::vector<std::string> expected;
    for (auto& [key, text] : RecordingTelemetry(options))
        expected.push_back(text);
    ASSERT_TRUE(PlayUntil(RewrittenTextTrack(Recording(options)), MsgEndOfPlayback, 20s));
    EXPECT_EQ(DeliveredTexts(), expected);
}

TEST_F(TelemetryDeliveryTest, SeekingBackRestartsTheWalkFromTheNewMoment) {
    const auto options = SmallRecording("16");
    const auto keyOf = KeysOfLines(options);

    speedFactor = 4;
    StartPlayback(Recording(options));
    ASSERT_TRUE(Poster().waitFor(
        [](const auto& log) {
            for (auto& m : log)
                if (m.id == MsgElapsedSeconds && m.lParam >= 13) return true;
            return false;
        },
        20s));
    speedFactor = 1;
    const auto before = DeliveredTexts().size();
    RequestSeekBy(-10);
    std::this_thread::sleep_for(1500ms);
    const auto texts = DeliveredTexts();
    ASSERT_GT(texts.size(), before + 5);
    std::vector<int> keys;
    ASSERT_GT(before, 0u);
    for (std::size_t i = before - 1; i < texts.size(); ++i)
        keys.push_back(keyOf.at(texts[i]));
    // Some lines may still come from before the seek took effect; after the jump back the keys
    // run on one by one from the new moment.
    std::size_t jump = 1;
    while (jump < keys.size() && keys[jump] > keys[jump - 1])
        ++jump;
    ASSERT_LT(jump, keys.size()) << "the walk went back: " << ::testing::PrintToString(keys);
    EXPECT_LT(keys[jump], keys[jump - 1] - 50);
    for (std::size_t i = jump + 1; i < keys.size(); ++i)
        EXPECT_EQ(keys[i], keys[i - 1] + 1);
}

TEST_F(TelemetryDeliveryTest, FullScreenLayoutSuppressesDeliveryWhileTheMomentMovesOn) {
    const auto options = SmallRecording("5");
    const auto keyOf = KeysOfLines(options);

    ASSERT_TRUE(PlayUntil(Recording(options), MsgElapsedSeconds, 10s));
    std::this_thread::sleep_for(500ms);
    ToggleFullScreenLayout();
    const auto hidden = Poster().snapshot().size();
    std::this_thread::sleep_for(1s);
    const auto log = Poster().snapshot();
    ToggleFullScreenLayout();
    ASSERT_TRUE(Poster().waitForMessage(MsgEndOfPlayback, 20s));

    std::size_t during = 0;
    // Messages posted while the layout was on (allowing the one refresh that was under way).
    for (std::size_t i = hidden + 2; i < log.size(); ++i)
        if (log[i].id == MsgVehicleTelemetry || log[i].id == MsgMapTelemetry) ++during;
    EXPECT_EQ(during, 0u);
    std::vector<int> keys;
    for (auto& text : DeliveredTexts())
        keys.push_back(keyOf.at(text));
    std::size_t gaps = 0;
    for (std::size_t i = 1; i < keys.size(); ++i) {
        EXPECT_GT(keys[i], keys[i - 1]) << "never a line twice or backwards";
        if (keys[i] - keys[i - 1] > 5) ++gaps;
    }
    EXPECT_EQ(gaps, 1u) << "the hidden second is skipped, not replayed";
}

TEST_F(TelemetryDeliveryTest, StoppingEmptiesTheTimelineAndTheNextPlaybackStartsWithAReset) {
    const auto path = Recording(SmallRecording("3"));
    ASSERT_TRUE(PlayUntil(path, MsgMapTelemetry, 10s));
    EXPECT_FALSE(TelemetryTimelineEmpty());
    ASSERT_TRUE(StopPlayback());
    EXPECT_TRUE(TelemetryTimelineEmpty());

    ASSERT_TRUE(PlayUntil(path, MsgMapTelemetry, 10s));
    const auto log = Poster().snapshot();
    EXPECT_EQ(log[0].id, MsgVehicleTelemetry);
    EXPECT_FALSE(log[0].text) << "reset first";
}

} // namespace
} // namespace velk::test
