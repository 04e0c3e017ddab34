#pragma once
// Follows the mount table without polling: /proc/self/mountinfo signals each change with an
// exceptional condition, and every volume mount that came or went since the last look is posted
// to the target as MsgDriveChange (1050): wParam 0x100 (added) or 0x80 (removed), text the mount
// root with its trailing "/". Removals are posted before additions, each in table order.
// Lives on the user-interface thread; reading the table touches no mounted file system.

#include "MountTable.h"
#include "WindowMessages.h"

#include <QObject>

class QSocketNotifier;

namespace velk {

inline constexpr std::uintptr_t kEventMediaInserted = 0x20;
inline constexpr std::uintptr_t kEventMediaRemoved = 0x40;
inline constexpr std::uintptr_t kEventDriveRemoved = 0x80;
inline constexpr std::uintptr_t kEventDriveAdded = 0x100;

class MountWatcher : public QObject {
    Q_OBJECT
public:
    explicit MountWatcher(WindowHandle target, QObject* parent = nullptr);
    ~MountWatcher() override;

    // Takes the current table as the starting point and begins the watch. False (and logged)
    // when the table cannot be opened; nothing is then posted. Start it before the start-up
    // scan, so a card mounted in between is posted rather than missed.
    bool start();
    bool watching() const { return m_fd >= 0; }

private:
    void onTableChanged();

    WindowHandle m_target;
    int m_fd = -1; // open /proc/self/mountinfo: the kernel's change mark is kept per open file
    QSocketNotifier* m_notifier = nullptr;
    QList<MountEntry> m_volumes; // volume mounts as of the last look
};

} // namespace velk
