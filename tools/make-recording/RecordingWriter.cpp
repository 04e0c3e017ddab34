#include "RecordingWriter.h"

#include "DriveSimulator.h"
#include "Picture.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

namespace velk {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kClickSeconds = 0.005;
constexpr int kPcmFrameSamples = 1024;

// The usual 3GPP timed-text sample description (as FFmpeg's own mov_text encoder writes it), so
// that players recognise the track; the samples themselves carry the bare telemetry lines.
const uint8_t kTx3gSampleEntry[] = {
    0x00, 0x00, 0x00, 0x00, 0x01, 0xFF, 0x00, 0x00, 0x00, 0x00, // flags, justification, colour
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,             // text box
    0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x12, 0xFF, 0xFF, 0xFF, 0xFF, // style record
    0x00, 0x00, 0x00, 0x12, 'f',  't',  'a',  'b',  0x00, 0x01, 0x00, 0x01,
    0x05, 'S',  'e',  'r',  'i',  'f'}; // font table

struct TextLine {
    long key;
    std::string payload;
};

[[noreturn]] void fail(const std::string& what, int err = 0) {
    if (err < 0) {
        char buf[AV_ERROR_MAX_STRING_SIZE];
        av_strerror(err, buf, sizeof buf);
        throw std::runtime_error(what + ": " + buf);
    }
    throw std::runtime_error(what);
}

void check(int err, const char* what) {
    if (err < 0) fail(what, err);
}

std::vector<TextLine> readTelemetryFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read --telemetry-file \"" + path + "\"");
    std::vector<TextLine> lines;
    std::string line;
    long number = 0, lastKey = -1;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty()) continue;
        const size_t tab = line.find('\t');
        const std::string where = path + " line " + std::to_string(number);
        if (tab == std::string::npos || tab == 0) fail(where + ": expected KEY<TAB>TEXT");
        char* end = nullptr;
        const std::string keyText = line.substr(0, tab);
        const long key = std::strtol(keyText.c_str(), &end, 10);
        if (*end || key < 0 || key > 0x7FFFFFFF)
            fail(where + ": key \"" + keyText + "\" is not a whole number from 0 up");
        if (key < lastKey)
            fail(where + ": keys must not go down (the container needs rising times)");
        if (tab + 1 == line.size())
            fail(where + ": empty text (an empty packet cannot be written)");
        lines.push_back({key, line.substr(tab + 1)});
        lastKey = key;
    }
    return lines;
}

struct Output {
    AVStream* stream = nullptr;
    AVCodecContext* codec = nullptr;
};

class Writer {
public:
    explicit Writer(const Options& o) : m_o(o) {}
    ~Writer();
    void run();

private:
    void open();
    void openVideo(Output& out, int width, int height, int kbps);
    void openAudio();
    void openText();
    void encode(Output& out, const AVFrame* frame); // nullptr drains
    void writeAudioUntil(int64_t sampleEnd, bool last = false);
    void writeText(const TextLine& line);

    const Options& m_o;
    AVFormatContext* m_fmt = nullptr;
    bool m_headerWritten = false;
    Output m_front, m_rear, m_audio;
    AVStream* m_text = nullptr;
    AVFrame* m_frontFrame = nullptr;
    AVFrame* m_rearFrame = nullptr;
    AVFrame* m_audioFrame = nullptr;
    AVPacket* m_packet = nullptr;
    int64_t m_audioNext = 0; // next sample to write
};

Writer::~Writer() {
    for (Output* o : {&m_front, &m_rear, &m_audio})
        avcodec_free_context(&o->codec);
    av_frame_free(&m_frontFrame);
    av_frame_free(&m_rearFrame);
    av_frame_free(&m_audioFrame);
    av_packet_free(&m_packet);
    if (m_fmt) {
        if (!(m_fmt->oformat->flags & AVFMT_NOFILE)) avio_closep(&m_fmt->pb);
        avformat_free_context(m_fmt);
    }
}

void Writer::openVideo(Output& out, int width, int height, int kbps) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) fail("this FFmpeg has no libx264 encoder");
    out.stream = avformat_new_stream(m_fmt, nullptr);
    out.codec = avcodec_alloc_context3(codec);
    if (!out.stream || !out.codec) fail("out of memory");
    AVCodecContext* c = out.codec;
    c->width = width;
    c->height = height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{1, m_o.fps};
    c->framerate = AVRational{m_o.fps, 1};
    c->gop_size = std::max(1, static_cast<int>(std::lround(m_o.gop * m_o.fps)));
    c->keyint_min = c->gop_size; // a fixed GOP, as the device writes
    c->color_range = AVCOL_RANGE_MPEG;
    c->colorspace = AVCOL_SPC_BT470BG;
    c->thread_count = 0; // x264 picks its threads from the cores
    // Quality-driven with a peak bit rate: flat test pictures stay small and quick.
    c->rc_max_rate = static_cast<int64_t>(kbps) * 1000;
    c->rc_buffer_size = kbps * 2000;
    if (m_fmt->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "preset", m_o.preset.c_str(), 0);
    if (m_o.detail)
        c->bit_rate = static_cast<int64_t>(kbps) * 1000; // a detailed scene spends its budget
    else
        av_dict_set(&opts, "crf", "23", 0);
    av_dict_set(&opts, "x264-params", "scenecut=0", 0); // the flashes must not move key frames
    const int err = avcodec_open2(c, codec, &opts);
    av_dict_free(&opts);
    check(err, ("cannot open libx264 (preset \"" + m_o.preset + "\")").c_str());
    check(avcodec_parameters_from_context(out.stream->codecpar, c), "codec parameters");
    out.stream->time_base = c->time_base;
    out.stream->avg_frame_rate = c->framerate;
}

void Writer::openAudio() {
    const AVCodec* codec = avcodec_find_encoder(m_o.avi ? AV_CODEC_ID_PCM_S16LE : AV_CODEC_ID_AAC);
    if (!codec) fail(m_o.avi ? "this FFmpeg has no PCM encoder" : "this FFmpeg has no AAC encoder");
    m_audio.stream = avformat_new_stream(m_fmt, nullptr);
    m_audio.codec = avcodec_alloc_context3(codec);
    if (!m_audio.stream || !m_audio.codec) fail("out of memory");
    AVCodecContext* c = m_audio.codec;
    c->sample_fmt = m_o.avi ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLTP;
    c->sample_rate = m_o.audioRate;
    av_channel_layout_default(&c->ch_layout, m_o.audioChannels);
    c->time_base = AVRational{1, m_o.audioRate};
    if (!m_o.avi) c->bit_rate = 64000 * m_o.audioChannels;
    if (m_fmt->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(avcodec_open2(c, codec, nullptr), "cannot open the audio encoder");
    check(avcodec_parameters_from_context(m_audio.stream->codecpar, c), "codec parameters");
    m_audio.stream->time_base = c->time_base;

    m_audioFrame = av_frame_alloc();
    if (!m_audioFrame) fail("out of memory");
    m_audioFrame->format = c->sample_fmt;
    m_audioFrame->sample_rate = c->sample_rate;
    check(av_channel_layout_copy(&m_audioFrame->ch_layout, &c->ch_layout), "channel layout");
    m_audioFrame->nb_samples = c->frame_size > 0 ? c->frame_size : kPcmFrameSamples;
    check(av_frame_get_buffer(m_audioFrame, 0), "audio frame");
}

void Writer::openText() {
    m_text = avformat_new_stream(m_fmt, nullptr);
    if (!m_text) fail("out of memory");
    AVCodecParameters* par = m_text->codecpar;
    par->codec_type = AVMEDIA_TYPE_SUBTITLE;
    par->codec_id = AV_CODEC_ID_MOV_TEXT;
    par->extradata =
        static_cast<uint8_t*>(av_mallocz(sizeof kTx3gSampleEntry + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata) fail("out of memory");
    std::copy(std::begin(kTx3gSampleEntry), std::end(kTx3gSampleEntry), par->extradata);
    par->extradata_size = sizeof kTx3gSampleEntry;
    // Keys are tenths: the reader looks lines up by tenths of its clock.
    m_text->time_base = AVRational{1, 10};
}

void Writer::open() {
    check(avformat_alloc_output_context2(&m_fmt, nullptr, m_o.avi ? "avi" : "mp4", m_o.out.c_str()),
          "cannot set up the output");
    const auto scaled = [](int kbps, int w, int h, double fullArea, int fullKbps) {
        if (kbps > 0) return kbps;
        return std::max(300, static_cast<int>(fullKbps * (w * static_cast<double>(h)) / fullArea));
    };
    if (m_o.front)
        openVideo(m_front, m_o.frontWidth, m_o.frontHeight,
                  scaled(m_o.frontKbps, m_o.frontWidth, m_o.frontHeight, 1920.0 * 1080, 12000));
    if (m_o.rear)
        openVideo(m_rear, m_o.rearWidth, m_o.rearHeight,
                  scaled(m_o.rearKbps, m_o.rearWidth, m_o.rearHeight, 1280.0 * 720, 6000));
    if (m_o.audio) openAudio();
    if (m_o.telemetry) openText();

    for (Output* o : {&m_front, &m_rear}) {
        if (!o->codec) continue;
        AVFrame*& f = o == &m_front ? m_frontFrame : m_rearFrame;
        f = av_frame_alloc();
        if (!f) fail("out of memory");
        f->format = AV_PIX_FMT_YUV420P;
        f->width = o->codec->width;
        f->height = o->codec->height;
        f->color_range = AVCOL_RANGE_MPEG;
        check(av_frame_get_buffer(f, 0), "picture buffer");
    }
    m_packet = av_packet_alloc();
    if (!m_packet) fail("out of memory");

    if (!(m_fmt->oformat->flags & AVFMT_NOFILE))
        check(avio_open(&m_fmt->pb, m_o.out.c_str(), AVIO_FLAG_WRITE),
              ("cannot create \"" + m_o.out + "\"").c_str());
    check(avformat_write_header(m_fmt, nullptr), "cannot write the header");
    m_headerWritten = true;
    if (m_text && (m_text->time_base.num != 1 || m_text->time_base.den != 10))
        fail("the muxer changed the text time base away from 1/10");
}

void Writer::encode(Output& out, const AVFrame* frame) {
    check(avcodec_send_frame(out.codec, frame), "encoding failed");
    for (;;) {
        const int err = avcodec_receive_packet(out.codec, m_packet);
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return;
        check(err, "encoding failed");
        av_packet_rescale_ts(m_packet, out.codec->time_base, out.stream->time_base);
        m_packet->stream_index = out.stream->index;
        check(av_interleaved_write_frame(m_fmt, m_packet), "writing a packet failed");
    }
}

// Quiet two-tone hum with a 5 ms click (a 2 kHz burst) at the start of every whole second.
void Writer::writeAudioUntil(int64_t sampleEnd, bool last) {
    AVFrame* f = m_audioFrame;
    const int rate = m_o.audioRate, channels = m_o.audioChannels;
    const int64_t clickSamples = std::llround(rate * kClickSeconds);
    const int frameSize =
        m_audio.codec->frame_size > 0 ? m_audio.codec->frame_size : kPcmFrameSamples;
    while (m_audioNext < sampleEnd) {
        // Only the last frame of the file may be short: the AAC encoder pads a short one.
        if (!last && sampleEnd - m_audioNext < frameSize) return;
        check(av_frame_make_writable(f), "audio frame");
        const int n = static_cast<int>(std::min<int64_t>(frameSize, sampleEnd - m_audioNext));
        f->nb_samples = n;
        for (int i = 0; i < n; ++i) {
            const int64_t s = m_audioNext + i;
            const double t = static_cast<double>(s) / rate;
            const bool click = s % rate < clickSamples;
            for (int ch = 0; ch < channels; ++ch) {
                double v = click ? 0.8 * std::sin(2 * kPi * 2000 * t + kPi / 2)
                                 : 0.03 * std::sin(2 * kPi * (220 + 110 * (ch % 2)) * t);
                if (f->format == AV_SAMPLE_FMT_FLTP)
                    reinterpret_cast<float*>(f->extended_data[ch])[i] = static_cast<float>(v);
                else
                    reinterpret_cast<int16_t*>(f->data[0])[i * channels + ch] =
                        static_cast<int16_t>(std::lround(v * 32767));
            }
        }
        f->pts = m_audioNext;
        m_audioNext += n;
        encode(m_audio, f);
    }
}

void Writer::writeText(const TextLine& line) {
    check(av_new_packet(m_packet, static_cast<int>(line.payload.size())), "out of memory");
    std::copy(line.payload.begin(), line.payload.end(), m_packet->data);
    m_packet->pts = m_packet->dts = line.key;
    m_packet->duration = 1;
    m_packet->stream_index = m_text->index;
    m_packet->flags |= AV_PKT_FLAG_KEY;
    check(av_interleaved_write_frame(m_fmt, m_packet), "writing a text packet failed");
    if (m_o.printTelemetry) {
        std::printf("%ld\t", line.key);
        std::fwrite(line.payload.data(), 1, line.payload.size(), stdout);
        std::putchar('\n');
    }
}

void Writer::run() {
    std::vector<TextLine> fileLines;
    if (m_o.telemetry && !m_o.telemetryFile.empty())
        fileLines = readTelemetryFile(m_o.telemetryFile);
    open();

    const int fps = m_o.fps;
    const int64_t frames = std::max<int64_t>(1, std::llround(std::ceil(m_o.duration * fps - 1e-6)));
    const int64_t samples = std::llround(m_o.duration * m_o.audioRate);
    const int64_t tenths = std::max<int64_t>(1, std::llround(std::ceil(m_o.duration * 10 - 1e-6)));
    DriveSimulator drive(m_o.seed, m_o.deviceCode, m_o.mph);
    int64_t nextTenth = 0;
    size_t nextFileLine = 0;

    for (int64_t i = 0; i < frames; ++i) {
        if (m_frontFrame) {
            for (AVFrame* f : {m_frontFrame, m_rearFrame}) {
                if (!f) continue;
                check(av_frame_make_writable(f), "picture buffer");
                const YuvPicture pic{{f->data[0], f->data[1], f->data[2]},
                                     {f->linesize[0], f->linesize[1], f->linesize[2]},
                                     f->width,
                                     f->height};
                const bool front = f == m_frontFrame;
                drawPicture(pic, front ? Camera::Front : Camera::Rear, static_cast<int>(i), fps,
                            m_o.detail);
                f->pts = i;
                encode(front ? m_front : m_rear, f);
            }
        }
        // Sound and text up to the end of this picture, so the file stays interleaved.
        if (m_audio.codec) writeAudioUntil(std::min(samples, (i + 1) * m_o.audioRate / fps));
        if (m_text) {
            if (m_o.telemetryFile.empty()) {
                for (; nextTenth < tenths && nextTenth * fps < (i + 1) * 10; ++nextTenth)
                    writeText({static_cast<long>(nextTenth), drive.nextLine()});
            } else {
                for (; nextFileLine < fileLines.size() &&
                       fileLines[nextFileLine].key * fps < (i + 1) * 10;
                     ++nextFileLine)
                    writeText(fileLines[nextFileLine]);
            }
        }
    }
    if (m_audio.codec) writeAudioUntil(samples, true);
    for (; m_text && nextFileLine < fileLines.size(); ++nextFileLine)
        writeText(fileLines[nextFileLine]); // keys past the pictures' end
    for (Output* o : {&m_front, &m_rear, &m_audio})
        if (o->codec) encode(*o, nullptr);
    check(av_write_trailer(m_fmt), "cannot finish the file");
    check(avio_closep(&m_fmt->pb), "cannot close the file");
    std::fflush(stdout);
}

} // namespace

int writeRecording(const Options& options, std::string& error) {
    try {
        Writer writer(options);
        writer.run();
        return 0;
    } catch (const std::exception& e) {
        error = e.what();
    }
    std::remove(options.out.c_str());
    return -1;
}

} // namespace velk
