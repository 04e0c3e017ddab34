#include "CardTracker.h"

#include "EventLog.h"
#include "MountWatcher.h"

#include <QFile>

namespace velk {

namespace {

QString Printable(const QString& root) {
    return EscapedText(QFile::encodeName(root).toStdString());
}

} // namespace

CardTracker::CardTracker(LabelSources sources, QObject* parent)
    : QObject(parent), m_sources(std::move(sources)) {}

bool CardTracker::checkVolume(const MountEntry& entry) {
    const VolumeLabel label = ReadVolumeLabel(entry, m_sources);
    if (label.source == LabelSource::None) {
        LogEvent(QStringLiteral("cardskip %1 no label").arg(Printable(entry.mountRoot)));
        return false;
    }
    if (!IsCardLabel(label.text)) {
        LogEvent(QStringLiteral("cardskip %1 label %2 from %3")
                     .arg(Printable(entry.mountRoot), Printable(label.text),
                          QLatin1String(LabelSourceName(label.source))));
        return false;
    }
    m_cardRoot = entry.mountRoot;
    m_cardPresent = true;
    LogEvent(QStringLiteral("card %1").arg(Printable(m_cardRoot)));
    return true;
}

bool CardTracker::ScanDrives() {
    bool ok = false;
    const QList<MountEntry> table = ReadMountTable(&ok);
    if (!ok) LogEvent(QStringLiteral("cardskip /proc/self/mountinfo unreadable"));
    for (qsizetype i = 0; i < table.size(); ++i) {
        // A volume with another mount on top of it does not show its files at its root.
        if (!IsVolumeMount(table[i]) || !IsVisibleMount(table, i)) continue;
        if (checkVolume(table[i])) {
            emit cardArrived(m_cardRoot);
            return true;
        }
    }
    LogEvent(QStringLiteral("nocard"));
    return false;
}

bool CardTracker::CheckCardVolume(const QString& root) {
    const QList<MountEntry> table = ReadMountTable();
    for (qsizetype i = table.size() - 1; i >= 0; --i) {
        if (table[i].mountRoot != root) continue;
        if (IsVolumeMount(table[i])) return checkVolume(table[i]);
        break;
    }
    // Gone again before its arrival was handled, or not a volume of a block device.
    LogEvent(QStringLiteral("cardskip %1 not a mounted volume").arg(Printable(root)));
    return false;
}

CardChange CardTracker::OnDeviceChange(std::uintptr_t eventCode, const QString& root) {
    const bool arrival = eventCode == kEventDriveAdded || eventCode == kEventMediaInserted;
    const bool removal = eventCode == kEventDriveRemoved || eventCode == kEventMediaRemoved;
    if (root.isEmpty() || (!arrival && !removal)) return CardChange::None;
    if (arrival) {
        if (m_cardPresent) {
            LogEvent(QStringLiteral("cardskip %1 card present at %2")
                         .arg(Printable(root), Printable(m_cardRoot)));
            return CardChange::None;
        }
        if (!CheckCardVolume(root)) return CardChange::None;
        emit cardArrived(m_cardRoot);
        return CardChange::Arrived;
    }
    if (!m_cardPresent || root != m_cardRoot) return CardChange::None;
    const QString removed = m_cardRoot;
    m_cardRoot.clear();
    m_cardPresent = false;
    LogEvent(QStringLiteral("nocard"));
    emit cardRemoved(removed);
    return CardChange::Removed;
}

CardChange CardTracker::OnDeviceChange(const WindowMessage& message) {
    if (message.id != MsgDriveChange || !message.text) return CardChange::None;
    return OnDeviceChange(message.wParam,
                          QFile::decodeName(QByteArray::fromStdString(*message.text)));
}

} // namespace velk
