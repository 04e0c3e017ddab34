#pragma once
// One file copied so that the target name only ever holds a whole file: the bytes go into a
// temporary file beside the target, which is flushed to the disk and then renamed over the
// target name. A failed or cancelled copy removes the temporary file; an earlier file of the
// target name stays exactly as it was. Any thread; the routine is called on the caller's thread.

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>

namespace velk {

// What the progress routine answers after each step of the copy.
enum class CopyAnswer {
    Continue = 0, // keep reporting progress for this file
    Quiet = 3,    // copy on, but make no further progress calls for this file
};

// Called before the first byte (transferred 0) and after every chunk. total is the source's
// size when it was opened; transferred never exceeds it.
using CopyProgressRoutine = std::function<CopyAnswer(std::int64_t total, std::int64_t transferred)>;

struct CopyResult {
    bool ok = false;
    int error = 0;          // errno of the step that failed, 0 on success or for a size mismatch
    QString step;           // the step that failed ("open source", "write", "rename", ...)
    QString Reason() const; // step and system message, for logs
};

// Copies source to target, with the source's modification time. cancel (may be null) is polled
// between chunks; a set flag fails the copy like any other error. The target's folder must exist; a
// folder of the target name fails the copy before anything is written.
CopyResult CopyFileWithProgress(const QString& source, const QString& target,
                                const CopyProgressRoutine& progress,
                                const std::atomic<bool>* cancel = nullptr);

// The temporary files of CopyFileWithProgress start with this, and are hidden for that reason.
inline constexpr char kTemporaryPrefix[] = ".velk-copy-";

} // namespace velk
