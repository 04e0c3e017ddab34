// velk-backup-bench TARGET SOURCE_FOLDER NAME...: copies the names from SOURCE_FOLDER into
// TARGET with the backup's worker, as a folder opened by hand would, and prints
// "seconds S steps N" (N progress steps handed over). Exit status 0 when every file was copied.

#include "BackupThread.h"

#include <chrono>
#include <cstdio>

namespace {

struct CountingReceiver : velk::BackupReceiver {
    int steps = 0;
    QString failure;
    void OnStep(const velk::BackupStep&) override { ++steps; }
    void OnFinished(bool ok, const QString& name, const QString& reason) override {
        if (!ok) failure = name + QStringLiteral(": ") + reason;
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: velk-backup-bench TARGET SOURCE_FOLDER NAME...\n");
        return 2;
    }
    velk::BackupJob job;
    job.target = QString::fromLocal8Bit(argv[1]);
    job.sourceBase = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i)
        job.names << QString::fromLocal8Bit(argv[i]);

    CountingReceiver receiver;
    const auto start = std::chrono::steady_clock::now();
    const int ok = velk::BackupThread(job, receiver);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (!ok) {
        std::fprintf(stderr, "velk-backup-bench: %s\n", qPrintable(receiver.failure));
        return 1;
    }
    std::printf("seconds %.3f steps %d\n", took.count(), receiver.steps);
    return 0;
}
