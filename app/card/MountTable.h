#pragma once
// The mount table of this process's mount namespace (/proc/self/mountinfo), in its own order:
// the counterpart of the logical drive list. Reading it asks the kernel only; no mounted file
// system is touched, so a stale network mount cannot block the reader.

#include <QByteArray>
#include <QList>
#include <QString>

namespace velk {

struct MountEntry {
    int mountId = -1;
    unsigned major = 0; // device numbers as the kernel reports them; 0:N for anonymous ones
    unsigned minor = 0;
    QByteArray fsRoot; // the folder of the file system that is mounted: "/" for a whole volume
    QString mountRoot; // mount point, unescaped, always ending in "/" (the card root form)
    QByteArray fsType;
    QString source; // "/dev/sdb1", "server:/export", "tmpfs", ... unescaped
};

// Undoes the kernel's octal escapes (\040 space, \011 tab, \012 line end, \134 backslash).
QByteArray UnescapeMountField(const QByteArray& field);

// Parses mountinfo text; malformed lines are skipped.
QList<MountEntry> ParseMountInfo(const QByteArray& text);

// The device node of a mount when it is backed by a block device: the source itself when it
// names one under /dev, else the node the kernel's device number maps to. Empty for pseudo and
// network file systems. Looks only at /dev, never at the mount point.
QString BlockDeviceOf(const MountEntry& entry);

// A whole volume of a block device: what can be a card. Pseudo file systems (proc, tmpfs,
// cgroup, overlay, network and FUSE mounts without a device) and bind mounts of a sub-folder are
// not volumes.
bool IsVolumeMount(const MountEntry& entry);

// Reads path (the process's table by default). ok, when given, says whether it could be read.
QList<MountEntry> ReadMountTable(bool* ok = nullptr,
                                 const QString& path = QStringLiteral("/proc/self/mountinfo"));

// The volume mounts of the table, in its order.
QList<MountEntry> VolumeMounts(const QList<MountEntry>& table);

// Whether the entry at index is what its mount root shows: no later mount sits on the same root.
bool IsVisibleMount(const QList<MountEntry>& table, qsizetype index);

} // namespace velk
