#include "MountWatcher.h"

#include "EventLog.h"

#include <QFile>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace velk {

namespace {

constexpr const char* kMountInfo = "/proc/self/mountinfo";

// Mount ids are reused once a mount is gone, so the device and the root take part too.
bool SameMount(const MountEntry& a, const MountEntry& b) {
    return a.mountId == b.mountId && a.major == b.major && a.minor == b.minor &&
           a.mountRoot == b.mountRoot;
}

bool HasMount(const QList<MountEntry>& volumes, const MountEntry& entry) {
    return std::any_of(volumes.begin(), volumes.end(),
                       [&entry](const MountEntry& e) { return SameMount(e, entry); });
}

void PostChange(WindowHandle target, std::uintptr_t eventCode, const QString& root) {
    WindowMessage message;
    message.id = MsgDriveChange;
    message.wParam = eventCode;
    message.text = std::make_unique<std::string>(QFile::encodeName(root).toStdString());
    PostWindowMessage(target, std::move(message));
}

} // namespace

MountWatcher::MountWatcher(WindowHandle target, QObject* parent)
    : QObject(parent), m_target(target) {}

MountWatcher::~MountWatcher() {
    delete m_notifier; // before the descriptor it watches is closed
    if (m_fd >= 0) ::close(m_fd);
}

bool MountWatcher::start() {
    if (m_fd >= 0) return true;
    m_fd = ::open(kMountInfo, O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        LogEvent(QStringLiteral("mountwatch off %1: %2")
                     .arg(QLatin1String(kMountInfo), QString::fromLocal8Bit(strerror(errno))));
        return false;
    }
    // The change mark of this descriptor starts at the table as it is now; the baseline read
    // after opening can only be newer, and a change in between is signalled again.
    m_volumes = VolumeMounts(ReadMountTable());
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Exception);
    connect(m_notifier, &QSocketNotifier::activated, this, &MountWatcher::onTableChanged);
    return true;
}

void MountWatcher::onTableChanged() {
    bool ok = false;
    QList<MountEntry> now = VolumeMounts(ReadMountTable(&ok));
    if (!ok) return; // keep the last good table; the next change tries again
    // A root unmounted and mounted again between two looks is a new mount: both a removal
    // and an addition.
    for (const MountEntry& old : m_volumes)
        if (!HasMount(now, old)) PostChange(m_target, kEventDriveRemoved, old.mountRoot);
    for (const MountEntry& entry : now)
        if (!HasMount(m_volumes, entry)) PostChange(m_target, kEventDriveAdded, entry.mountRoot);
    m_volumes = std::move(now);
}

} // namespace velk
