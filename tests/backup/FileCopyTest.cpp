#include "FileCopy.h"
#include "BackupTestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

using namespace velk;
using namespace velk::test;

namespace {

struct Call {
    std::int64_t total;
    std::int64_t transferred;
};

class FileCopyTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return m_root.filePath(name); }
    QTemporaryDir m_root;
};

TEST_F(FileCopyTest, ReplacesAnEarlierFileWholeAndReportsEveryStepToTheEnd) {
    // More than one in-kernel step, and not a multiple of it.
    const QByteArray source = Pattern((19 << 20) + 12345, 1);
    WriteFile(Path("a_N.mp4"), source);
    QFile(Path("a_N.mp4"))
        .setFileTime(QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5)),
                     QFileDevice::FileModificationTime);
    QDir().mkdir(Path("out"));
    WriteFile(Path("out/a_N.mp4"), Pattern(1000, 2));

    std::vector<Call> calls;
    const CopyResult result =
        CopyFileWithProgress(Path("a_N.mp4"), Path("out/a_N.mp4"), [&](auto total, auto done) {
            calls.push_back({total, done});
            return CopyAnswer::Continue;
        });

    ASSERT_TRUE(result.ok) << result.Reason().toStdString();
    EXPECT_TRUE(ReadFile(Path("out/a_N.mp4")) == source);
    EXPECT_EQ(Entries(Path("out")), QStringList{"a_N.mp4"});
    EXPECT_EQ(QFileInfo(Path("out/a_N.mp4")).lastModified(),
              QFileInfo(Path("a_N.mp4")).lastModified());
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front().transferred, 0);
    EXPECT_EQ(calls.back().transferred, source.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].total, source.size());
        if (i > 0) {
            EXPECT_GT(calls[i].transferred, calls[i - 1].transferred);
        }
    }
}

TEST_F(FileCopyTest, QuietEndsTheCallsButNotTheCopy) {
    const QByteArray source = Pattern(20 << 20, 3);
    WriteFile(Path("a_N.mp4"), source);
    int calls = 0;
    const CopyResult result =
        CopyFileWithProgress(Path("a_N.mp4"), Path("copy.mp4"), [&](auto, auto) {
            ++calls;
            return CopyAnswer::Quiet;
        });
    ASSERT_TRUE(result.ok) << result.Reason().toStdString();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(ReadFile(Path("copy.mp4")) == source);
}

// A backup into the folder the recordings come from: the file is replaced by its own copy.
TEST_F(FileCopyTest, CopyOntoItselfKeepsTheFile) {
    const QByteArray source = Pattern(3 << 20, 12);
    WriteFile(Path("a_N.mp4"), source);
    const CopyResult result = CopyFileWithProgress(Path("a_N.mp4"), Path("a_N.mp4"), nullptr);
    ASSERT_TRUE(result.ok) << result.Reason().toStdString();
    EXPECT_TRUE(ReadFile(Path("a_N.mp4")) == source);
    EXPECT_EQ(Entries(m_root.path()), QStringList{"a_N.mp4"});
}

TEST_F(FileCopyTest, EmptyFileIsCopiedWithOneCallOfZeroTotal) {
    WriteFile(Path("empty_E.mp4"), QByteArray());
    WriteFile(Path("copy.mp4"), Pattern(1000, 4));
    std::vector<Call> calls;
    const CopyResult result =
        CopyFileWithProgress(Path("empty_E.mp4"), Path("copy.mp4"), [&](auto total, auto done) {
            calls.push_back({total, done});
            return CopyAnswer::Continue;
        });
    ASSERT_TRUE(result.ok) << result.Reason().toStdString();
    EXPECT_EQ(QFileInfo(Path("copy.mp4")).size(), 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].total, 0);
}

// Each failing copy leaves the target folder as it was: the earlier file of the name (or the
// folder of the name) untouched and no temporary file.
TEST_F(FileCopyTest, FailureLeavesTheTargetFolderAsItWas) {
    struct Case {
        const char* name;
        const char* source;  // relative to the root
        const char* target;  // relative to the root
        bool targetIsFolder; // the target name exists as a folder
        bool cancel;
        int error;
    };
    const Case cases[] = {
        {"source missing", "missing_N.mp4", "out/missing_N.mp4", false, false, ENOENT},
        {"source is a folder", "folder_N.mp4", "out/folder_N.mp4", false, false, EISDIR},
        {"target name is a folder", "a_N.mp4", "out/taken_N.mp4", true, false, EISDIR},
        {"target folder missing", "a_N.mp4", "nowhere/a_N.mp4", false, false, ENOENT},
        {"cancelled", "a_N.mp4", "out/a_N.mp4", false, true, ECANCELED},
    };
    WriteFile(Path("a_N.mp4"), Pattern(3 << 20, 5));
    QDir().mkdir(Path("folder_N.mp4"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(Path("out")).removeRecursively();
        QDir().mkdir(Path("out"));
        const QString target = Path(c.target);
        const QByteArray earlier = Pattern(1000, 6);
        if (c.targetIsFolder) {
            QDir().mkdir(target);
            WriteFile(target + "/inside", earlier);
        } else if (QFileInfo(target).dir().exists()) {
            WriteFile(target, earlier);
        }
        const QStringList before = Entries(Path("out"));
        std::atomic<bool> cancel{c.cancel};

        const CopyResult result = CopyFileWithProgress(Path(c.source), target, nullptr, &cancel);

        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, c.error) << result.Reason().toStdString();
        EXPECT_EQ(Entries(Path("out")), before);
        if (c.targetIsFolder) {
            EXPECT_TRUE(ReadFile(target + "/inside") == earlier);
        } else if (QFileInfo(target).dir().exists()) {
            EXPECT_TRUE(ReadFile(target) == earlier);
        }
    }
}

// A card pulled out or a file cut short while it is read: what was read is no whole copy.
TEST_F(FileCopyTest, SourceCutShortWhileReadIsNotAccepted) {
    WriteFile(Path("a_N.mp4"), Pattern(20 << 20, 10));
    QDir().mkdir(Path("out"));
    const QByteArray earlier = Pattern(1000, 11);
    WriteFile(Path("out/a_N.mp4"), earlier);
    const CopyResult result =
        CopyFileWithProgress(Path("a_N.mp4"), Path("out/a_N.mp4"), [&](auto, auto done) {
            if (done > 0) QFile::resize(Path("a_N.mp4"), 5 << 20);
            return CopyAnswer::Continue;
        });
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.step, "size check");
    EXPECT_EQ(Entries(Path("out")), QStringList{"a_N.mp4"});
    EXPECT_TRUE(ReadFile(Path("out/a_N.mp4")) == earlier);
}

TEST_F(FileCopyTest, FullDiskKeepsTheEarlierFileAndLeavesNoTemporary) {
    QDir().mkdir(Path("small"));
    TmpfsMount disk(Path("small"), "size=1m");
    if (!disk.mounted()) GTEST_SKIP() << disk.failure();
    const QByteArray earlier = Pattern(1000, 7);
    WriteFile(Path("small/b_N.mp4"), earlier);
    WriteFile(Path("b_N.mp4"), Pattern(3 << 20, 8));

    const CopyResult result = CopyFileWithProgress(Path("b_N.mp4"), Path("small/b_N.mp4"), nullptr);

    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, ENOSPC) << result.Reason().toStdString();
    EXPECT_EQ(Entries(Path("small")), QStringList{"b_N.mp4"});
    EXPECT_TRUE(ReadFile(Path("small/b_N.mp4")) == earlier);
}

TEST_F(FileCopyTest, ReadOnlyTargetFailsBeforeWriting) {
    QDir().mkdir(Path("ro"));
    TmpfsMount disk(Path("ro"), "size=1m", /*readOnly=*/true);
    if (!disk.mounted()) GTEST_SKIP() << disk.failure();
    WriteFile(Path("a_N.mp4"), Pattern(4096, 9));
    const CopyResult result = CopyFileWithProgress(Path("a_N.mp4"), Path("ro/a_N.mp4"), nullptr);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, EROFS) << result.Reason().toStdString();
    EXPECT_TRUE(Entries(Path("ro")).isEmpty());
}

} // namespace
