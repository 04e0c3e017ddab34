#pragma once
// Volume labels as a Linux desktop has them, read without touching the mounted file system:
// udev's by-label links, else libblkid on the device (root or the disk group), else the name of
// the folder an automounter mounted the volume at (/media/USER/LABEL, /run/media/USER/LABEL).

#include "MountTable.h"

#include <QString>
#include <QStringList>

namespace velk {

enum class LabelSource { None, ByLabelLink, Blkid, MountFolder };

struct VolumeLabel {
    QString text;
    LabelSource source = LabelSource::None; // None: no source answered, text is empty
};

// Where the label sources live; a test may point them at folders of its own.
struct LabelSources {
    QString byLabelDir = QStringLiteral("/dev/disk/by-label");
    QStringList automountParents{QStringLiteral("/media/"), QStringLiteral("/run/media/")};
};

const char* LabelSourceName(LabelSource source);

// The label of a volume mount, from the first source that answers.
VolumeLabel ReadVolumeLabel(const MountEntry& entry, const LabelSources& sources = {});

// Each source on its own, for the chain above. Empty when the source has no answer.
QString LabelFromByLabelLinks(const QString& device, const QString& byLabelDir);
QString LabelFromBlkid(const QString& device);
QString LabelFromMountFolder(const QString& mountRoot, const QStringList& automountParents);

// udev's link names escape unsafe bytes as \xHH ("VELK\x20T").
QString UnescapeUdevName(const QByteArray& name);

// The card recognition rule: the label in upper case (by characters, not bytes) is exactly
// "VELK-RS" or "VELK-T".
bool IsCardLabel(const QString& label);

} // namespace velk
