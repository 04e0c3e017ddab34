// make-recording: writes a VELK dashcam recording for tests and the demo card. See --help.

#include "Options.h"
#include "RecordingWriter.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdio>

int main(int argc, char** argv) {
    velk::Options options;
    const int parsed = velk::parseOptions(argc, argv, options);
    if (parsed != 0) return parsed > 0 ? 0 : 2;
    av_log_set_level(AV_LOG_ERROR);
    std::string error;
    if (velk::writeRecording(options, error) != 0) {
        std::fprintf(stderr, "make-recording: %s: %s\n", options.out.c_str(), error.c_str());
        return 1;
    }
    return 0;
}
