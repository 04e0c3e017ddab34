#include "SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <vector>

namespace velk {

namespace {

const char kName[] = "VELKViewer";
constexpr int kSendTimeoutMilliseconds = 2000;

QString usableFolder() {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    const QFileInfo info(runtime);
    if (!runtime.isEmpty() && info.isDir() && info.isWritable()) return runtime;
    return QDir::tempPath();
}

} // namespace

SingleInstance::SingleInstance() : m_folder(usableFolder()) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire() {
    m_lock = std::make_unique<QLockFile>(m_folder + QLatin1Char('/') + QLatin1String(kName));
    // Only a living process keeps the lock: one that died leaves a lock its pid no longer
    // owns, which tryLock takes over.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) return true;
    m_lock.reset();
    return false;
}

void SingleInstance::listen(std::function<void(const QString&)> onPath) {
    const QString name = m_folder + QLatin1Char('/') + QLatin1String(kName) + ".socket";
    // This copy holds the lock, so a socket file left there belongs to a copy that died.
    QLocalServer::removeServer(name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(name)) return;
    connect(m_server, &QLocalServer::newConnection, this, [this, onPath] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, socket, [socket, onPath] {
                while (socket->canReadLine()) {
                    const QString path = QString::fromUtf8(socket->readLine()).trimmed();
                    if (!path.isEmpty()) onPath(path);
                }
            });
        }
    });
}

bool SingleInstance::sendPath(const QString& path) const {
    QLocalSocket socket;
    socket.connectToServer(m_folder + QLatin1Char('/') + QLatin1String(kName) + ".socket");
    if (!socket.waitForConnected(kSendTimeoutMilliseconds)) return false;
    socket.write(path.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(kSendTimeoutMilliseconds)) return false;
    socket.disconnectFromServer();
    return true;
}

namespace {

QString windowTitle(Display* display, Window window) {
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &count,
                           &after, &data) == Success &&
        data) {
        const QString title = QString::fromUtf8(reinterpret_cast<char*>(data), int(count));
        XFree(data);
        return title;
    }
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name) {
        const QString title = QString::fromLocal8Bit(name);
        XFree(name);
        return title;
    }
    return {};
}

std::vector<Window> topLevelWindows(Display* display) {
    const Window root = DefaultRootWindow(display);
    const Atom clientList = XInternAtom(display, "_NET_CLIENT_LIST", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::vector<Window> windows;
    if (XGetWindowProperty(display, root, clientList, 0, 65536, False, XA_WINDOW, &type, &format,
                           &count, &after, &data) == Success &&
        data && format == 32) {
        const auto* ids = reinterpret_cast<const unsigned long*>(data);
        windows.assign(ids, ids + count);
    }
    if (data) XFree(data);
    if (!windows.empty()) return windows;
    // No window manager: the top-level windows are the root's children.
    Window rootReturn, parent;
    Window* children = nullptr;
    unsigned int n = 0;
    if (XQueryTree(display, root, &rootReturn, &parent, &children, &n) && children) {
        windows.assign(children, children + n);
        XFree(children);
    }
    return windows;
}

} // namespace

bool ActivateWindowTitled(const QString& title) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    Window found = 0;
    for (Window w : topLevelWindows(display)) {
        if (windowTitle(display, w) == title) {
            found = w;
            break;
        }
    }
    if (found) {
        // Restores a minimised window too: mapping an iconic window brings it back.
        XMapRaised(display, found);
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = found;
        event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = 1; // from an application
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, DefaultRootWindow(display), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &event);
        XFlush(display);
    }
    XCloseDisplay(display);
    return found != 0;
}

} // namespace velk
