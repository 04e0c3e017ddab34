#include "MountTable.h"

#include <QFile>

#include <blkid/blkid.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace velk {

namespace {

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

bool IsBlockNode(const QString& path) {
    struct stat st {};
    return path.startsWith(QLatin1String("/dev/")) &&
           ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISBLK(st.st_mode);
}

// "8:17" into its two numbers.
bool ParseDevice(const QByteArray& field, unsigned* major, unsigned* minor) {
    const qsizetype colon = field.indexOf(':');
    if (colon <= 0) return false;
    bool okMajor = false;
    bool okMinor = false;
    *major = field.left(colon).toUInt(&okMajor);
    *minor = field.mid(colon + 1).toUInt(&okMinor);
    return okMajor && okMinor;
}

} // namespace

QByteArray UnescapeMountField(const QByteArray& field) {
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && IsOctal(field[i + 1]) &&
            IsOctal(field[i + 2]) && IsOctal(field[i + 3])) {
            out += char(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                        (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

QList<MountEntry> ParseMountInfo(const QByteArray& text) {
    QList<MountEntry> table;
    for (const QByteArray& line : text.split('\n')) {
        // ID PARENT MAJOR:MINOR ROOT MOUNTPOINT OPTIONS [OPTIONAL...] - FSTYPE SOURCE SUPER
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-", 6);
        if (fields.size() < 6 || dash < 0 || dash + 2 >= fields.size()) continue;
        MountEntry entry;
        bool okId = false;
        entry.mountId = fields[0].toInt(&okId);
        if (!okId || !ParseDevice(fields[2], &entry.major, &entry.minor)) continue;
        entry.fsRoot = UnescapeMountField(fields[3]);
        entry.mountRoot = QFile::decodeName(UnescapeMountField(fields[4]));
        if (!entry.mountRoot.endsWith(QLatin1Char('/'))) entry.mountRoot += QLatin1Char('/');
        entry.fsType = fields[dash + 1];
        entry.source = QFile::decodeName(UnescapeMountField(fields[dash + 2]));
        table.append(std::move(entry));
    }
    return table;
}

QString BlockDeviceOf(const MountEntry& entry) {
    if (IsBlockNode(entry.source)) return entry.source;
    if (entry.major == 0) return {};
    // A real device number under an alias the kernel made up ("/dev/root"): find its node.
    char* name = blkid_devno_to_devname(makedev(entry.major, entry.minor));
    if (!name) return {};
    const QString node = QFile::decodeName(name);
    free(name);
    return node;
}

bool IsVolumeMount(const MountEntry& entry) {
    // Anonymous device numbers (major 0) belong to pseudo and network file systems, but also
    // to btrfs and FUSE block file systems, which name their device as the source.
    return entry.fsRoot == "/" && (entry.major != 0 || IsBlockNode(entry.source));
}

QList<MountEntry> ReadMountTable(bool* ok, const QString& path) {
    QFile file(path);
    const bool opened = file.open(QIODevice::ReadOnly);
    if (ok) *ok = opened;
    if (!opened) return {};
    // A proc file has no size: readAll reads until the end.
    return ParseMountInfo(file.readAll());
}

QList<MountEntry> VolumeMounts(const QList<MountEntry>& table) {
    QList<MountEntry> volumes;
    for (const MountEntry& entry : table)
        if (IsVolumeMount(entry)) volumes.append(entry);
    return volumes;
}

bool IsVisibleMount(const QList<MountEntry>& table, qsizetype index) {
    for (qsizetype later = index + 1; later < table.size(); ++later)
        if (table[later].mountRoot == table[index].mountRoot) return false;
    return true;
}

} // namespace velk
