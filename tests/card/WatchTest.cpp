// The mount watch on real mounts and unmounts, through the message channel to the card rules.

#include "CardMounts.h"
#include "CardTracker.h"
#include "MountWatcher.h"
#include "QtMessagePoster.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <sys/statfs.h>
#include <thread>
#include <utility>
#include <vector>

namespace velk {
namespace {

using test::Volumes;
using Change = std::pair<std::uintptr_t, QString>;

// Stands in for the main window: keeps every drive change it is sent and hands it to the card
// rules as the main window does.
class Inbox : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() != PostedMessageEvent::eventType()) return QObject::event(e);
        const WindowMessage& m = static_cast<PostedMessageEvent*>(e)->message;
        if (m.id == MsgDriveChange && m.text)
            changes.emplace_back(m.wParam, QFile::decodeName(QByteArray::fromStdString(*m.text)));
        tracker.OnDeviceChange(m);
        return true;
    }

    // Runs the event loop until count changes have come, or for the whole wait when count is
    // more than will ever come.
    void waitFor(size_t count, int milliseconds = 5000) {
        const QDeadlineTimer deadline(milliseconds);
        while (changes.size() < count && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    // Nothing more comes in a while.
    void settle() {
        const QDeadlineTimer deadline(300);
        while (!deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }

    std::vector<Change> changes;
    CardTracker tracker;
};

class WatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString why;
        if (!Volumes::LoopMountsWork(&why)) GTEST_SKIP() << why.toStdString();
        ASSERT_TRUE(watcher.start());
        ASSERT_TRUE(watcher.watching());
    }

    Volumes volumes;
    Inbox inbox;
    MountWatcher watcher{QtMessagePoster::HandleOf(&inbox)};
    QSignalSpy arrived{&inbox.tracker, &CardTracker::cardArrived};
    QSignalSpy removed{&inbox.tracker, &CardTracker::cardRemoved};
};

TEST_F(WatchTest, CardMountedAndUnmountedWhileWatching) {
    const QString card = volumes.mountCard(QStringLiteral("velk-t"), QStringLiteral("card"));
    ASSERT_FALSE(card.isEmpty()) << volumes.lastError().toStdString();
    inbox.waitFor(1);
    inbox.settle();
    ASSERT_EQ(inbox.changes, (std::vector<Change>{{kEventDriveAdded, card}}));
    EXPECT_EQ(arrived.size(), 1);
    EXPECT_EQ(inbox.tracker.cardRoot(), card);

    ASSERT_TRUE(volumes.unmount(card)) << volumes.lastError().toStdString();
    inbox.waitFor(2);
    inbox.settle();
    ASSERT_EQ(inbox.changes.size(), 2u);
    EXPECT_EQ(inbox.changes[1], Change(kEventDriveRemoved, card));
    ASSERT_EQ(removed.size(), 1);
    EXPECT_EQ(removed[0][0].toString(), card);
    EXPECT_FALSE(inbox.tracker.cardPresent());
}

TEST_F(WatchTest, OtherMountsLeaveTheCardAlone) {
    const QString card = volumes.mountCard(QStringLiteral("VELK-RS"), QStringLiteral("card"));
    ASSERT_FALSE(card.isEmpty()) << volumes.lastError().toStdString();
    inbox.waitFor(1);
    ASSERT_EQ(arrived.size(), 1);

    // Another labelled volume, a second card and a pseudo file system come and go.
    const QString stick = volumes.mountCard(QStringLiteral("DATA"), QStringLiteral("stick"));
    const QString second = volumes.mountCard(QStringLiteral("VELK-T"), QStringLiteral("second"));
    const QString tmp = volumes.mountTmpfs(QStringLiteral("tmp"));
    ASSERT_FALSE(stick.isEmpty() || second.isEmpty() || tmp.isEmpty())
        << volumes.lastError().toStdString();
    inbox.waitFor(3);
    ASSERT_TRUE(volumes.unmount(stick));
    ASSERT_TRUE(volumes.unmount(second));
    ASSERT_TRUE(volumes.unmount(tmp));
    inbox.waitFor(5);
    inbox.settle();

    const std::vector<Change> expected{{kEventDriveAdded, card},
                                       {kEventDriveAdded, stick},
                                       {kEventDriveAdded, second},
                                       {kEventDriveRemoved, stick},
                                       {kEventDriveRemoved, second}};
    EXPECT_EQ(inbox.changes, expected) << "one message per volume that came or went";
    EXPECT_EQ(arrived.size(), 1);
    EXPECT_EQ(removed.size(), 0);
    EXPECT_EQ(inbox.tracker.cardRoot(), card);
}

// Runs action once time runs out before the watchdog is stopped.
class Watchdog {
public:
    Watchdog(std::chrono::milliseconds limit, std::function<void()> action)
        : m_thread([this, limit, action = std::move(action)] {
              std::unique_lock lock(m_mutex);
              if (!m_stop.wait_for(lock, limit, [this] { return m_stopped; })) {
                  m_fired = true;
                  action();
              }
          }) {}
    // Whether it fired.
    bool stop() {
        {
            std::lock_guard lock(m_mutex);
            m_stopped = true;
        }
        m_stop.notify_one();
        m_thread.join();
        return m_fired;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_stop;
    bool m_stopped = false;
    bool m_fired = false;
    std::thread m_thread;
};

TEST_F(WatchTest, MountsThatDoNotAnswerAreNeverWaitedFor) {
    // A card on a loop device, its file system served by a FUSE server that never answers, and
    // a network-like mount that never answers either.
    const QString device = volumes.attachLoop(volumes.makeImage(QStringLiteral("velk-t")));
    ASSERT_FALSE(device.isEmpty()) << volumes.lastError().toStdString();
    const QString net = volumes.mountUnanswered(QStringLiteral("net"));
    if (net.isEmpty()) GTEST_SKIP() << volumes.lastError().toStdString();
    const QString card = volumes.mountUnanswered(QStringLiteral("card"), device);
    ASSERT_FALSE(card.isEmpty()) << volumes.lastError().toStdString();

    // Anything that touched the mounts would wait until the watchdog aborts them.
    Watchdog watchdog(std::chrono::seconds(10), [this] { volumes.abortUnanswered(); });
    inbox.waitFor(1);
    inbox.settle();
    CardTracker scanner;
    const bool found = scanner.ScanDrives();
    auto statfsCard = std::async(std::launch::async, [&card] {
        struct statfs info {};
        return ::statfs(QFile::encodeName(card).constData(), &info);
    });
    const bool cardWaits =
        statfsCard.wait_for(std::chrono::milliseconds(300)) == std::future_status::timeout;
    volumes.abortUnanswered();
    statfsCard.wait();
    ASSERT_FALSE(watchdog.stop()) << "the watch or the scan waited on a mount that does not answer";
    EXPECT_TRUE(cardWaits) << "the card's file system answered: this test shows nothing";

    // The card's label comes from its device; the network-like mount is no volume.
    EXPECT_EQ(inbox.changes, (std::vector<Change>{{kEventDriveAdded, card}}));
    EXPECT_EQ(inbox.tracker.cardRoot(), card);
    EXPECT_TRUE(found);
    EXPECT_EQ(scanner.cardRoot(), card);
}

} // namespace
} // namespace velk
