#pragma once
// The copying of one backup. BackupThread runs on the backup's own worker thread and owns the
// job and the running counters while it runs; it touches no widget and never waits for the
// user-interface thread: everything the user sees leaves through a BackupReceiver.

#include "FileCopy.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstdint>

namespace velk {

// Everything the worker needs, copied when the backup starts (catalogueMode is the value of
// Globals().catalogueMode at that moment).
struct BackupJob {
    QStringList names;  // file names, in the order the list panel gave them
    QString sourceBase; // baseFolder at the time of the request
    QString target;     // the chosen folder
    bool catalogueMode = false;
};

// One progress step as the progress window shows it.
struct BackupStep {
    QString currentName;          // the file being copied
    int fileCount = 0;            // number of names in the backup
    std::int64_t total = 0;       // backupDonePercent + the current file's percentage
    std::int64_t donePercent = 0; // backupDonePercent after this step
};

// Receives the worker's reports, on the worker thread. Implementations hand them on (queued)
// and return at once. Steps are throttled; a file's last step (100 %) always comes.
class BackupReceiver {
public:
    virtual ~BackupReceiver() = default;
    virtual void OnStep(const BackupStep& step) = 0;
    // Last call of a backup. On failure failedName is the file that was not copied.
    virtual void OnFinished(bool ok, const QString& failedName, const QString& reason) = 0;
};

// Intermediate steps are handed over at most this often (about 20 a second).
inline constexpr std::chrono::milliseconds kStepInterval{50};

// The running state of one backup, worker thread only.
struct BackupRun {
    const BackupJob& job;
    BackupReceiver& receiver;
    QString backupCurrentName;
    std::int64_t backupDonePercent = 0;
    bool fileCounted = false; // the current file's 100 % is in backupDonePercent
    bool stepped = false;     // a step has been handed over in this backup
    std::chrono::steady_clock::time_point lastStep{};
};

// The copy's progress routine: adds a finished file's 100 to backupDonePercent (a zero-length
// file is finished at once) and answers Quiet from then on.
CopyAnswer CopyProgress(std::int64_t total, std::int64_t transferred, BackupRun& run);

// Copies the job's files one after the other; stops at the first failure (the files before it
// stay copied). stop (may be null) abandons the backup cleanly between chunks; only the owner's
// teardown sets it. Returns 1 when every file was copied, 0 after a failure.
int BackupThread(const BackupJob& job, BackupReceiver& receiver,
                 const std::atomic<bool>* stop = nullptr);

// The progress bar counts in hundredths of a file while that fits the bar's 16-bit range
// (up to 655 files), and is scaled into that range for longer lists, ending exactly at the top.
int BarMaximum(int fileCount);
int BarPosition(std::int64_t total, int fileCount);
// "%s,  %d %%": the name and the overall percentage.
QString ProgressText(const QString& name, std::int64_t total, int fileCount);

} // namespace velk
