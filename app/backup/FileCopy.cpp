#include "FileCopy.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velk {

namespace {

// In-kernel copies go in steps of this size, so progress is seen a few times per 100 MB.
constexpr std::size_t kRangeChunk = 8u << 20;
// The read/write path (file systems without in-kernel copy).
constexpr std::size_t kBufferChunk = 1u << 20;

CopyResult Failure(const char* step, int error) {
    CopyResult r;
    r.error = error;
    r.step = QString::fromLatin1(step);
    return r;
}

QByteArray FolderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0) return QByteArrayLiteral(".");
    if (slash == 0) return QByteArrayLiteral("/");
    return path.left(slash);
}

// Closes and removes the temporary file unless the copy got as far as renaming it.
struct TemporaryFile {
    QByteArray path;
    int fd = -1;
    bool renamed = false;
    ~TemporaryFile() {
        if (fd >= 0) ::close(fd);
        if (!path.isEmpty() && !renamed) ::unlink(path.constData());
    }
};

struct SourceFile {
    int fd = -1;
    ~SourceFile() {
        if (fd >= 0) ::close(fd);
    }
};

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

} // namespace

QString CopyResult::Reason() const {
    if (ok) return QString();
    if (error == 0) return step;
    return QStringLiteral("%1: %2").arg(step, qt_error_string(error));
}

CopyResult CopyFileWithProgress(const QString& source, const QString& target,
                                const CopyProgressRoutine& progress,
                                const std::atomic<bool>* cancel) {
    const QByteArray sourcePath = QFile::encodeName(source);
    const QByteArray targetPath = QFile::encodeName(target);

    SourceFile in;
    in.fd = ::open(sourcePath.constData(), O_RDONLY | O_CLOEXEC);
    if (in.fd < 0) return Failure("open source", errno);
    struct stat sourceStat {};
    if (::fstat(in.fd, &sourceStat) != 0) return Failure("open source", errno);
    if (!S_ISREG(sourceStat.st_mode)) return Failure("open source", EISDIR);
    const std::int64_t total = sourceStat.st_size;

    // rename() would refuse a folder only after the whole file was copied.
    struct stat targetStat {};
    if (::stat(targetPath.constData(), &targetStat) == 0 && S_ISDIR(targetStat.st_mode))
        return Failure("target is a folder", EISDIR);

    // The temporary file sits in the target's folder so that the rename stays on one file
    // system. It is created with 0666 so the process's umask gives it the usual mode.
    const QByteArray folder = FolderOf(targetPath);
    TemporaryFile out;
    for (int attempt = 0; attempt < 100 && out.fd < 0; ++attempt) {
        QByteArray candidate = folder + '/' + kTemporaryPrefix +
                               QByteArray::number(QRandomGenerator::global()->generate64(), 16);
        const int fd = ::open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            out.fd = fd;
            out.path = candidate;
        } else if (errno != EEXIST) {
            return Failure("create temporary file", errno);
        }
    }
    if (out.fd < 0) return Failure("create temporary file", EEXIST);

    ::posix_fadvise(in.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    // A disk too small for the file fails here at once rather than after filling it up. The
    // file size is kept at what was written, so the size check below stays meaningful. File
    // systems without preallocation just copy.
    if (total > 0 && ::fallocate(out.fd, FALLOC_FL_KEEP_SIZE, 0, total) != 0 &&
        (errno == ENOSPC || errno == EDQUOT || errno == EFBIG))
        return Failure("reserve space", errno);

    bool quiet = false;
    auto report = [&](std::int64_t transferred) {
        if (quiet || !progress) return;
        quiet = progress(total, std::min(transferred, total)) == CopyAnswer::Quiet;
    };
    report(0);

    bool inKernel = true;
    std::unique_ptr<char[]> buffer;
    std::int64_t copied = 0;
    for (;;) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return Failure("cancelled", ECANCELED);
        ssize_t n;
        if (inKernel) {
            n = ::copy_file_range(in.fd, nullptr, out.fd, nullptr, kRangeChunk, 0);
            if (n < 0 && copied == 0 &&
                (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
                inKernel = false;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return Failure("copy", errno);
        } else {
            if (!buffer) buffer = std::make_unique<char[]>(kBufferChunk);
            n = ::read(in.fd, buffer.get(), kBufferChunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return Failure("read", errno);
            if (n > 0 && !WriteAll(out.fd, buffer.get(), std::size_t(n)))
                return Failure("write", errno);
        }
        if (n == 0) break;
        // Starts writing this chunk to the disk now, while the next one is read, so that the
        // flush before the rename has little left to wait for.
        ::sync_file_range(out.fd, copied, n, SYNC_FILE_RANGE_WRITE);
        copied += n;
        report(copied);
    }

    // A source that shrank or grew while it was read (a card pulled out, a file still being
    // written) gives no trustworthy copy.
    struct stat after {};
    if (::fstat(in.fd, &after) != 0) return Failure("read", errno);
    if (copied != total || after.st_size != total) return Failure("size check", 0);

    // The copy keeps the recording's time, as the user sees it in a file manager.
    const struct timespec times[2] = {{0, UTIME_OMIT}, sourceStat.st_mtim};
    ::futimens(out.fd, times);
    if (::fsync(out.fd) != 0) return Failure("flush", errno);
    struct stat written {};
    if (::fstat(out.fd, &written) != 0) return Failure("flush", errno);
    if (written.st_size != total) return Failure("size check", 0);
    const int fd = out.fd;
    out.fd = -1;
    if (::close(fd) != 0) return Failure("close", errno);

    if (::rename(out.path.constData(), targetPath.constData()) != 0)
        return Failure("rename", errno);
    out.renamed = true;

    // Makes the new name itself survive a power cut. The file is in place by now, so a
    // failure here is not a failed copy.
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }

    CopyResult done;
    done.ok = true;
    return done;
}

} // namespace velk
