#include "DamagedFiles.h"

#include "EngineTestSupport.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

namespace velk::test {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kBase = {"--duration", "2",      "--front",
                                        "320x180",    "--rear", "160x90"};

fs::path Scratch() {
    const fs::path dir = fs::path(VELK_BINARY_DIR) / "test-recordings" / "damaged";
    fs::create_directories(dir);
    return dir;
}

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Written under a private name and renamed: tests of other cases may run in parallel.
std::string Write(const std::string& name, const Bytes& bytes) {
    const fs::path path = Scratch() / name;
    const fs::path partial = path.string() + ".part" + std::to_string(getpid());
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    fs::rename(partial, path);
    return path.string();
}

std::uint32_t Get32(const Bytes& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}

// Offset of the top-level box of this type (walking the file's box sizes), or npos.
std::size_t TopLevelBox(const Bytes& b, const char* type) {
    for (std::size_t at = 0; at + 8 <= b.size();) {
        if (b.compare(at + 4, 4, type) == 0) return at;
        const std::uint32_t size = Get32(b, at);
        if (size < 8) break;
        at += size;
    }
    return Bytes::npos;
}

// Offset of the next box of this type inside the movie header at or after from (a byte search
// confined to the header, where the four-letter names are unique enough), or npos.
std::size_t Find(const Bytes& b, const char* type, std::size_t from = 0) {
    const std::size_t movie = TopLevelBox(b, "moov");
    if (movie == Bytes::npos) return movie;
    const std::size_t end = movie + Get32(b, movie);
    const auto at = b.find(type, std::max(from, movie + 8));
    return at == Bytes::npos || at >= end ? Bytes::npos : at - 4; // box = 32-bit size, name
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<char>(v >> (24 - 8 * i));
}

// The movie and every track claim a duration of about 47 days; the data still lasts 2 s.
Bytes ClaimHugeDuration(Bytes b) {
    const auto patch = [&](std::size_t box) {
        const bool wide = b[box + 8] == 1; // version 1 uses 64-bit times
        const std::size_t duration = box + 12 + (wide ? 16 : 8) + 4;
        if (wide) {
            Put32(b, duration, 0);
            Put32(b, duration + 4, 0xF0000000u);
        } else {
            Put32(b, duration, 0xF0000000u);
        }
    };
    const std::size_t movie = Find(b, "mvhd");
    EXPECT_NE(movie, Bytes::npos);
    if (movie != Bytes::npos) patch(movie);
    for (std::size_t at = Find(b, "mdhd"); at != Bytes::npos; at = Find(b, "mdhd", at + 8))
        patch(at);
    return b;
}

// The text track's sample sizes (its stsz table) say 0 bytes for its first few samples.
Bytes EmptyTextSamples(Bytes b) {
    std::size_t textTrack = Bytes::npos;
    for (std::size_t at = Find(b, "trak"); at != Bytes::npos; at = Find(b, "trak", at + 8)) {
        const std::size_t end = at + Get32(b, at);
        const std::size_t handler = Find(b, "hdlr", at);
        if (handler != Bytes::npos && handler < end &&
            (b.compare(handler + 16, 4, "sbtl") == 0 || b.compare(handler + 16, 4, "text") == 0))
            textTrack = at;
    }
    EXPECT_NE(textTrack, Bytes::npos) << "no text track";
    if (textTrack == Bytes::npos) return b;
    const std::size_t sizes = Find(b, "stsz", textTrack);
    const std::uint32_t count = Get32(b, sizes + 16);
    EXPECT_EQ(Get32(b, sizes + 12), 0u) << "the text samples have a table of sizes";
    for (std::uint32_t i = 0; i < std::min<std::uint32_t>(count, 5); ++i)
        Put32(b, sizes + 20 + 4 * i, 0);
    return b;
}

Bytes Garbage(Bytes b, double where, std::size_t length, unsigned seed) {
    std::mt19937 random(seed);
    const auto start = static_cast<std::size_t>(static_cast<double>(b.size()) * where);
    for (std::size_t i = start; i < std::min(b.size(), start + length); ++i)
        b[i] = static_cast<char>(random());
    return b;
}

Bytes Cut(const Bytes& b, double where) {
    return b.substr(0, static_cast<std::size_t>(static_cast<double>(b.size()) * where));
}

// A copy of the base recording with the movie header first (as cameras that pre-allocate it
// write), so that a cut in the middle still leaves a playable front part.
std::string FastStartCopy(const std::string& from) {
    const fs::path path = Scratch() / "faststart.mp4";
    if (fs::exists(path)) return path.string();
    const fs::path partial = Scratch() / ("faststart.part" + std::to_string(getpid()) + ".mp4");
    AVFormatContext* in = nullptr;
    AVFormatContext* out = nullptr;
    AVPacket* packet = av_packet_alloc();
    bool ok = avformat_open_input(&in, from.c_str(), nullptr, nullptr) == 0 &&
              avformat_find_stream_info(in, nullptr) >= 0 &&
              avformat_alloc_output_context2(&out, nullptr, "mp4", partial.c_str()) >= 0;
    for (unsigned i = 0; ok && i < in->nb_streams; ++i) {
        AVStream* s = avformat_new_stream(out, nullptr);
        ok = s && avcodec_parameters_copy(s->codecpar, in->streams[i]->codecpar) >= 0;
        if (ok) {
            s->codecpar->codec_tag = 0;
            s->time_base = in->streams[i]->time_base;
        }
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    ok = ok && avio_open(&out->pb, partial.c_str(), AVIO_FLAG_WRITE) >= 0 &&
         avformat_write_header(out, &options) >= 0;
    av_dict_free(&options);
    while (ok && av_read_frame(in, packet) >= 0) {
        av_packet_rescale_ts(packet, in->streams[packet->stream_index]->time_base,
                             out->streams[packet->stream_index]->time_base);
        ok = av_interleaved_write_frame(out, packet) >= 0;
        av_packet_unref(packet);
    }
    ok = ok && av_write_trailer(out) >= 0;
    if (out) avio_closep(&out->pb);
    avformat_free_context(out);
    avformat_close_input(&in);
    av_packet_free(&packet);
    EXPECT_TRUE(ok) << "remux of " << from;
    fs::rename(partial, path);
    return path.string();
}

Damage CutAt(double where) {
    return [where](const Bytes& b) { return Cut(b, where); };
}
Damage KeepFirst(std::size_t bytes) {
    return [bytes](const Bytes& b) { return b.substr(0, bytes); };
}
Damage GarbageAt(double where, unsigned seed) {
    return [where, seed](const Bytes& b) { return Garbage(b, where, 8192, seed); };
}

} // namespace

std::string MadeFile(const Case& c) {
    if (c.make) return c.make();
    std::string source;
    switch (c.source) {
    case Source::Mp4:
        source = Recording(kBase);
        break;
    case Source::FastStartMp4:
        source = FastStartCopy(Recording(kBase));
        break;
    case Source::Avi:
        source = Recording(kBase, "avi");
        break;
    }
    if (!c.damage) return source;
    return Write(std::string(c.name) + fs::path(source).extension().string(),
                 c.damage(ReadAll(source)));
}

const std::vector<Case>& DamagedCases() {
    static const std::vector<Case> cases = {
        // Not recordings at all.
        {.name = "ZeroLength", .allowed = OpenFailed, .make = [] { return Write("zero.mp4", ""); }},
        {.name = "Missing",
         .allowed = OpenFailed,
         .make = [] { return (Scratch() / "no-such-file.mp4").string(); }},
        {.name = "Directory",
         .allowed = OpenFailed,
         .make =
             [] {
                 fs::create_directories(Scratch() / "folder.mp4");
                 return (Scratch() / "folder.mp4").string();
             }},
        {.name = "PlainText",
         .allowed = OpenFailed,
         .make = [] { return Write("text.mp4", "not a recording\n" + std::string(5000, 'x')); }},
        // The movie header is written last: a cut anywhere before it cannot be opened.
        {"HeaderOnly", Source::Mp4, KeepFirst(40), OpenFailed},
        {"Cut1", Source::Mp4, CutAt(0.01), OpenFailed},
        {"Cut50", Source::Mp4, CutAt(0.5), OpenFailed},
        {"Cut99", Source::Mp4, CutAt(0.99), OpenFailed},
        // The tail of the header holds the text track's tables: either end is fair.
        {"GarbageInMovieHeader", Source::Mp4, GarbageAt(0.995, 7), Played | OpenFailed},
        {"GarbageInPictures", Source::Mp4, GarbageAt(0.4, 1), Played},
        // Movie header first: the part before a cut still plays. A header without data, or a
        // tenth of the file, may end before any picture was due.
        {"FastStartHeaderOnly", Source::FastStartMp4,
         [](const Bytes& b) { return b.substr(0, TopLevelBox(b, "mdat") + 8); }, Played, false,
         false},
        {"FastStartCut10", Source::FastStartMp4, CutAt(0.1), Played, false, false},
        {"FastStartCut50", Source::FastStartMp4, CutAt(0.5), Played},
        {"FastStartCut90", Source::FastStartMp4, CutAt(0.9), Played},
        {"FastStartCut50SeekPastTheData", Source::FastStartMp4, CutAt(0.5), Played, true},
        {"FastStartGarbage20", Source::FastStartMp4, GarbageAt(0.2, 2), Played},
        {"FastStartGarbage80", Source::FastStartMp4, GarbageAt(0.8, 3), Played},
        // Headers that lie, text packets that are empty or extreme.
        {"HugeClaimedDuration", Source::Mp4, ClaimHugeDuration, Played},
        {"HugeClaimedDurationSeekHalfway", Source::Mp4, ClaimHugeDuration, Played, true},
        {"ZeroByteTextPackets", Source::Mp4, EmptyTextSamples, Played},
        {.name = "TelemetryLineOf100000Bytes",
         .allowed = Played,
         .make =
             [] {
                 const auto file = Write(
                     "long-line.txt", "0\tstart\n3\t" + std::string(100000, 'L') + "\n6\tafter\n");
                 auto options = kBase;
                 options.insert(options.end(), {"--telemetry-file", file});
                 return Recording(options);
             }},
        // AVI has no movie header to lose: a cut file plays up to the cut.
        {"AviWhole", Source::Avi, {}, Played},
        {"AviTruncated", Source::Avi, CutAt(0.5), Played},
        {"AviHeaderOnly", Source::Avi, KeepFirst(2048), OpenFailed},
    };
    return cases;
}

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

std::string OutcomeName(unsigned o) {
    std::string s;
    if (o & Played) s += "played (MsgEndOfPlayback) ";
    if (o & OpenFailed) s += "open failed (MsgOpenFailed) ";
    if (o & Quit) s += "quit ";
    return s.empty() ? "none" : s;
}

} // namespace velk::test
