#include "VolumeLabel.h"

#include <QDir>
#include <QFile>

#include <blkid/blkid.h>
#include <sys/stat.h>

namespace velk {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool DeviceNumberOf(const QString& node, dev_t* number) {
    struct stat st {};
    if (::stat(QFile::encodeName(node).constData(), &st) != 0 || !S_ISBLK(st.st_mode)) return false;
    *number = st.st_rdev;
    return true;
}

} // namespace

const char* LabelSourceName(LabelSource source) {
    switch (source) {
    case LabelSource::ByLabelLink:
        return "by-label";
    case LabelSource::Blkid:
        return "blkid";
    case LabelSource::MountFolder:
        return "mount-folder";
    case LabelSource::None:
        break;
    }
    return "none";
}

QString UnescapeUdevName(const QByteArray& name) {
    QByteArray out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' &&
            HexValue(name[i + 2]) >= 0 && HexValue(name[i + 3]) >= 0) {
            out += char(HexValue(name[i + 2]) << 4 | HexValue(name[i + 3]));
            i += 3;
        } else {
            out += name[i];
        }
    }
    return QString::fromUtf8(out);
}

QString LabelFromByLabelLinks(const QString& device, const QString& byLabelDir) {
    dev_t wanted = 0;
    if (device.isEmpty() || !DeviceNumberOf(device, &wanted)) return {};
    const QDir dir(byLabelDir);
    // Each link names a label and points at its device node; the one whose node is our device
    // answers. Nodes are compared by device number, so any alias of the node matches.
    for (const QString& name : dir.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        dev_t number = 0;
        if (DeviceNumberOf(dir.filePath(name), &number) && number == wanted)
            return UnescapeUdevName(QFile::encodeName(name));
    }
    return {};
}

QString LabelFromBlkid(const QString& device) {
    if (device.isEmpty()) return {};
    // Reads the superblock from the device node; fails without read access to it.
    blkid_probe probe = blkid_new_probe_from_filename(QFile::encodeName(device).constData());
    if (!probe) return {};
    QString label;
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL);
    const char* value = nullptr;
    size_t length = 0;
    if (blkid_do_safeprobe(probe) == 0 &&
        blkid_probe_lookup_value(probe, "LABEL", &value, &length) == 0 && value) {
        label = QString::fromUtf8(value); // libblkid hands the label zero-terminated
    }
    blkid_free_probe(probe);
    return label;
}

QString LabelFromMountFolder(const QString& mountRoot, const QStringList& automountParents) {
    for (const QString& parent : automountParents) {
        if (!mountRoot.startsWith(parent)) continue;
        // USER/LABEL/ below the parent, nothing more and nothing less.
        const QStringList parts = mountRoot.mid(parent.size()).split(QLatin1Char('/'));
        if (parts.size() == 3 && !parts[0].isEmpty() && !parts[1].isEmpty() && parts[2].isEmpty())
            return parts[1];
    }
    return {};
}

VolumeLabel ReadVolumeLabel(const MountEntry& entry, const LabelSources& sources) {
    const QString device = BlockDeviceOf(entry);
    if (QString text = LabelFromByLabelLinks(device, sources.byLabelDir); !text.isEmpty())
        return {text, LabelSource::ByLabelLink};
    if (QString text = LabelFromBlkid(device); !text.isEmpty()) return {text, LabelSource::Blkid};
    if (QString text = LabelFromMountFolder(entry.mountRoot, sources.automountParents);
        !text.isEmpty())
        return {text, LabelSource::MountFolder};
    return {};
}

bool IsCardLabel(const QString& label) {
    const QString upper = label.toUpper();
    return upper == QLatin1String("VELK-RS") || upper == QLatin1String("VELK-T");
}

} // namespace velk
