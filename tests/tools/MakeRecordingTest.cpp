// Tests of tools/make-recording: each runs the built program into a temporary folder and reads
// the file back with libavformat/libavcodec.

#include "FrameCode.h"
#include "RecordingMaker.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Small pictures keep the tests quick; the defaults are exercised by the demo card.
const std::vector<std::string> kSmall = {"--front", "640x360", "--rear", "320x180"};

using velk::test::ProgramRun;
using velk::test::RunMakeRecording;

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct TextPacket {
    long key;
    std::string payload;
    bool operator==(const TextPacket&) const = default;
};

// "KEY<TAB>PAYLOAD" lines as --print-telemetry writes them.
std::vector<TextPacket> parsePrinted(const std::string& out) {
    std::vector<TextPacket> v;
    size_t pos = 0;
    while (pos < out.size()) {
        const size_t nl = out.find('\n', pos);
        const std::string line = out.substr(pos, nl - pos);
        pos = nl == std::string::npos ? out.size() : nl + 1;
        const size_t tab = line.find('\t');
        if (tab != std::string::npos)
            v.push_back({std::stol(line.substr(0, tab)), line.substr(tab + 1)});
    }
    return v;
}

struct InputCloser {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
using Input = std::unique_ptr<AVFormatContext, InputCloser>;

Input openInput(const std::string& path) {
    AVFormatContext* f = nullptr;
    if (avformat_open_input(&f, path.c_str(), nullptr, nullptr) < 0) return nullptr;
    if (avformat_find_stream_info(f, nullptr) < 0) {
        avformat_close_input(&f);
        return nullptr;
    }
    return Input(f);
}

// Every packet of one stream, in file order.
std::vector<TextPacket> readPackets(const std::string& path, int stream) {
    std::vector<TextPacket> v;
    Input in = openInput(path);
    if (!in) return v;
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(in.get(), pkt) >= 0) {
        if (pkt->stream_index == stream)
            v.push_back({static_cast<long>(pkt->pts),
                         std::string(reinterpret_cast<char*>(pkt->data), pkt->size)});
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    return v;
}

// The text samples of a stream without the 2-byte empty samples the MP4 writer puts between them.
std::vector<TextPacket> readTextSamples(const std::string& path, int stream) {
    std::vector<TextPacket> v;
    for (TextPacket& p : readPackets(path, stream))
        if (p.payload != std::string(2, '\0')) v.push_back(std::move(p));
    return v;
}

// Decodes one stream and calls `onFrame` with each frame and its time in seconds.
void decodeStream(const std::string& path, int stream,
                  const std::function<void(const AVFrame*, double)>& onFrame) {
    Input in = openInput(path);
    ASSERT_TRUE(in) << path;
    AVStream* st = in->streams[stream];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    ASSERT_TRUE(codec);
    AVCodecContext* dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, st->codecpar);
    dec->pkt_timebase = st->time_base;
    ASSERT_EQ(avcodec_open2(dec, codec, nullptr), 0);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&] {
        while (avcodec_receive_frame(dec, frame) == 0) {
            onFrame(frame, frame->best_effort_timestamp * av_q2d(st->time_base));
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(in.get(), pkt) >= 0) {
        if (pkt->stream_index == stream) {
            avcodec_send_packet(dec, pkt);
            drain();
        }
        av_packet_unref(pkt);
    }
    avcodec_send_packet(dec, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
}

class MakeRecording : public testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "make-recording-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(tmpl.data()));
        m_dir = tmpl;
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string path(const std::string& name) const { return (m_dir / name).string(); }

    fs::path m_dir;
};

// --- Streams and their order, per option -------------------------------------------------------

struct StreamExpectation {
    AVMediaType type;
    const char* codec;
    int width = 0, height = 0;  // video
    int rate = 0, channels = 0; // audio
};

struct LayoutCase {
    const char* name;
    const char* file;
    std::vector<std::string> args;
    std::vector<StreamExpectation> streams;
};

const StreamExpectation kFront{AVMEDIA_TYPE_VIDEO, "h264", 640, 360};
const StreamExpectation kRear{AVMEDIA_TYPE_VIDEO, "h264", 320, 180};
const StreamExpectation kAac{AVMEDIA_TYPE_AUDIO, "aac", 0, 0, 48000, 2};
const StreamExpectation kPcm{AVMEDIA_TYPE_AUDIO, "pcm_s16le", 0, 0, 48000, 2};
const StreamExpectation kText{AVMEDIA_TYPE_SUBTITLE, "mov_text"};

const LayoutCase kLayoutCases[] = {
    {"Mp4AllStreams", "a.mp4", {}, {kFront, kRear, kAac, kText}},
    {"Mp4NoRear", "a.mp4", {"--no-rear"}, {kFront, kAac, kText}},
    {"Mp4NoAudio", "a.mp4", {"--no-audio"}, {kFront, kRear, kText}},
    {"Mp4NoTelemetry", "a.mp4", {"--no-telemetry"}, {kFront, kRear, kAac}},
    {"Mp4NoFrontIsAudioAndText", "a.mp4", {"--no-front"}, {kAac, kText}},
    {"Mp4MonoAudio44k",
     "a.mp4",
     {"--audio-rate", "44100", "--audio-channels", "1", "--no-rear"},
     {kFront, {AVMEDIA_TYPE_AUDIO, "aac", 0, 0, 44100, 1}, kText}},
    {"Mp4HalfSecond", "a.mp4", {"--duration", "0.5"}, {kFront, kRear, kAac, kText}},
    {"AviHasNoTextStream", "a.avi", {}, {kFront, kRear, kPcm}},
    {"AviNoAudio", "a.avi", {"--no-audio"}, {kFront, kRear}},
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.name;
}

class StreamLayout : public MakeRecording, public testing::WithParamInterface<LayoutCase> {};

TEST_P(StreamLayout, HasTheAskedStreamsInDeviceOrder) {
    const LayoutCase& c = GetParam();
    const std::string file = path(c.file);
    double duration = 1;
    for (size_t i = 0; i + 1 < c.args.size(); ++i)
        if (c.args[i] == "--duration") duration = std::stod(c.args[i + 1]);
    std::vector<std::string> args =
        concat({"--out", file, "--duration"}, {std::to_string(duration)});
    args = concat(concat(args, kSmall), c.args);
    ASSERT_EQ(RunMakeRecording(args).status, 0);

    Input in = openInput(file);
    ASSERT_TRUE(in);
    ASSERT_EQ(in->nb_streams, c.streams.size());
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        SCOPED_TRACE("stream " + std::to_string(i));
        const AVCodecParameters* par = in->streams[i]->codecpar;
        const StreamExpectation& e = c.streams[i];
        EXPECT_EQ(par->codec_type, e.type);
        EXPECT_STREQ(avcodec_get_name(par->codec_id), e.codec);
        if (e.type == AVMEDIA_TYPE_VIDEO) {
            EXPECT_EQ(par->width, e.width);
            EXPECT_EQ(par->height, e.height);
            EXPECT_EQ(av_q2d(in->streams[i]->avg_frame_rate), 30.0);
            EXPECT_EQ(static_cast<long>(readPackets(file, i).size()),
                      std::lround(std::ceil(duration * 30)));
        } else if (e.type == AVMEDIA_TYPE_AUDIO) {
            EXPECT_EQ(par->sample_rate, e.rate);
            EXPECT_EQ(par->ch_layout.nb_channels, e.channels);
        } else {
            // The reader keys lines by tenths of its clock: the time base must stay 1/10.
            EXPECT_EQ(in->streams[i]->time_base.num, 1);
            EXPECT_EQ(in->streams[i]->time_base.den, 10);
            const auto samples = readTextSamples(file, static_cast<int>(i));
            ASSERT_EQ(static_cast<long>(samples.size()), std::lround(std::ceil(duration * 10)));
            for (size_t k = 0; k < samples.size(); ++k)
                EXPECT_EQ(samples[k].key, static_cast<long>(k));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, StreamLayout, testing::ValuesIn(kLayoutCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Telemetry track: bytes as printed, 25 fields, device and unit ------------------------------

struct TelemetryCase {
    const char* name;
    const char* device;
    const char* unit;
    int deviceCode;
    int speedUnit;
};

const TelemetryCase kTelemetryCases[] = {
    {"VelkTKmh", "t", "kmh", 144, 0},
    {"VelkRsMph", "rs", "mph", 85, 1},
};

void PrintTo(const TelemetryCase& c, std::ostream* os) {
    *os << c.name;
}

class SimulatedTelemetry : public MakeRecording,
                           public testing::WithParamInterface<TelemetryCase> {};

TEST_P(SimulatedTelemetry, PacketsCarryThePrintedLines) {
    const TelemetryCase& c = GetParam();
    const std::string file = path("t.mp4");
    // Telemetry only (no pictures, no sound): 60 s of simulated drive in a moment.
    const std::vector<std::string> args = {
        "--out",  file,     "--duration", "60",     "--no-front", "--no-audio",       "--device",
        c.device, "--unit", c.unit,       "--seed", "7",          "--print-telemetry"};
    const ProgramRun r = RunMakeRecording(args);
    ASSERT_EQ(r.status, 0);
    const std::vector<TextPacket> printed = parsePrinted(r.output);
    ASSERT_EQ(printed.size(), 600u);

    // The text stream is stream 0 here; the MP4 writer's 2-byte empty samples dropped.
    EXPECT_EQ(readTextSamples(file, 0), printed);

    int gpsFix = 0, gpsLost = 0, braking = 0, moving = 0;
    for (const TextPacket& p : printed) {
        SCOPED_TRACE(p.payload);
        ASSERT_GE(p.payload.size(), 80u);
        int speed, rpm, left, right, brake, aux6, gps, aux8, aux11, lane, ahead, ped, a18, a19, a20;
        int major, minor, patch, code, unit;
        double lat, lon;
        float gx, gy, gz;
        ASSERT_EQ(std::sscanf(p.payload.c_str(),
                              "%d,%d,%d,%d,%d/%d,%d,%d,%lf,%lf,%d/%f,%f,%f,%d,%d,%d,%d,%d,%d/"
                              "%d.%d.%d,%d,%d",
                              &speed, &rpm, &left, &right, &brake, &aux6, &gps, &aux8, &lat, &lon,
                              &aux11, &gx, &gy, &gz, &lane, &ahead, &ped, &a18, &a19, &a20, &major,
                              &minor, &patch, &code, &unit),
                  25);
        EXPECT_GE(speed, 0);
        EXPECT_LE(speed, 200);
        EXPECT_GE(rpm, 700);
        EXPECT_FALSE(left == 1 && right == 1);
        EXPECT_TRUE(gps == 0 || gps == 1 || gps == 3);
        EXPECT_TRUE(lane >= 0 && lane <= 2);
        EXPECT_TRUE(ahead >= 0 && ahead <= 5);
        EXPECT_TRUE(ped == 0 || ped == 1 || ped == 3);
        EXPECT_LT(std::fabs(gx), 1.0f);
        EXPECT_LT(std::fabs(gy), 1.0f);
        EXPECT_LT(std::fabs(gz), 1.1f);
        EXPECT_EQ(major * 10000 + minor * 100 + patch, 10203);
        EXPECT_EQ(code, c.deviceCode);
        EXPECT_EQ(unit, c.speedUnit);
        if (gps == 3) {
            EXPECT_TRUE(std::fabs(lat - 37.57) < 0.5 && std::fabs(lon - 126.98) < 0.5);
        }
        gpsFix += gps == 3;
        gpsLost += gps < 2;
        braking += brake == 1;
        moving += speed > 10;
    }
    // A drive, not a still: it moves, brakes, and has a fix most of the time.
    EXPECT_GT(gpsFix, 400);
    EXPECT_GE(gpsLost, 3);
    EXPECT_GT(braking, 10);
    EXPECT_GT(moving, 100);

    // Deterministic for a seed, different for another.
    EXPECT_EQ(RunMakeRecording(args).output, r.output);
    std::vector<std::string> other = args;
    other[11] = "8"; // the seed
    EXPECT_NE(RunMakeRecording(other).output, r.output);
}

INSTANTIATE_TEST_SUITE_P(Cases, SimulatedTelemetry, testing::ValuesIn(kTelemetryCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MakeRecording, TelemetryFileGivesExactlyItsPacketsInFileOrder) {
    const std::vector<TextPacket> lines = {
        {5, std::string(80, 'a')},
        {6, "88,2150,1,0,0/0,3,0,37.5665,126.9780,0/0.12,-0.05,0.98,0,5,0,0,0,0/1.2.3,144,0" +
                std::string(3, ' ')},
        {7, std::string(85, 'c')},
        {7, std::string(90, 'd')}, // same key: the reader keeps the later one
        {8, std::string(79, 'e')}, // too short for the reader, written all the same
        {9, std::string(80, 'f')},
        {15, std::string(5000, 'g')}, // past the end of the pictures
    };
    const std::string txt = path("lines.txt"), file = path("f.mp4");
    {
        std::ofstream out(txt, std::ios::binary);
        for (const TextPacket& l : lines)
            out << l.key << '\t' << l.payload << '\n';
    }
    const ProgramRun r =
        RunMakeRecording(concat({"--out", file, "--duration", "1", "--no-rear", "--no-audio",
                                 "--telemetry-file", txt, "--print-telemetry"},
                                kSmall));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(parsePrinted(r.output), lines);
    EXPECT_EQ(readTextSamples(file, 1), lines);
}

// --- Pictures and sound: frame code, flashes and clicks -----------------------------------------

// The Y plane of a frame as a tight buffer, optionally mirrored, optionally scaled.
std::vector<uint8_t> lumaOf(const AVFrame* f, bool mirror, int width, int height) {
    std::vector<uint8_t> src(static_cast<size_t>(f->width) * f->height);
    for (int y = 0; y < f->height; ++y)
        for (int x = 0; x < f->width; ++x)
            src[static_cast<size_t>(y) * f->width + x] =
                f->data[0][y * f->linesize[0] + (mirror ? f->width - 1 - x : x)];
    if (width == f->width && height == f->height) return src;
    std::vector<uint8_t> dst(static_cast<size_t>(width) * height);
    SwsContext* sws = sws_getContext(f->width, f->height, AV_PIX_FMT_GRAY8, width, height,
                                     AV_PIX_FMT_GRAY8, SWS_BILINEAR, nullptr, nullptr, nullptr);
    const uint8_t* s[1] = {src.data()};
    const int ss[1] = {f->width};
    uint8_t* d[1] = {dst.data()};
    const int ds[1] = {width};
    sws_scale(sws, s, ss, 0, f->height, d, ds);
    sws_freeContext(sws);
    return dst;
}

struct SyncCase {
    const char* name;
    const char* file;
    std::vector<std::string> sizes;
};

void PrintTo(const SyncCase& c, std::ostream* os) {
    *os << c.name;
}

const SyncCase kSyncCases[] = {
    {"Mp4Small", "s.mp4", kSmall},
    {"AviSmall", "s.avi", kSmall},
    {"Mp4FullSize", "s.mp4", {}}, // 1920x1080 and 1280x720, as the demo card
    {"Mp4Detailed", "d.mp4", {"--front", "640x360", "--rear", "320x180", "--detail"}},
};

class PictureAndSound : public MakeRecording, public testing::WithParamInterface<SyncCase> {};

TEST_P(PictureAndSound, FrameCodeFlashesAndClicksLineUp) {
    const std::string file = path(GetParam().file);
    ASSERT_EQ(RunMakeRecording(concat({"--out", file, "--duration", "3"}, GetParam().sizes)).status,
              0);
    constexpr int kFps = 30;

    for (int stream : {0, 1}) {
        SCOPED_TRACE("stream " + std::to_string(stream));
        int count = 0;
        std::vector<double> flashes;
        decodeStream(file, stream, [&](const AVFrame* f, double t) {
            const int k = count++;
            EXPECT_NEAR(t, static_cast<double>(k) / kFps, 0.002) << "frame " << k;
            struct View {
                bool mirror;
                int w, h;
            };
            for (const View v : {View{false, f->width, f->height}, View{true, f->width, f->height},
                                 View{false, 360, 202}, View{true, 360, 202}}) {
                const std::vector<uint8_t> luma = lumaOf(f, v.mirror, v.w, v.h);
                bool mirrored = !v.mirror;
                EXPECT_EQ(velk::decodeFrameCode(luma.data(), v.w, v.w, v.h, &mirrored), k)
                    << "frame " << k << " " << v.w << "x" << v.h << (v.mirror ? " mirrored" : "");
                EXPECT_EQ(mirrored, v.mirror);
            }
            // The right third below the strip: no digits there, flat white on a flash frame.
            long sum = 0, n = 0;
            for (int y = f->height / 12 + 2; y < f->height; y += 2)
                for (int x = f->width * 2 / 3; x < f->width; x += 2, ++n)
                    sum += f->data[0][y * f->linesize[0] + x];
            const double mean = static_cast<double>(sum) / n;
            EXPECT_TRUE(mean > 225 || mean < 180) << "frame " << k << " mean " << mean;
            if (mean > 225) flashes.push_back(t);
        });
        EXPECT_EQ(count, 3 * kFps);
        EXPECT_EQ(flashes, (std::vector<double>{0.0, 1.0, 2.0}));
    }

    // Clicks: the first loud sample after at least 20 ms of quiet hum, per channel 0.
    std::vector<double> clicks;
    double lastLoud = -1;
    decodeStream(file, 2, [&](const AVFrame* f, double t) {
        for (int i = 0; i < f->nb_samples; ++i) {
            const double v =
                f->format == AV_SAMPLE_FMT_FLTP
                    ? reinterpret_cast<const float*>(f->extended_data[0])[i]
                    : reinterpret_cast<const int16_t*>(f->data[0])[i * f->ch_layout.nb_channels] /
                          32768.0;
            const double at = t + static_cast<double>(i) / f->sample_rate;
            if (std::fabs(v) > 0.3) {
                if (lastLoud < 0 || at - lastLoud > 0.02) clicks.push_back(at);
                lastLoud = at;
            }
        }
    });
    ASSERT_EQ(clicks.size(), 3u);
    for (int s = 0; s < 3; ++s)
        EXPECT_NEAR(clicks[s], s, 0.002) << "click " << s;
}

INSTANTIATE_TEST_SUITE_P(Cases, PictureAndSound, testing::ValuesIn(kSyncCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MakeRecording, DetailSpendsTheAskedBitRates) {
    const std::string file = path("detail.mp4");
    ASSERT_EQ(
        RunMakeRecording({"--out", file, "--duration", "3", "--detail", "--front", "640x360",
                          "--front-bitrate", "3000", "--rear", "320x180", "--rear-bitrate", "1000"})
            .status,
        0);
    AVFormatContext* ctx = nullptr;
    ASSERT_EQ(avformat_open_input(&ctx, file.c_str(), nullptr, nullptr), 0);
    ASSERT_GE(avformat_find_stream_info(ctx, nullptr), 0);
    // Flat test pictures need a tenth of this; a textured scene uses most of what it is given.
    EXPECT_GT(ctx->streams[0]->codecpar->bit_rate, 3000 * 1000 * 6 / 10);
    EXPECT_GT(ctx->streams[1]->codecpar->bit_rate, 1000 * 1000 * 6 / 10);
    EXPECT_LT(ctx->streams[0]->codecpar->bit_rate, 3000 * 1000 * 13 / 10);
    avformat_close_input(&ctx);
}

// --- Command line ------------------------------------------------------------------------------

struct BadCase {
    const char* name;
    std::vector<std::string> args; // "OUT" stands for a file in the temporary folder
    std::string message; // what standard error says after "make-recording: ", "OUT" as in args
};

const BadCase kBadCases[] = {
    {"NoOut", {"--duration", "1"}, "--out FILE is required"},
    {"UnknownOption", {"--out", "OUT.mp4", "--colour", "red"}, "unknown option \"--colour\""},
    {"MissingValue", {"--out", "OUT.mp4", "--duration"}, "--duration needs a value"},
    {"OtherContainer", {"--out", "OUT.mkv"}, "--out \"OUT.mkv\" must end in .mp4 or .avi"},
    {"ZeroFps", {"--out", "OUT.mp4", "--fps", "0"}, "bad value \"0\" for --fps"},
    {"NegativeDuration",
     {"--out", "OUT.mp4", "--duration", "-1"},
     "bad value \"-1\" for --duration"},
    {"OddSize", {"--out", "OUT.mp4", "--front", "641x360"}, "bad value \"641x360\" for --front"},
    {"NotASize", {"--out", "OUT.mp4", "--rear", "big"}, "bad value \"big\" for --rear"},
    {"UnknownDevice", {"--out", "OUT.mp4", "--device", "x"}, "bad value \"x\" for --device"},
    {"UnknownUnit", {"--out", "OUT.mp4", "--unit", "furlong"}, "bad value \"furlong\" for --unit"},
    {"MissingTelemetryFile",
     {"--out", "OUT.mp4", "--telemetry-file", "OUT-none.txt"},
     "OUT.mp4: cannot read --telemetry-file \"OUT-none.txt\""},
    {"TelemetryFileInAvi",
     {"--out", "OUT.avi", "--telemetry-file", "OUT-none.txt"},
     "--telemetry-file needs an .mp4 output"},
    {"UnknownPreset",
     {"--out", "OUT.mp4", "--duration", "0.2", "--preset", "warp"},
     "OUT.mp4: cannot open libx264 (preset \"warp\")"},
    {"UnwritableFolder",
     {"--out", "OUT-no-such-folder/x.mp4", "--duration", "0.2"},
     "OUT-no-such-folder/x.mp4: cannot create \"OUT-no-such-folder/x.mp4\""},
};

void PrintTo(const BadCase& c, std::ostream* os) {
    *os << c.name;
}

class BadCommandLine : public MakeRecording, public testing::WithParamInterface<BadCase> {};

TEST_P(BadCommandLine, FailsWithAMessageAndLeavesNoFile) {
    const std::string out = path("x");
    const auto placed = [&out](const std::string& text) {
        std::string s = text;
        for (auto at = s.find("OUT"); at != std::string::npos; at = s.find("OUT", at + out.size()))
            s.replace(at, 3, out);
        return s;
    };
    std::vector<std::string> args;
    std::string written;
    for (const std::string& a : GetParam().args) {
        args.push_back(placed(a));
        if (a.rfind("OUT", 0) == 0 && written.empty()) written = args.back();
    }
    const ProgramRun r = RunMakeRecording(args);
    EXPECT_NE(r.status, 0);
    const std::string message = "make-recording: " + placed(GetParam().message);
    EXPECT_NE(r.errors.find(message), std::string::npos)
        << "expected \"" << message << "\" in: " << r.errors;
    EXPECT_TRUE(r.output.empty()) << r.output;
    if (!written.empty()) {
        EXPECT_FALSE(fs::exists(written));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, BadCommandLine, testing::ValuesIn(kBadCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The options the help's list documents: each line of the list starts with one.
std::vector<std::string> documentedOptions(const std::string& help) {
    std::vector<std::string> options;
    std::size_t pos = 0;
    while (pos < help.size()) {
        const std::size_t nl = help.find('\n', pos);
        const std::string line = help.substr(pos, nl - pos);
        pos = nl == std::string::npos ? help.size() : nl + 1;
        const std::size_t first = line.find_first_not_of(' ');
        if (first == std::string::npos || line.compare(first, 2, "--") != 0) continue;
        options.push_back(line.substr(first, line.find(' ', first) - first));
    }
    return options;
}

TEST(MakeRecordingHelp, DocumentsEveryOptionByItsWholeName) {
    const ProgramRun r = RunMakeRecording({"--help"});
    EXPECT_EQ(r.status, 0);
    std::vector<std::string> documented = documentedOptions(r.output);
    std::vector<std::string> known = {"--out",           "--duration",       "--fps",
                                      "--gop",           "--front",          "--rear",
                                      "--no-front",      "--no-rear",        "--no-audio",
                                      "--no-telemetry",  "--audio-rate",     "--audio-channels",
                                      "--front-bitrate", "--rear-bitrate",   "--device",
                                      "--unit",          "--seed",           "--preset",
                                      "--detail",        "--telemetry-file", "--print-telemetry",
                                      "--help"};
    std::sort(documented.begin(), documented.end());
    std::sort(known.begin(), known.end());
    // A whole name each: "--front" is not found inside "--no-front" or "--front-bitrate".
    EXPECT_EQ(documented, known) << r.output;
}

} // namespace
