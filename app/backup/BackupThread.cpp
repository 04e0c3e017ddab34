#include "BackupThread.h"

#include "Catalogue.h"

#include <algorithm>
#include <optional>

namespace velk {

namespace {

constexpr int kBarLimit = 65535;

// The card folder a recording's name belongs in, by the text after the name's last "_".
// The card folder of a name by its key (".mp4" and ".avi" keys alike), or "/" for a folder
// opened by hand; nullopt for a name that is no recording.
std::optional<QString> SubFolderFor(const QString& name, bool catalogueMode) {
    if (!catalogueMode) return QStringLiteral("/");
    const auto category = CategoryOfName(name.toStdString(), true);
    if (!category) return std::nullopt;
    return QLatin1Char('/') + QString::fromUtf8(CategoryFolderName(*category)) + QLatin1Char('/');
}

// A name is one path component: it must not reach outside the source or target folder.
bool IsPlainName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

void Hand(BackupRun& run, std::int64_t total) {
    run.stepped = true;
    run.lastStep = std::chrono::steady_clock::now();
    run.receiver.OnStep(
        {run.backupCurrentName, int(run.job.names.size()), total, run.backupDonePercent});
}

} // namespace

CopyAnswer CopyProgress(std::int64_t total, std::int64_t transferred, BackupRun& run) {
    const std::int64_t filePercent =
        total <= 0 ? 100 : std::int64_t(double(transferred * 100) / double(total));
    const std::int64_t overall = run.backupDonePercent + filePercent;
    if (filePercent >= 100) {
        run.backupDonePercent += filePercent;
        run.fileCounted = true;
        Hand(run, overall);
        return CopyAnswer::Quiet;
    }
    if (!run.stepped || std::chrono::steady_clock::now() - run.lastStep >= kStepInterval)
        Hand(run, overall);
    return CopyAnswer::Continue;
}

int BackupThread(const BackupJob& job, BackupReceiver& receiver, const std::atomic<bool>* stop) {
    BackupRun run{job, receiver, QString()};
    for (const QString& name : job.names) {
        run.backupCurrentName = name;
        run.fileCounted = false;
        const std::optional<QString> subFolder = SubFolderFor(name, job.catalogueMode);
        if (!subFolder || !IsPlainName(name)) {
            receiver.OnFinished(false, name, QStringLiteral("not a recording name"));
            return 0;
        }
        const CopyResult result = CopyFileWithProgress(
            job.sourceBase + *subFolder + name, job.target + QLatin1Char('/') + name,
            [&run](std::int64_t total, std::int64_t transferred) {
                return CopyProgress(total, transferred, run);
            },
            stop);
        if (!result.ok) {
            receiver.OnFinished(false, name, result.Reason());
            return 0;
        }
        // The copy reports its last chunk, so this only guards the sum against a source that
        // was read in full without the 100 % step being seen.
        if (!run.fileCounted) CopyProgress(0, 0, run);
    }
    receiver.OnFinished(true, QString(), QString());
    return 1;
}

int BarMaximum(int fileCount) {
    return int(std::min<std::int64_t>(std::int64_t(std::max(fileCount, 0)) * 100, kBarLimit));
}

int BarPosition(std::int64_t total, int fileCount) {
    const std::int64_t range = std::int64_t(std::max(fileCount, 0)) * 100;
    if (range <= kBarLimit) return int(std::clamp<std::int64_t>(total, 0, range));
    return int(std::clamp<std::int64_t>(total, 0, range) * kBarLimit / range);
}

QString ProgressText(const QString& name, std::int64_t total, int fileCount) {
    const std::int64_t percent = fileCount > 0 ? total / fileCount : 0;
    // One pass, so a "%1" in a file name stays as it is.
    return QStringLiteral("%1,  %2 %").arg(name, QString::number(percent));
}

} // namespace velk
