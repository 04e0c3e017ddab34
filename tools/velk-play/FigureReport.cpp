#include "FigureReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velk {

namespace {

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

// Nearest-rank quantile of sorted values; q in (0, 1].
double quantile(const std::vector<double>& sorted, double q) {
    const auto rank = static_cast<std::size_t>(std::ceil(q * double(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

void addDistribution(std::vector<std::string>& lines, const std::string& name,
                     const std::vector<double>& values) {
    lines.push_back("figure " + name + "Count " + std::to_string(values.size()));
    if (values.empty()) {
        for (const char* part : {"Median", "MedianAbs", "P95Abs", "Max", "Min"})
            lines.push_back("figure " + name + part + " none");
        return;
    }
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    std::vector<double> magnitudes;
    magnitudes.reserve(values.size());
    for (double v : values)
        magnitudes.push_back(std::fabs(v));
    std::sort(magnitudes.begin(), magnitudes.end());
    lines.push_back("figure " + name + "Median " + seconds(quantile(sorted, 0.5)));
    lines.push_back("figure " + name + "MedianAbs " + seconds(quantile(magnitudes, 0.5)));
    lines.push_back("figure " + name + "P95Abs " + seconds(quantile(magnitudes, 0.95)));
    lines.push_back("figure " + name + "Max " + seconds(sorted.back()));
    lines.push_back("figure " + name + "Min " + seconds(sorted.front()));
}

} // namespace

std::vector<std::string> FigureLines(const PlaybackFigures& f) {
    std::vector<std::string> lines;
    lines.push_back("figure picturesShown " + std::to_string(f.picturesShown));
    lines.push_back("figure rearPicturesShown " + std::to_string(f.rearPicturesShown));
    lines.push_back("figure droppedBeforeQueue " + std::to_string(f.droppedBeforeQueue));
    lines.push_back("figure droppedAtDisplay " + std::to_string(f.droppedAtDisplay));
    lines.push_back("figure firstPictureSeconds " + (f.firstPictureSeconds < 0
                                                         ? std::string("none")
                                                         : seconds(f.firstPictureSeconds)));
    // Video clock minus audio clock: positive means the picture runs ahead of the sound.
    addDistribution(lines, "videoMinusAudio", f.videoMinusAudio);
    addDistribution(lines, "seekToPicture", f.seekToPictureSeconds);
    addDistribution(lines, "frontMinusRear", f.frontMinusRear);
    lines.push_back("figure telemetryDelivered " + std::to_string(f.telemetryDelivered));
    return lines;
}

} // namespace velk
