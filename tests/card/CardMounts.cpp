#include "CardMounts.h"

#include "MountTable.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace velk::test {

namespace {
bool g_allowed = false;
QString g_why = QStringLiteral("the test's main did not set up a mount namespace");
} // namespace

bool MountsAllowed(QString* why) {
    if (why) *why = g_why;
    return g_allowed;
}

void EnterPrivateMountNamespace() {
    // Before any thread exists: a mount namespace is the whole process's only then.
    if (::unshare(CLONE_NEWNS) != 0) {
        g_why = QStringLiteral("no mount namespace of our own (unshare: %1); mounting needs root")
                    .arg(QString::fromLocal8Bit(strerror(errno)));
        return;
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        g_why = QStringLiteral("mounts cannot be made private: %1")
                    .arg(QString::fromLocal8Bit(strerror(errno)));
        return;
    }
    // Loop volumes another process had mounted when we started were copied into our table;
    // detaching our copies leaves theirs alone and keeps their cards out of our scans.
    for (const MountEntry& entry : VolumeMounts(ReadMountTable())) {
        if (entry.source.startsWith(QLatin1String("/dev/loop")))
            ::umount2(QFile::encodeName(entry.mountRoot).constData(), MNT_DETACH);
    }
    g_allowed = true;
}

Volumes::Volumes() : m_dir(QDir::tempPath() + QStringLiteral("/velk-card-XXXXXX")) {}

Volumes::~Volumes() {
    abortUnanswered();
    for (auto it = m_mounted.rbegin(); it != m_mounted.rend(); ++it)
        ::umount2(QFile::encodeName(*it).constData(), MNT_DETACH);
    for (const QString& loop : m_loops)
        run(QStringLiteral("losetup"), {QStringLiteral("-d"), loop});
}

bool Volumes::LoopMountsWork(QString* why) {
    static std::optional<QString> failure;
    if (!failure) {
        QString reason;
        if (MountsAllowed(&reason)) {
            Volumes probe;
            if (probe.mountCard(QStringLiteral("PROBE"), QStringLiteral("probe")).isEmpty())
                reason = QStringLiteral("loop mounts are not allowed here: ") + probe.lastError();
            else
                reason.clear();
        }
        failure = reason;
    }
    if (why) *why = *failure;
    return failure->isEmpty();
}

QString Volumes::absolute(const QString& folder) const {
    return QDir::isAbsolutePath(folder) ? folder : m_dir.filePath(folder);
}

bool Volumes::run(const QString& program, const QStringList& args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    const bool ok = process.waitForFinished(30000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!ok) {
        m_error = program + QLatin1Char(' ') + args.join(QLatin1Char(' ')) + QStringLiteral(": ") +
                  QString::fromLocal8Bit(process.readAll()).trimmed() + process.errorString();
    }
    return ok;
}

QString Volumes::makeImage(const std::optional<QString>& label) {
    static int counter = 0;
    const QString image = m_dir.filePath(QStringLiteral("image%1.ext4").arg(++counter));
    QStringList args{QStringLiteral("-q"), QStringLiteral("-F")};
    if (label) args << QStringLiteral("-L") << *label;
    args << image << QStringLiteral("16M");
    return run(QStringLiteral("mkfs.ext4"), args) ? image : QString();
}

QString Volumes::mountImage(const QString& image, const QString& folder, const QString& options) {
    const QString path = absolute(folder);
    if (!QDir().mkpath(path)) {
        m_error = QStringLiteral("cannot make ") + path;
        return {};
    }
    QString all = QStringLiteral("loop");
    if (!options.isEmpty()) all += QLatin1Char(',') + options;
    if (!run(QStringLiteral("mount"), {QStringLiteral("-o"), all, image, path})) return {};
    m_mounted.push_back(path + QLatin1Char('/'));
    return m_mounted.back();
}

QString Volumes::mountTmpfs(const QString& folder) {
    const QString path = absolute(folder);
    if (!QDir().mkpath(path) ||
        !run(QStringLiteral("mount"),
             {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("velk-test"), path}))
        return {};
    m_mounted.push_back(path + QLatin1Char('/'));
    return m_mounted.back();
}

QString Volumes::bindMount(const QString& source, const QString& folder) {
    const QString path = absolute(folder);
    if (!QDir().mkpath(path) ||
        !run(QStringLiteral("mount"), {QStringLiteral("--bind"), source, path}))
        return {};
    m_mounted.push_back(path + QLatin1Char('/'));
    return m_mounted.back();
}

QString Volumes::mountUnanswered(const QString& folder, const QString& device) {
    const QString path = absolute(folder);
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0 || !QDir().mkpath(path)) {
        m_error = QStringLiteral("no FUSE here: ") + QString::fromLocal8Bit(strerror(errno));
        if (fd >= 0) ::close(fd);
        return {};
    }
    const QByteArray options =
        "fd=" + QByteArray::number(fd) + ",rootmode=40000,user_id=0,group_id=0";
    const QByteArray source = device.isEmpty() ? "velk-unanswered" : QFile::encodeName(device);
    if (::mount(source.constData(), QFile::encodeName(path).constData(),
                device.isEmpty() ? "fuse" : "fuseblk", MS_NOSUID | MS_NODEV,
                options.constData()) != 0) {
        m_error = QStringLiteral("FUSE mount failed: ") + QString::fromLocal8Bit(strerror(errno));
        ::close(fd);
        return {};
    }
    m_fuseFds.push_back(fd);
    m_mounted.push_back(path + QLatin1Char('/'));
    return m_mounted.back();
}

void Volumes::abortUnanswered() {
    // Closing the last descriptor of a FUSE connection aborts it.
    for (const int fd : m_fuseFds)
        ::close(fd);
    m_fuseFds.clear();
}

QString Volumes::attachLoop(const QString& image) {
    QProcess process;
    process.start(QStringLiteral("losetup"),
                  {QStringLiteral("-f"), QStringLiteral("--show"), image});
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        m_error =
            QStringLiteral("losetup: ") + QString::fromLocal8Bit(process.readAllStandardError());
        return {};
    }
    m_loops.push_back(QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed());
    return m_loops.back();
}

QString Volumes::mountCard(const std::optional<QString>& label, const QString& folder) {
    const QString image = makeImage(label);
    return image.isEmpty() ? QString() : mountImage(image, folder);
}

bool Volumes::unmount(const QString& root) {
    // The loop device of a `mount -o loop` is set to clear itself when unmounted.
    if (!run(QStringLiteral("umount"), {root})) return false;
    std::erase(m_mounted, root);
    return true;
}

QString Volumes::loopDeviceOf(const QString& root) const {
    const QList<MountEntry> table = ReadMountTable();
    for (auto it = table.crbegin(); it != table.crend(); ++it)
        if (it->mountRoot == root) return it->source;
    return {};
}

} // namespace velk::test
