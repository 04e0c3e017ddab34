// The mount table, labels and the card rules on real volumes.

#include "CardMounts.h"
#include "CardTracker.h"
#include "EventLog.h"
#include "MountTable.h"
#include "MountWatcher.h"
#include "VolumeLabel.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <unistd.h>

namespace velk {
namespace {

using test::Volumes;

// Needs root: each test skips with the reason where loop mounts cannot be made.
class CardMountTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString why;
        if (!Volumes::LoopMountsWork(&why)) GTEST_SKIP() << why.toStdString();
    }

    // The last volume mount at root, as the table has it now.
    static std::optional<MountEntry> VolumeAt(const QString& root) {
        const QList<MountEntry> volumes = VolumeMounts(ReadMountTable());
        for (auto it = volumes.crbegin(); it != volumes.crend(); ++it)
            if (it->mountRoot == root) return *it;
        return std::nullopt;
    }

    Volumes volumes;
};

TEST(MountTableParse, OptionalFieldsEscapesAndBrokenLines) {
    const QByteArray text =
        "36 25 8:17 / /media/ann/VELK\\040T rw,nosuid shared:12 master:1 - vfat /dev/sdb1 rw\n"
        "37 25 0:41 / /tmp/a\\134b rw - tmpfs tmp\\040fs rw\n"
        "38 25 8:18 /sub /mnt/bound rw - ext4 /dev/sdb2 rw\n"
        "39 25 8:19 / /mnt/no-dash rw ext4 /dev/sdb3 rw\n"
        "garbage\n"
        "40 25 0:0 / / rw - ext4 /dev/root rw";
    const QList<MountEntry> table = ParseMountInfo(text);
    ASSERT_EQ(table.size(), 4);
    EXPECT_EQ(table[0].mountId, 36);
    EXPECT_EQ(table[0].major, 8u);
    EXPECT_EQ(table[0].minor, 17u);
    EXPECT_EQ(table[0].mountRoot, QStringLiteral("/media/ann/VELK T/"));
    EXPECT_EQ(table[0].fsType, "vfat");
    EXPECT_EQ(table[0].source, QStringLiteral("/dev/sdb1"));
    EXPECT_EQ(table[1].mountRoot, QStringLiteral("/tmp/a\\b/"));
    EXPECT_EQ(table[1].source, QStringLiteral("tmp fs"));
    EXPECT_EQ(table[2].fsRoot, "/sub");
    EXPECT_EQ(table[3].mountRoot, QStringLiteral("/")) << "the root keeps one separator";
    // Pseudo file systems and bound sub-folders are no volumes.
    EXPECT_FALSE(IsVolumeMount(table[1]));
    EXPECT_FALSE(IsVolumeMount(table[2]));
}

TEST_F(CardMountTest, VolumeMountsAreTheBlockDeviceMountsWithUnescapedRoots) {
    const QString card = volumes.mountCard(QStringLiteral("VELK-T"), QStringLiteral("a b\\c\td"));
    const QString tmp = volumes.mountTmpfs(QStringLiteral("tmp"));
    ASSERT_FALSE(card.isEmpty()) << volumes.lastError().toStdString();
    ASSERT_FALSE(tmp.isEmpty()) << volumes.lastError().toStdString();
    ASSERT_TRUE(QDir().mkpath(card + QStringLiteral("ory_rec")));
    ASSERT_FALSE(volumes.bindMount(card + QStringLiteral("ory_rec"), tmp).isEmpty())
        << volumes.lastError().toStdString();

    QStringList roots;
    for (const MountEntry& entry : VolumeMounts(ReadMountTable()))
        roots << entry.mountRoot;
    EXPECT_EQ(roots.count(card), 1) << roots.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(roots.count(tmp), 0) << "a tmpfs and a bound sub-folder are not volumes";
    const auto entry = VolumeAt(card);
    ASSERT_TRUE(entry);
    EXPECT_TRUE(entry->source.startsWith(QLatin1String("/dev/loop")));
    EXPECT_EQ(BlockDeviceOf(*entry), entry->source);
}

struct LabelCase {
    const char* name;
    std::optional<QString> label;
    bool card;
};

TEST_F(CardMountTest, LabelsFromBlkidAndTheRecognitionRule) {
    const LabelCase cases[] = {
        {"upper", QStringLiteral("VELK-T"), true},
        {"lower", QStringLiteral("velk-t"), true},
        {"mixed", QStringLiteral("Velk-Rs"), true},
        {"added character", QStringLiteral("VELK-T2"), false},
        {"blank for the hyphen", QStringLiteral("VELK T"), false},
        {"Cyrillic TE", QString::fromUtf8("velk-\xd1\x82"), false}, // upper-cases to U+0422
        {"other", QStringLiteral("DATA"), false},
    };
    for (const LabelCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QString root = volumes.mountCard(c.label, QStringLiteral("card"));
        ASSERT_FALSE(root.isEmpty()) << volumes.lastError().toStdString();
        const auto entry = VolumeAt(root);
        ASSERT_TRUE(entry);
        const VolumeLabel label = ReadVolumeLabel(*entry);
        EXPECT_EQ(label.text, *c.label);
        EXPECT_EQ(label.source, LabelSource::Blkid) << "no udev here: by-label is absent";

        CardTracker tracker;
        EXPECT_EQ(tracker.CheckCardVolume(root), c.card);
        EXPECT_EQ(tracker.cardPresent(), c.card);
        EXPECT_EQ(tracker.cardRoot(), c.card ? root : QString());
        ASSERT_TRUE(volumes.unmount(root)) << volumes.lastError().toStdString();
    }
}

TEST_F(CardMountTest, ByLabelLinksAnswerBeforeBlkid) {
    // Links as udev makes them: named by the escaped label, pointing at the device node.
    const QString data = volumes.mountCard(QStringLiteral("DATA"), QStringLiteral("data"));
    const QString card = volumes.mountCard(QStringLiteral("velk-t"), QStringLiteral("card"));
    ASSERT_FALSE(data.isEmpty() || card.isEmpty()) << volumes.lastError().toStdString();
    const QString links = volumes.scratch() + QStringLiteral("/by-label");
    ASSERT_TRUE(QDir().mkpath(links));
    ASSERT_TRUE(QFile::link(volumes.loopDeviceOf(data), links + QStringLiteral("/VELK-RS")));
    ASSERT_TRUE(QFile::link(volumes.loopDeviceOf(card), links + QStringLiteral("/VELK\\x20T")));
    LabelSources sources;
    sources.byLabelDir = links;

    const VolumeLabel dataLabel = ReadVolumeLabel(*VolumeAt(data), sources);
    EXPECT_EQ(dataLabel.text, QStringLiteral("VELK-RS"));
    EXPECT_EQ(dataLabel.source, LabelSource::ByLabelLink);
    const VolumeLabel cardLabel = ReadVolumeLabel(*VolumeAt(card), sources);
    EXPECT_EQ(cardLabel.text, QStringLiteral("VELK T"));
    EXPECT_EQ(cardLabel.source, LabelSource::ByLabelLink);

    CardTracker tracker(sources);
    EXPECT_FALSE(tracker.CheckCardVolume(card));
    EXPECT_TRUE(tracker.CheckCardVolume(data));
}

TEST_F(CardMountTest, CardFoundByTheAutomounterFolderName) {
    // The automounter's folders, on a tmpfs over /media that only this process sees.
    const QString user =
        QString::fromLocal8Bit(qgetenv("USER").isEmpty() ? "root" : qgetenv("USER"));
    ASSERT_FALSE(volumes.mountTmpfs(QStringLiteral("/media")).isEmpty())
        << volumes.lastError().toStdString();
    const QString card =
        volumes.mountCard(std::nullopt, QStringLiteral("/media/%1/VELK-T").arg(user));
    const QString other =
        volumes.mountCard(QStringLiteral("DATA"), QStringLiteral("/media/%1/VELK-RS").arg(user));
    ASSERT_FALSE(card.isEmpty() || other.isEmpty()) << volumes.lastError().toStdString();

    const VolumeLabel label = ReadVolumeLabel(*VolumeAt(card));
    EXPECT_EQ(label.text, QStringLiteral("VELK-T"));
    EXPECT_EQ(label.source, LabelSource::MountFolder);
    EXPECT_EQ(ReadVolumeLabel(*VolumeAt(other)).text, QStringLiteral("DATA"))
        << "a label read from the device wins over the folder name";

    CardTracker tracker;
    QSignalSpy arrived(&tracker, &CardTracker::cardArrived);
    EXPECT_TRUE(tracker.ScanDrives());
    EXPECT_EQ(tracker.cardRoot(), card);
    ASSERT_EQ(arrived.size(), 1);
    EXPECT_EQ(arrived[0][0].toString(), card);
}

TEST(MountFolderName, OnlyUserAndLabelBelowAnAutomountParent) {
    const QStringList parents{QStringLiteral("/media/"), QStringLiteral("/run/media/")};
    const struct {
        const char* root;
        const char* label;
    } cases[] = {
        {"/media/ann/VELK-T/", "VELK-T"}, {"/run/media/ann/velk-rs/", "velk-rs"},
        {"/media/ann/VELK T/", "VELK T"}, {"/media/VELK-T/", ""},
        {"/media/ann/VELK-T/sub/", ""},   {"/mnt/ann/VELK-T/", ""},
        {"/tmp/media/ann/VELK-T/", ""},   {"/media//VELK-T/", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LabelFromMountFolder(QString::fromUtf8(c.root), parents),
                  QString::fromUtf8(c.label))
            << c.root;
}

TEST_F(CardMountTest, ScanDrivesTakesTheFirstCardInTableOrder) {
    // A card with a tmpfs mounted over it shows none of its files: it is passed by.
    const QString hidden = volumes.mountCard(QStringLiteral("VELK-RS"), QStringLiteral("hidden"));
    ASSERT_EQ(volumes.mountTmpfs(QStringLiteral("hidden")), hidden)
        << volumes.lastError().toStdString();
    const QString other = volumes.mountCard(QStringLiteral("DATA"), QStringLiteral("stick"));
    const QString first = volumes.mountImage(volumes.makeImage(QStringLiteral("velk-t")),
                                             QStringLiteral("first"), QStringLiteral("ro"));
    const QString second = volumes.mountCard(QStringLiteral("VELK-RS"), QStringLiteral("second"));
    ASSERT_FALSE(other.isEmpty() || first.isEmpty() || second.isEmpty())
        << volumes.lastError().toStdString();

    SetEventLogEnabled(true);
    testing::internal::CaptureStderr();
    CardTracker tracker;
    QSignalSpy arrived(&tracker, &CardTracker::cardArrived);
    const bool found = tracker.ScanDrives();
    const std::string log = testing::internal::GetCapturedStderr();
    SetEventLogEnabled(false);

    EXPECT_TRUE(found);
    EXPECT_TRUE(tracker.cardPresent());
    EXPECT_EQ(tracker.cardRoot(), first) << "a read-only card is a card";
    ASSERT_EQ(arrived.size(), 1);
    EXPECT_EQ(arrived[0][0].toString(), first);
    EXPECT_NE(log.find("card " + first.toStdString() + "\n"), std::string::npos) << log;
    EXPECT_NE(log.find("cardskip " + other.toStdString() + " label DATA from blkid\n"),
              std::string::npos)
        << log;
    EXPECT_FALSE(CardTracker().CheckCardVolume(hidden));
}

TEST_F(CardMountTest, ScanDrivesWithoutACard) {
    ASSERT_FALSE(volumes.mountCard(QStringLiteral("VELK-T2"), QStringLiteral("x")).isEmpty());
    SetEventLogEnabled(true);
    testing::internal::CaptureStderr();
    CardTracker tracker;
    QSignalSpy arrived(&tracker, &CardTracker::cardArrived);
    EXPECT_FALSE(tracker.ScanDrives());
    const std::string log = testing::internal::GetCapturedStderr();
    SetEventLogEnabled(false);
    EXPECT_FALSE(tracker.cardPresent());
    EXPECT_TRUE(tracker.cardRoot().isEmpty());
    EXPECT_EQ(arrived.size(), 0);
    EXPECT_NE(log.find("nocard\n"), std::string::npos) << log;
}

TEST_F(CardMountTest, ArrivalAndRemovalRules) {
    const QString stick = volumes.mountCard(QStringLiteral("DATA"), QStringLiteral("stick"));
    const QString a = volumes.mountCard(QStringLiteral("velk-t"), QStringLiteral("a"));
    const QString b = volumes.mountCard(QStringLiteral("VELK-RS"), QStringLiteral("b"));
    ASSERT_FALSE(stick.isEmpty() || a.isEmpty() || b.isEmpty())
        << volumes.lastError().toStdString();
    QString noSlash = a;
    noSlash.chop(1);

    CardTracker tracker;
    QSignalSpy arrived(&tracker, &CardTracker::cardArrived);
    QSignalSpy removed(&tracker, &CardTracker::cardRemoved);
    // Each step: event, root, what it does, the card root after it.
    const struct {
        const char* step;
        std::uintptr_t event;
        QString root;
        CardChange result;
        QString cardAfter;
    } steps[] = {
        {"another volume arrives", kEventDriveAdded, stick, CardChange::None, {}},
        {"unknown event code", 0x8000, a, CardChange::None, {}},
        {"root without its separator", kEventDriveAdded, noSlash, CardChange::None, {}},
        {"no root", kEventDriveAdded, {}, CardChange::None, {}},
        {"medium inserted is an arrival", kEventMediaInserted, a, CardChange::Arrived, a},
        {"a second card is ignored", kEventDriveAdded, b, CardChange::None, a},
        {"the card again is ignored", kEventDriveAdded, a, CardChange::None, a},
        {"another volume removed", kEventDriveRemoved, stick, CardChange::None, a},
        {"removal needs the exact root", kEventDriveRemoved, noSlash, CardChange::None, a},
        {"the card is removed", kEventDriveRemoved, a, CardChange::Removed, {}},
        {"removed twice", kEventDriveRemoved, a, CardChange::None, {}},
        {"the second card's removal is no card's", kEventDriveRemoved, b, CardChange::None, {}},
        {"the second card inserted again", kEventDriveAdded, b, CardChange::Arrived, b},
        {"medium removed is a removal", kEventMediaRemoved, b, CardChange::Removed, {}},
    };
    int arrivals = 0;
    int removals = 0;
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        EXPECT_EQ(tracker.OnDeviceChange(s.event, s.root), s.result);
        EXPECT_EQ(tracker.cardRoot(), s.cardAfter);
        EXPECT_EQ(tracker.cardPresent(), !s.cardAfter.isEmpty());
        arrivals += s.result == CardChange::Arrived;
        removals += s.result == CardChange::Removed;
        ASSERT_EQ(arrived.size(), arrivals);
        ASSERT_EQ(removed.size(), removals);
        if (s.result == CardChange::Arrived) {
            EXPECT_EQ(arrived.back()[0].toString(), s.root);
        }
        if (s.result == CardChange::Removed) {
            EXPECT_EQ(removed.back()[0].toString(), s.root);
        }
    }

    // An arrival handled after the volume went again finds nothing to check.
    ASSERT_TRUE(volumes.unmount(a));
    EXPECT_EQ(tracker.OnDeviceChange(kEventDriveAdded, a), CardChange::None);
    EXPECT_FALSE(tracker.cardPresent());
}

} // namespace
} // namespace velk
