#pragma once
// The backup as the main window owns it: the backup state, the progress window and the one
// worker thread. StartBackup and every signal run on the user-interface thread; the worker
// hands its steps over with queued calls and this object applies them to the window.

#include "BackupThread.h"
#include "CBackupProgress.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <thread>

class QWidget;

namespace velk {

class BackupController : public QObject {
    Q_OBJECT

public:
    // mainWindow (may be null) parents the progress window and the message boxes. The
    // progress window is created hidden.
    explicit BackupController(QWidget* mainWindow);
    // A backup still copying is abandoned at its next chunk (its temporary file removed, the
    // files before it kept) and waited for.
    ~BackupController() override;

    // Copies names (relative to sourceBase, in their card sub-folder while
    // Globals().catalogueMode is set) into target and returns at once; true when the backup
    // started. While one runs a second is refused with a message and changes nothing; an
    // empty list or target starts nothing.
    bool StartBackup(const QStringList& names, const QString& sourceBase, const QString& target);
    bool IsRunning() const { return m_running; }

    CBackupProgress* ProgressWindow() const { return m_window.data(); }

    // The backup state, as the user-interface thread last saw it.
    const QStringList& backupNames() const { return m_backupNames; }
    const QString& backupSourceBase() const { return m_backupSourceBase; }
    const QString& backupTarget() const { return m_backupTarget; }
    const QString& backupCurrentName() const { return m_backupCurrentName; }
    std::int64_t backupDonePercent() const { return m_backupDonePercent; }

    // The texts of the two message boxes.
    static QString FailureText();
    static QString RefusalText();

signals:
    // After the window showed a step; percent is the overall percentage of its text.
    void progressChanged(int percent);
    // After the last step; on failure the warning is already up (it does not block), and
    // reason says which step of which file failed, for logs.
    void backupFinished(bool ok, const QString& failedName, const QString& reason);

private:
    class Receiver;
    void ApplyStep(const BackupStep& step);
    void Finish(bool ok, const QString& failedName, const QString& reason);
    void Warn(const QString& text);
    void PlaceOverOwner();

    QPointer<QWidget> m_owner;
    // Parented to the main window, which may be destroyed first.
    QPointer<CBackupProgress> m_window;

    QStringList m_backupNames;
    QString m_backupSourceBase;
    QString m_backupTarget;
    QString m_backupCurrentName;
    std::int64_t m_backupDonePercent = 0;
    bool m_running = false;
    int m_loggedPercent = -1;

    // The worker owns m_job and m_receiver while m_running; the user-interface thread starts
    // and joins it.
    std::unique_ptr<BackupJob> m_job;
    std::unique_ptr<Receiver> m_receiver;
    std::atomic<bool> m_stop{false};
    std::thread m_worker;
};

} // namespace velk
