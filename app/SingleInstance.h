#pragma once
// One copy of the viewer per user: a lock file that dies with its process, a local socket over
// which a second start hands a path to the first, and the look-up of a desktop window by its
// title. User-interface thread only.

#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;

namespace velk {

class SingleInstance : public QObject {
public:
    // The lock and the socket live in the user's runtime folder, or the temporary folder where
    // that cannot be written.
    SingleInstance();
    ~SingleInstance() override;

    // True when no other copy holds the lock; this copy then holds it until it ends.
    bool acquire();
    // First copy: listens for paths sent by later starts and hands each to onPath.
    void listen(std::function<void(const QString&)> onPath);
    // Later copy: sends path to the first copy; false when it could not be delivered.
    bool sendPath(const QString& path) const;

    QString folder() const { return m_folder; }

private:
    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};

// Finds a top-level window of the X display whose title is exactly title (the window
// manager's client list, or the root's children where no window manager runs), restores it if
// it is minimised and brings it to the front. False when there is none.
bool ActivateWindowTitled(const QString& title);

} // namespace velk
