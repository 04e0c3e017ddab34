#include "BackupTestSupport.h"

#include "EventLog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTest>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace velk::test {

QByteArray Pattern(qint64 length, int seed) {
    QByteArray bytes(length, Qt::Uninitialized);
    quint32 state = 2463534242u + quint32(seed) * 7919u;
    for (qint64 i = 0; i < length; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = char(state);
    }
    return bytes;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QByteArray();
    return file.readAll();
}

QStringList Entries(const QString& folder) {
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                               QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

TmpfsMount::TmpfsMount(const QString& folder, const QString& options, bool readOnly)
    : m_folder(QFile::encodeName(folder)) {
    const QByteArray data = options.toUtf8();
    const unsigned long flags = readOnly ? MS_RDONLY : 0;
    if (::mount("tmpfs", m_folder.constData(), "tmpfs", flags, data.constData()) == 0)
        m_mounted = true;
    else
        m_failure = std::string("mounting a tmpfs is not allowed here (") + std::strerror(errno) +
                    "); run the tests as root to cover it";
}

TmpfsMount::~TmpfsMount() {
    if (m_mounted) ::umount2(m_folder.constData(), MNT_DETACH);
}

EventLogCapture::EventLogCapture() {
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/backup-stderr-XXXXXX"));
    file.setAutoRemove(false);
    file.open();
    m_path = file.fileName();
    file.close();
    std::fflush(stderr);
    m_saved = ::dup(2);
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    ::dup2(fd, 2);
    ::close(fd);
    SetEventLogEnabled(true);
}

EventLogCapture::~EventLogCapture() {
    Lines();
    QFile::remove(m_path);
}

QStringList EventLogCapture::Lines() {
    if (!m_done) {
        m_done = true;
        SetEventLogEnabled(false);
        std::fflush(stderr);
        ::dup2(m_saved, 2);
        ::close(m_saved);
    }
    return QString::fromUtf8(ReadFile(m_path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QList<QMessageBox*> VisibleMessageBoxes() {
    QList<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) boxes << box;
    return boxes;
}

void ClickOk(QMessageBox* box) {
    QAbstractButton* ok = box->button(QMessageBox::Ok);
    QTest::mouseClick(ok, Qt::LeftButton, Qt::NoModifier, ok->rect().center());
    QTest::qWait(10);
}

} // namespace velk::test
