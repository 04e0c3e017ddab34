// velk-map-bench: the side panel started offline (no web view: the reference) and online with
// the map page on a local tile server, in one process and one run. Prints the time to a drawn
// panel, to the web view, to the loaded page, to the first tile and to the first answered move,
// and the memory (proportional set size) of this process and of the web engine's processes.
// Runs on a private X server; needs QTWEBENGINE_DISABLE_SANDBOX=1 as root.

#include "CRearViewerDlg.h"
#include "PrivateDisplay.h"
#include "TileServer.h"

#include "AppGlobals.h"
#include "QtMessagePoster.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkInformation>
#include <QThread>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <cstdio>
#include <functional>
#include <memory>
#include <set>

#include <unistd.h>

namespace {

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::usleep(500);
    }
    return true;
}

// Kilobytes of one field of /proc/PID/smaps_rollup ("Pss:", "Rss:").
long rollup(long pid, const char* field) {
    QFile file(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(strlen(field))).trimmed().split(' ').front().toLong();
    }
    return 0;
}

// This process's descendants.
std::set<long> descendants(long root) {
    std::set<long> found{root};
    bool grew = true;
    while (grew) {
        grew = false;
        for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool number = false;
            const long pid = entry.toLong(&number);
            if (!number || found.count(pid)) continue;
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            if (!stat.open(QIODevice::ReadOnly)) continue;
            const QByteArray text = stat.readAll();
            const QList<QByteArray> rest = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (rest.size() > 1 && found.count(rest.at(1).toLong())) {
                found.insert(pid);
                grew = true;
            }
        }
    }
    found.erase(root);
    return found;
}

struct Memory {
    long ownPss = 0, childrenPss = 0, children = 0;
};

Memory memory() {
    Memory m;
    m.ownPss = rollup(getpid(), "Pss:");
    for (long child : descendants(getpid())) {
        // The private X server is a child too; only the web engine's processes count.
        QFile comm(QStringLiteral("/proc/%1/comm").arg(child));
        if (!comm.open(QIODevice::ReadOnly) || !comm.readAll().startsWith("QtWebEngine")) continue;
        m.childrenPss += rollup(child, "Pss:");
        ++m.children;
    }
    return m;
}

void settle(int ms) {
    waitUntil([] { return false; }, ms);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");
    velk::test::UsePrivateDisplay();
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    static velk::QtMessagePoster poster;
    velk::SetMessagePoster(&poster);
    velk::test::TileServer tiles;
    qputenv("VELK_MAP_TILES", tiles.tileTemplate().toUtf8());
    const QString pages = QStringLiteral(VELK_BINARY_DIR "/html");
    qunsetenv("VELK_NETWORK");
    QElapsedTimer check;
    check.start();
    const bool connected = CRearViewerDlg::NetworkConnected();
    const double checkMs = double(check.nsecsElapsed()) / 1e6;
    settle(300);
    const Memory start = memory();

    // Reference: the panel with no connection, which never starts the web engine.
    qputenv("VELK_NETWORK", "offline");
    QElapsedTimer clock;
    clock.start();
    auto offline = std::make_unique<CRearViewerDlg>(nullptr);
    offline->setPageFolder(pages);
    offline->show();
    offline->Initialise();
    QCoreApplication::processEvents();
    const double offlineShown = double(clock.nsecsElapsed()) / 1e6;
    settle(500);
    const Memory withoutMap = memory();
    offline.reset();

    qputenv("VELK_NETWORK", "online");
    double created = -1, loaded = -1, firstTile = -1, firstMove = -1;
    clock.restart();
    auto online = std::make_unique<CRearViewerDlg>(nullptr);
    online->setPageFolder(pages);
    QObject::connect(online.get(), &CRearViewerDlg::mapViewCreated,
                     [&] { created = double(clock.nsecsElapsed()) / 1e6; });
    QObject::connect(online.get(), &CRearViewerDlg::mapPageLoaded,
                     [&](bool) { loaded = double(clock.nsecsElapsed()) / 1e6; });
    online->show();
    online->Initialise();
    const double onlineShown = double(clock.nsecsElapsed()) / 1e6;
    waitUntil([&] { return loaded >= 0; }, 60000);
    waitUntil([&] { return tiles.tilesServed() > 0; }, 60000);
    firstTile = double(clock.nsecsElapsed()) / 1e6;
    bool answered = false;
    online->RunPageScript(QStringLiteral("MapMove(37.5665,126.978)"));
    online->webView()->page()->runJavaScript(QStringLiteral("MapState().moves"),
                                             [&](const QVariant&) { answered = true; });
    waitUntil([&] { return answered; }, 30000);
    firstMove = double(clock.nsecsElapsed()) / 1e6;

    // Later moves: a script and its answer, one after another.
    constexpr int kMoves = 40;
    QElapsedTimer moves;
    moves.start();
    for (int i = 0; i < kMoves; ++i) {
        answered = false;
        online->RunPageScript(
            QStringLiteral("MapMove(%1,126.978)").arg(37.5665 + i * 1e-4, 0, 'f', 6));
        online->webView()->page()->runJavaScript(QStringLiteral("1"),
                                                 [&](const QVariant&) { answered = true; });
        waitUntil([&] { return answered; }, 30000);
    }
    const double perMove = double(moves.nsecsElapsed()) / 1e6 / kMoves;
    settle(2000);
    const Memory withMap = memory();

    std::printf("figure                                   offline panel (reference)   map panel\n");
    std::printf("shown and initialised, ms                %10.1f                  %10.1f\n",
                offlineShown, onlineShown);
    std::printf("web view created, ms                     %10s                  %10.1f\n", "-",
                created);
    std::printf("page loaded, ms                          %10s                  %10.1f\n", "-",
                loaded);
    std::printf("first tile asked for, ms                 %10s                  %10.1f\n", "-",
                firstTile);
    std::printf("first move answered, ms                  %10s                  %10.1f\n", "-",
                firstMove);
    std::printf("later move answered, ms each             %10s                  %10.2f\n", "-",
                perMove);
    std::printf("own PSS, MiB (%.1f at start)             %10.1f                  %10.1f\n",
                start.ownPss / 1024.0, withoutMap.ownPss / 1024.0, withMap.ownPss / 1024.0);
    std::printf("web engine processes                     %10ld                  %10ld\n",
                withoutMap.children, withMap.children);
    std::printf("their PSS, MiB                           %10.1f                  %10.1f\n",
                withoutMap.childrenPss / 1024.0, withMap.childrenPss / 1024.0);
    std::printf("total PSS, MiB                           %10.1f                  %10.1f\n",
                (withoutMap.ownPss + withoutMap.childrenPss) / 1024.0,
                (withMap.ownPss + withMap.childrenPss) / 1024.0);
    std::printf(
        "connection check: %s in %.1f ms (backend %s)\n", connected ? "online" : "offline", checkMs,
        QNetworkInformation::instance() ? qPrintable(QNetworkInformation::instance()->backendName())
                                        : "none");
    online.reset();
    return loaded >= 0 ? 0 : 1;
}
