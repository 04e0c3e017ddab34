#include "Options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velk {
namespace {

const char kUsage[] =
    "Usage: make-recording --out FILE [options]\n"
    "Writes a recording the way the VELK dashcam does: front video, rear video, audio and, in\n"
    ".mp4, the telemetry text track (stream 3, time base 1/10 s, one line per tenth).\n"
    "Every picture shows its frame number and time, and the frame code strip of FrameCode.h;\n"
    "at every whole second both pictures flash white and the sound clicks (5 ms).\n"
    "\n"
    "  --out FILE             output, .mp4 (front, rear, AAC audio, text) or .avi (front,\n"
    "                         rear, PCM s16le audio; AVI cannot carry the text track)\n"
    "  --duration SECONDS     length, fractions allowed (default 10)\n"
    "  --fps N                pictures per second (default 30)\n"
    "  --gop SECONDS          key frame interval (default 1)\n"
    "  --front WxH            front picture size (default 1920x1080)\n"
    "  --rear WxH             rear picture size (default 1280x720)\n"
    "  --no-front             no video stream at all: audio (and text) only\n"
    "  --no-rear              no rear video stream\n"
    "  --no-audio             no audio stream\n"
    "  --no-telemetry         no text stream\n"
    "  --audio-rate HZ        audio sample rate (default 48000)\n"
    "  --audio-channels N     audio channels (default 2)\n"
    "  --front-bitrate KBPS   front peak bit rate (default 12000 at 1920x1080, scaled by area)\n"
    "  --rear-bitrate KBPS    rear peak bit rate (default 6000 at 1280x720, scaled by area)\n"
    "  --device t|rs          device model in the telemetry: VELK-T (code 144) or VELK-RS (85)\n"
    "  --unit kmh|mph         speed unit in the telemetry (default kmh)\n"
    "  --seed N               seed of the simulated drive (default 1)\n"
    "  --preset NAME          libx264 preset (default ultrafast)\n"
    "  --detail               camera-like detail (a panning textured scene with grain) that\n"
    "                         costs what a real road scene does; the bit rates become targets\n"
    "  --telemetry-file FILE  text packets from FILE instead of the simulated drive: each line\n"
    "                         \"KEY<TAB>TEXT\" becomes one packet with pts KEY (tenths) and\n"
    "                         payload TEXT exactly as given, unpadded, in file order\n"
    "  --print-telemetry      print \"KEY<TAB>PAYLOAD\" for every text packet written, to stdout\n"
    "  --help                 this text\n"
    "Streams appear in the order front, rear, audio, text; left-out streams are skipped.\n";

bool bad(const char* option, const char* value, const char* why) {
    std::fprintf(stderr, "make-recording: bad value \"%s\" for %s: %s\n", value, option, why);
    return false;
}

bool parseInt(const char* option, const char* text, long min, long max, long& out) {
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno || end == text || *end) return bad(option, text, "not a whole number");
    if (v < min || v > max) {
        char why[96];
        std::snprintf(why, sizeof why, "must be from %ld to %ld", min, max);
        return bad(option, text, why);
    }
    out = v;
    return true;
}

bool parseSeconds(const char* option, const char* text, double max, double& out) {
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (errno || end == text || *end || !std::isfinite(v)) return bad(option, text, "not a number");
    if (v <= 0 || v > max) return bad(option, text, "out of range");
    out = v;
    return true;
}

bool parseSize(const char* option, const char* text, int& w, int& h) {
    int n = 0;
    if (std::sscanf(text, "%dx%d%n", &w, &h, &n) != 2 || text[n])
        return bad(option, text, "expected WIDTHxHEIGHT, e.g. 640x360");
    if (w < 40 || h < 24 || w > 8192 || h > 8192 || w % 2 || h % 2)
        return bad(option, text, "width and height must be even, 40x24 to 8192x8192");
    return true;
}

bool endsWith(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

} // namespace

int parseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        auto is = [&](const char* name) { return std::strcmp(arg, name) == 0; };
        if (is("--help") || is("-h")) {
            std::fputs(kUsage, stdout);
            return 1;
        }
        if (is("--no-front")) {
            o.front = false;
            continue;
        }
        if (is("--no-rear")) {
            o.rear = false;
            continue;
        }
        if (is("--no-audio")) {
            o.audio = false;
            continue;
        }
        if (is("--no-telemetry")) {
            o.telemetry = false;
            continue;
        }
        if (is("--print-telemetry")) {
            o.printTelemetry = true;
            continue;
        }
        if (is("--detail")) {
            o.detail = true;
            continue;
        }

        static const char* const kWithValue[] = {
            "--out",           "--duration",     "--fps",           "--gop",
            "--front",         "--rear",         "--audio-rate",    "--audio-channels",
            "--front-bitrate", "--rear-bitrate", "--device",        "--unit",
            "--seed",          "--preset",       "--telemetry-file"};
        bool known = false;
        for (const char* name : kWithValue)
            known = known || is(name);
        if (!known) {
            std::fprintf(stderr, "make-recording: unknown option \"%s\" (see --help)\n", arg);
            return -1;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "make-recording: %s needs a value (see --help)\n", arg);
            return -1;
        }
        const char* v = argv[++i];
        long n = 0;
        bool ok = true;
        if (is("--out")) {
            o.out = v;
        } else if (is("--duration")) {
            ok = parseSeconds(arg, v, 36000, o.duration);
        } else if (is("--fps")) {
            ok = parseInt(arg, v, 1, 240, n);
            o.fps = static_cast<int>(n);
        } else if (is("--gop")) {
            ok = parseSeconds(arg, v, 3600, o.gop);
        } else if (is("--front")) {
            ok = parseSize(arg, v, o.frontWidth, o.frontHeight);
        } else if (is("--rear")) {
            ok = parseSize(arg, v, o.rearWidth, o.rearHeight);
        } else if (is("--audio-rate")) {
            ok = parseInt(arg, v, 8000, 192000, n);
            o.audioRate = static_cast<int>(n);
        } else if (is("--audio-channels")) {
            ok = parseInt(arg, v, 1, 8, n);
            o.audioChannels = static_cast<int>(n);
        } else if (is("--front-bitrate")) {
            ok = parseInt(arg, v, 50, 200000, n);
            o.frontKbps = static_cast<int>(n);
        } else if (is("--rear-bitrate")) {
            ok = parseInt(arg, v, 50, 200000, n);
            o.rearKbps = static_cast<int>(n);
        } else if (is("--device")) {
            if (std::strcmp(v, "t") == 0)
                o.deviceCode = 144;
            else if (std::strcmp(v, "rs") == 0)
                o.deviceCode = 85;
            else
                ok = bad(arg, v, "expected t or rs");
        } else if (is("--unit")) {
            if (std::strcmp(v, "kmh") == 0)
                o.mph = false;
            else if (std::strcmp(v, "mph") == 0)
                o.mph = true;
            else
                ok = bad(arg, v, "expected kmh or mph");
        } else if (is("--seed")) {
            ok = parseInt(arg, v, 0, 0xFFFFFFFFl, n);
            o.seed = static_cast<uint32_t>(n);
        } else if (is("--preset")) {
            o.preset = v;
        } else if (is("--telemetry-file")) {
            o.telemetryFile = v;
        }
        if (!ok) return -1;
    }

    if (o.out.empty()) {
        std::fputs("make-recording: --out FILE is required (see --help)\n", stderr);
        return -1;
    }
    if (endsWith(o.out, ".avi")) {
        o.avi = true;
    } else if (!endsWith(o.out, ".mp4")) {
        std::fprintf(stderr, "make-recording: --out \"%s\" must end in .mp4 or .avi\n",
                     o.out.c_str());
        return -1;
    }
    if (!o.front) o.rear = false; // no video at all: the first video stream would become the front
    if (o.avi) {
        if (!o.telemetryFile.empty()) {
            std::fputs("make-recording: --telemetry-file needs an .mp4 output: AVI cannot carry "
                       "the text track\n",
                       stderr);
            return -1;
        }
        o.telemetry = false;
    }
    if (!o.front && !o.audio && !o.telemetry) {
        std::fputs("make-recording: nothing to write (no front, no audio, no telemetry)\n", stderr);
        return -1;
    }
    return 0;
}

} // namespace velk
