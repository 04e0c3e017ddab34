// velk-vehicle-bench: what the vehicle information panel costs the user-interface thread per
// telemetry record. Feeds the lines of a telemetry table ("KEY<TAB>LINE", as make-recording
// --print-telemetry writes it) to a shown panel as 1046 messages through the program's message
// channel, each followed by the repaint and the transfer to the X server, and prints a table:
// the records per second the panel can draw at 1x and at 4x beside the rate the playback needs,
// with two references measured in the same run.

#include "CVehicleInfoDlg.h"
#include "Engine.h"
#include "QtMessagePoster.h"
#include "Resources.h"

#include <QApplication>
#include <QFile>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Figure {
    double medianMicroseconds = 0;
    double p99Microseconds = 0;
    double perSecond = 0; // over the whole run, not from the median
};

Figure Summarise(std::vector<double> micros, double totalSeconds) {
    std::sort(micros.begin(), micros.end());
    Figure f;
    f.medianMicroseconds = micros[micros.size() / 2];
    f.p99Microseconds = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    f.perSecond = double(micros.size()) / totalSeconds;
    return f;
}

// Runs step `count` times; each step is timed on its own and the whole run as one.
template <typename Step> Figure Measure(int count, Step step) {
    std::vector<double> micros;
    micros.reserve(std::size_t(count));
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        const auto before = Clock::now();
        step(i);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - before).count());
    }
    return Summarise(std::move(micros),
                     std::chrono::duration<double>(Clock::now() - start).count());
}

void Deliver(CVehicleInfoDlg& panel, const std::string& line) {
    velk::WindowMessage message;
    message.id = velk::MsgVehicleTelemetry;
    message.text = std::make_unique<std::string>(line);
    message.lParam = reinterpret_cast<std::intptr_t>(message.text.get());
    velk::PostWindowMessage(velk::QtMessagePoster::HandleOf(&panel), std::move(message));
    // The message, then the repaint it asked for and the transfer to the X server.
    QCoreApplication::sendPostedEvents(&panel, velk::PostedMessageEvent::eventType());
    QCoreApplication::processEvents();
}

void PrintRow(const char* name, const Figure& f, const char* needed) {
    std::printf("%-58s %10.1f %10.1f %12.0f   %s\n", name, f.medianMicroseconds, f.p99Microseconds,
                f.perSecond, needed);
}

} // namespace

int main(int argc, char** argv) {
    const char* table = nullptr;
    int records = 6000;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--telemetry") && i + 1 < argc)
            table = argv[++i];
        else if (!std::strcmp(argv[i], "--records") && i + 1 < argc)
            records = std::max(100, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: velk-vehicle-bench --telemetry TABLE [--records N]\n");
            return 2;
        }
    }
    if (!table) {
        std::fprintf(stderr, "velk-vehicle-bench: --telemetry TABLE is required\n");
        return 2;
    }
    QApplication app(argc, argv);
    QFile file(QString::fromLocal8Bit(table));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "velk-vehicle-bench: cannot read %s\n", table);
        return 1;
    }
    std::vector<std::string> lines;
    while (!file.atEnd()) {
        const QByteArray row = file.readLine().trimmed();
        const qsizetype tab = row.indexOf('\t');
        if (tab > 0) lines.push_back(row.mid(tab + 1).toStdString());
    }
    if (lines.empty()) {
        std::fprintf(stderr, "velk-vehicle-bench: no lines in %s\n", table);
        return 1;
    }

    velk::QtMessagePoster poster;
    velk::SetMessagePoster(&poster);
    CVehicleInfoDlg panel(nullptr);
    panel.Initialise();
    panel.ResetGraph();
    panel.show();
    for (int i = 0; i < 200; ++i) // past the first twelve samples, the graph is full
        Deliver(panel, lines[std::size_t(i) % lines.size()]);

    const auto line = [&](int i) -> const std::string& {
        return lines[std::size_t(i) % lines.size()];
    };
    velk::speedFactor = 1;
    const Figure at1 = Measure(records, [&](int i) { Deliver(panel, line(i)); });
    velk::speedFactor = 4;
    const Figure at4 = Measure(records, [&](int i) { Deliver(panel, line(i)); });
    velk::speedFactor = 1;
    // References: the repaint and transfer alone, and decoding from PNG the 19 pictures one
    // record draws, which the panel does once at start instead of for every record.
    const Figure repaint = Measure(records, [&](int) {
        panel.update();
        QCoreApplication::processEvents();
    });
    const int pictures[] = {171, 267, 180, 184, 187, 176, 190, 192, 198, 195,
                            191, 173, 175, 178, 253, 258, 248, 170, 179};
    const Figure decode = Measure(std::max(100, records / 20), [&](int) {
        for (const int number : pictures)
            (void)velk::resourceImage(number);
    });
    velk::SetMessagePoster(nullptr);

    std::printf("VELK vehicle information panel benchmark (%zu telemetry lines from %s, "
                "%d records per row, QT_QPA_PLATFORM=%s)\n",
                lines.size(), table, records, qPrintable(QGuiApplication::platformName()));
    std::printf("%-58s %10s %10s %12s   %s\n", "per record", "median us", "p99 us", "records/s",
                "needed");
    PrintRow("1x: message, state area, graph, repaint, transfer", at1, "10/s (one per tenth)");
    PrintRow("4x: the same, every 4th record adds G samples", at4, "40/s (four per tenth)");
    PrintRow("reference: repaint and transfer of the panel alone", repaint, "-");
    PrintRow("reference: decoding a record's 19 pictures from PNG", decode, "-");
    return 0;
}
