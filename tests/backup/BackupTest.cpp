#include "AppGlobals.h"
#include "BackupController.h"
#include "BackupTestSupport.h"
#include "BackupThread.h"
#include "CBackupProgress.h"
#include "CNoFlickerStatic.h"
#include "EventLog.h"
#include "SelectFolder.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace velk;
using namespace velk::test;

namespace {

// What the window showed at one progress step.
struct Shown {
    int position;
    int maximum;
    QString text;
};

class BackupTest : public ::testing::Test {
protected:
    void SetUp() override {
        Globals().catalogueMode = false;
        QDir().mkpath(Source());
        QDir().mkpath(Target());
        m_main.resize(400, 300);
        m_main.show();
        m_controller = std::make_unique<BackupController>(&m_main);
        QObject::connect(m_controller.get(), &BackupController::progressChanged, [this] {
            CBackupProgress* window = m_controller->ProgressWindow();
            m_shown.push_back({window->progressBar()->value(), window->progressBar()->maximum(),
                               window->statusText()->text()});
        });
    }
    void TearDown() override {
        for (QMessageBox* box : VisibleMessageBoxes())
            ClickOk(box);
        m_controller.reset();
    }

    QString Source() const { return m_root.filePath("card"); }
    QString Target() const { return m_root.filePath("backup"); }
    QString InSource(const QString& name) const { return Source() + "/" + name; }
    QString InTarget(const QString& name) const { return Target() + "/" + name; }

    // Starts a backup of names from the source to target and waits for its end.
    bool Run(const QStringList& names, const QString& target) {
        QSignalSpy finished(m_controller.get(), &BackupController::backupFinished);
        if (!m_controller->StartBackup(names, Source(), target)) return false;
        EXPECT_FALSE(m_controller->ProgressWindow()->doneButton()->isEnabled());
        EXPECT_TRUE(m_controller->ProgressWindow()->isVisible());
        EXPECT_TRUE(finished.wait(60000));
        return !finished.isEmpty() && finished.first().at(0).toBool();
    }

    QTemporaryDir m_root;
    QWidget m_main;
    std::unique_ptr<BackupController> m_controller;
    std::vector<Shown> m_shown;
};

TEST_F(BackupTest, ThreeFilesFillTheBarInThirdsAndReplaceAnEarlierCopy) {
    const QStringList names{"a_N.mp4", "b_E.mp4", "c_U.mp4"};
    for (int i = 0; i < 3; ++i)
        WriteFile(InSource(names[i]), Pattern((5 << 20) + i, i));
    WriteFile(InTarget("b_E.mp4"), Pattern(1000, 9));
    EventLogCapture log;
    // What the X server shows of the window while it copies and when it is done, for a look
    // by hand.
    const QString shot = qEnvironmentVariable("VELK_BACKUP_SCREENSHOT");
    auto grab = [this](const QString& path) {
        CBackupProgress* window = m_controller->ProgressWindow();
        window->repaint();
        const QRect frame = window->frameGeometry();
        QGuiApplication::primaryScreen()
            ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
            .save(path);
    };
    if (!shot.isEmpty())
        QObject::connect(m_controller.get(), &BackupController::progressChanged, [&](int percent) {
            if (percent == 33) grab(shot + "-copying.png");
        });

    ASSERT_TRUE(Run(names, Target()));

    if (!shot.isEmpty()) {
        QTest::qWait(200);
        grab(shot + "-done.png");
    }
    for (const QString& name : names)
        EXPECT_TRUE(ReadFile(InTarget(name)) == ReadFile(InSource(name))) << name.toStdString();
    EXPECT_EQ(Entries(Target()), names);

    // Each file's end is shown: the bar at a third, two thirds and full; the text's percentage
    // is the overall one.
    std::vector<Shown> ends(3);
    for (const Shown& s : m_shown)
        for (int i = 0; i < 3; ++i)
            if (s.text.startsWith(names[i] + ",")) ends[i] = s;
    EXPECT_EQ(ends[0].text, "a_N.mp4,  33 %");
    EXPECT_EQ(ends[1].text, "b_E.mp4,  66 %");
    EXPECT_EQ(ends[2].text, "c_U.mp4,  100 %");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ends[i].position, 100 * (i + 1));
        EXPECT_EQ(ends[i].maximum, 300);
    }
    for (std::size_t i = 1; i < m_shown.size(); ++i)
        EXPECT_GE(m_shown[i].position, m_shown[i - 1].position);

    CBackupProgress* window = m_controller->ProgressWindow();
    EXPECT_EQ(window->windowTitle(), "Backup");
    EXPECT_TRUE(window->doneButton()->isEnabled());
    EXPECT_EQ(m_controller->backupDonePercent(), 300);
    EXPECT_EQ(m_controller->backupCurrentName(), "c_U.mp4");
    EXPECT_TRUE(VisibleMessageBoxes().isEmpty());

    const QStringList lines = log.Lines();
    EXPECT_TRUE(lines.contains("backup 33"));
    EXPECT_TRUE(lines.contains("backup 66"));
    EXPECT_EQ(lines.filter("backup ").last(), "backup done");
    EXPECT_EQ(lines.filter("backup ").mid(lines.filter("backup ").size() - 2, 1),
              QStringList{"backup 100"});

    QTest::mouseClick(window->doneButton(), Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(BackupTest, SourceFolderFollowsTheCatalogueMode) {
    // The same names in the card's three folders and at the top of the folder, with different
    // contents, so the copy shows where each came from.
    const QStringList names{"1_N.mp4", "2_E.avi", "3_U.mp4", "4_N.avi"};
    const QStringList folders{"ory_rec", "evt_rec", "usr_rec", "ory_rec"};
    for (int i = 0; i < names.size(); ++i) {
        QDir().mkpath(InSource(folders[i]));
        WriteFile(InSource(folders[i] + "/" + names[i]), Pattern(2000 + i, 10 + i));
        WriteFile(InSource(names[i]), Pattern(3000 + i, 20 + i));
    }
    for (const bool catalogue : {true, false}) {
        SCOPED_TRACE(catalogue ? "card catalogue" : "folder opened by hand");
        QDir(Target()).removeRecursively();
        QDir().mkpath(Target());
        Globals().catalogueMode = catalogue;
        ASSERT_TRUE(Run(names, Target()));
        for (int i = 0; i < names.size(); ++i) {
            const QString from = catalogue ? folders[i] + "/" + names[i] : names[i];
            EXPECT_TRUE(ReadFile(InTarget(names[i])) == ReadFile(InSource(from)))
                << names[i].toStdString();
        }
    }
}

// Checks the state a backup of a_N.mp4, b_N.mp4, c_N.mp4 must leave when b_N.mp4 failed:
// the first copied whole, the earlier b_N.mp4 (or the folder of that name) untouched, nothing
// of the third, no temporary file, one message, "Done" enabled.
void ExpectStoppedAtTheSecond(BackupController& controller, const QString& target,
                              const QByteArray& first, const QStringList& entriesBefore,
                              const QByteArray& earlierSecond, const QStringList& lines) {
    EXPECT_TRUE(ReadFile(target + "/a_N.mp4") == first);
    QStringList expected = entriesBefore;
    if (!expected.contains("a_N.mp4")) expected << "a_N.mp4";
    expected.sort();
    EXPECT_EQ(Entries(target), expected);
    if (QFileInfo(target + "/b_N.mp4").isDir()) {
        EXPECT_TRUE(ReadFile(target + "/b_N.mp4/inside") == earlierSecond);
    } else {
        EXPECT_TRUE(ReadFile(target + "/b_N.mp4") == earlierSecond);
    }
    EXPECT_TRUE(controller.ProgressWindow()->doneButton()->isEnabled());
    EXPECT_TRUE(controller.ProgressWindow()->isVisible());
    EXPECT_EQ(controller.backupDonePercent(), 100);
    EXPECT_TRUE(lines.contains("backup failed b_N.mp4"));
    EXPECT_FALSE(lines.contains("backup done"));

    const QList<QMessageBox*> boxes = VisibleMessageBoxes();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0]->text(), "Backup Fail!!!!");
    EXPECT_EQ(boxes[0]->icon(), QMessageBox::Warning);
    EXPECT_EQ(QApplication::activeModalWidget(), boxes[0]);
    ClickOk(boxes[0]);
    EXPECT_TRUE(VisibleMessageBoxes().isEmpty());
}

TEST_F(BackupTest, FailureOnTheSecondOfThreeKeepsTheFirstAndTheEarlierFile) {
    enum Fault { SourceRemoved, NameIsAFolderInTarget };
    for (const Fault fault : {SourceRemoved, NameIsAFolderInTarget}) {
        SCOPED_TRACE(fault == SourceRemoved ? "source removed" : "name is a folder in target");
        QDir(Target()).removeRecursively();
        QDir().mkpath(Target());
        const QByteArray first = Pattern(3 << 20, 1);
        WriteFile(InSource("a_N.mp4"), first);
        WriteFile(InSource("b_N.mp4"), Pattern(3 << 20, 2));
        WriteFile(InSource("c_N.mp4"), Pattern(3 << 20, 3));
        const QByteArray earlier = Pattern(1000, 4);
        if (fault == SourceRemoved) {
            QFile::remove(InSource("b_N.mp4"));
            WriteFile(InTarget("b_N.mp4"), earlier);
        } else {
            QDir().mkpath(InTarget("b_N.mp4"));
            WriteFile(InTarget("b_N.mp4/inside"), earlier);
        }
        const QStringList before = Entries(Target());
        EventLogCapture log;

        EXPECT_FALSE(Run({"a_N.mp4", "b_N.mp4", "c_N.mp4"}, Target()));

        ExpectStoppedAtTheSecond(*m_controller, Target(), first, before, earlier, log.Lines());
    }
}

TEST_F(BackupTest, TargetDiskFillingUpOnTheSecondKeepsTheFirstAndTheEarlierFile) {
    TmpfsMount disk(Target(), "size=1m");
    if (!disk.mounted()) GTEST_SKIP() << disk.failure();
    const QByteArray first = Pattern(200 << 10, 1);
    WriteFile(InSource("a_N.mp4"), first);
    WriteFile(InSource("b_N.mp4"), Pattern(2 << 20, 2));
    WriteFile(InSource("c_N.mp4"), Pattern(10 << 10, 3));
    const QByteArray earlier = Pattern(1000, 4);
    WriteFile(InTarget("b_N.mp4"), earlier);
    const QStringList before = Entries(Target());
    EventLogCapture log;

    EXPECT_FALSE(Run({"a_N.mp4", "b_N.mp4", "c_N.mp4"}, Target()));

    ExpectStoppedAtTheSecond(*m_controller, Target(), first, before, earlier, log.Lines());
}

TEST_F(BackupTest, UnwritableTargetFailsOnceAndTheProgramGoesOn) {
    TmpfsMount disk(Target(), "size=1m", /*readOnly=*/true);
    if (!disk.mounted()) GTEST_SKIP() << disk.failure();
    WriteFile(InSource("a_N.mp4"), Pattern(4096, 1));

    EXPECT_FALSE(Run({"a_N.mp4"}, Target()));

    EXPECT_TRUE(Entries(Target()).isEmpty());
    ASSERT_EQ(VisibleMessageBoxes().size(), 1);
    ClickOk(VisibleMessageBoxes().first());
    EXPECT_TRUE(m_controller->ProgressWindow()->doneButton()->isEnabled());
    // The next backup, to a writable folder, runs as usual.
    const QString other = m_root.filePath("other");
    QDir().mkpath(other);
    EXPECT_TRUE(Run({"a_N.mp4"}, other));
    EXPECT_TRUE(ReadFile(other + "/a_N.mp4") == ReadFile(InSource("a_N.mp4")));
}

TEST_F(BackupTest, SecondBackupWhileOneRunsIsRefusedAndChangesNothing) {
    WriteFile(InSource("a_N.mp4"), Pattern(4 << 20, 1));
    WriteFile(InSource("b_N.mp4"), Pattern(4 << 20, 2));
    const QString second = m_root.filePath("second");
    QDir().mkpath(second);
    QSignalSpy finished(m_controller.get(), &BackupController::backupFinished);

    // Without a return to the event loop between them the first cannot have ended yet.
    ASSERT_TRUE(m_controller->StartBackup({"a_N.mp4"}, Source(), Target()));
    EXPECT_FALSE(m_controller->StartBackup({"b_N.mp4"}, Source(), second));
    EXPECT_EQ(m_controller->backupNames(), QStringList{"a_N.mp4"});
    EXPECT_EQ(m_controller->backupTarget(), Target());

    ASSERT_TRUE(finished.wait(60000));
    EXPECT_TRUE(finished.first().at(0).toBool());
    EXPECT_EQ(Entries(Target()), QStringList{"a_N.mp4"});
    EXPECT_TRUE(Entries(second).isEmpty());
    const QList<QMessageBox*> boxes = VisibleMessageBoxes();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0]->text(), BackupController::RefusalText());
    ClickOk(boxes[0]);
    EXPECT_EQ(m_shown.back().text, "a_N.mp4,  100 %");

    // Once it is over the next one starts.
    EXPECT_TRUE(Run({"b_N.mp4"}, second));
    EXPECT_EQ(Entries(second), QStringList{"b_N.mp4"});
}

// The main window's teardown while a copy runs: the copy ends cleanly at its next chunk, and
// the steps still queued for the controller go with it.
TEST_F(BackupTest, TeardownWhileCopyingLeavesNoPartialFile) {
    const QByteArray big = Pattern(64 << 20, 1);
    WriteFile(InSource("a_N.mp4"), big);
    ASSERT_TRUE(m_controller->StartBackup({"a_N.mp4"}, Source(), Target()));
    QTest::qWait(5);
    m_controller.reset();
    QTest::qWait(50);
    const QStringList left = Entries(Target());
    EXPECT_TRUE(left.isEmpty() || left == QStringList{"a_N.mp4"}) << left.join(' ').toStdString();
    if (!left.isEmpty()) {
        EXPECT_TRUE(ReadFile(InTarget("a_N.mp4")) == big);
    }
}

TEST_F(BackupTest, LongListOfSmallAndEmptyFilesFillsTheBarExactly) {
    QStringList names;
    for (int i = 0; i < 700; ++i) {
        names << QStringLiteral("%1_N.mp4").arg(i, 4, 10, QLatin1Char('0'));
        WriteFile(InSource(names.back()), Pattern(i % 2 ? 100 : 0, i));
    }
    ASSERT_TRUE(Run(names, Target()));
    EXPECT_EQ(Entries(Target()).size(), 700);
    ASSERT_FALSE(m_shown.empty());
    EXPECT_EQ(m_shown.back().maximum, 65535);
    EXPECT_EQ(m_shown.back().position, 65535);
    EXPECT_EQ(m_shown.back().text, "0699_N.mp4,  100 %");
    EXPECT_EQ(m_controller->backupDonePercent(), 70000);
}

TEST(BackupBar, PositionAndTextByFileCount) {
    struct Case {
        int files;
        std::int64_t total;
        int maximum;
        int position;
        const char* text;
    };
    const Case cases[] = {
        {1, 0, 100, 0, "x,  0 %"},
        {3, 100, 300, 100, "x,  33 %"},
        {3, 299, 300, 299, "x,  99 %"},
        {655, 65500, 65500, 65500, "x,  100 %"},
        {656, 32800, 65535, 32767, "x,  50 %"},
        {656, 65600, 65535, 65535, "x,  100 %"},
        {100000, 10000000, 65535, 65535, "x,  100 %"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.files);
        EXPECT_EQ(BarMaximum(c.files), c.maximum);
        EXPECT_EQ(BarPosition(c.total, c.files), c.position);
        EXPECT_EQ(ProgressText("x", c.total, c.files), c.text);
    }
    EXPECT_EQ(ProgressText("100%1_N.mp4", 150, 3), "100%1_N.mp4,  50 %");
}

// Counts the steps a run hands over.
struct CountingReceiver : BackupReceiver {
    std::vector<BackupStep> steps;
    void OnStep(const BackupStep& step) override { steps.push_back(step); }
    void OnFinished(bool, const QString&, const QString&) override {}
};

TEST(BackupSteps, IntermediateStepsAreThrottledAndEachFilesLastIsKept) {
    const BackupJob job{{"a_N.mp4", "b_N.mp4"}, "/nowhere", "/nowhere", false};
    CountingReceiver receiver;
    BackupRun run{job, receiver, QString()};
    QElapsedTimer clock;
    clock.start();
    for (const char* name : {"a_N.mp4", "b_N.mp4"}) {
        run.backupCurrentName = name;
        for (int i = 0; i <= 1000; ++i) {
            const CopyAnswer answer = CopyProgress(1000000, i * 1000, run);
            EXPECT_EQ(answer, i == 1000 ? CopyAnswer::Quiet : CopyAnswer::Continue);
        }
    }
    const qint64 elapsed = clock.elapsed();
    // A first step, each file's last, and at most one per interval in between.
    EXPECT_LE(receiver.steps.size(), std::size_t(3 + elapsed / kStepInterval.count()));
    ASSERT_GE(receiver.steps.size(), 3u);
    EXPECT_EQ(receiver.steps.back().total, 200);
    EXPECT_EQ(receiver.steps.back().donePercent, 200);
    int lastOfFirst = 0;
    for (const BackupStep& step : receiver.steps)
        if (step.currentName == "a_N.mp4") lastOfFirst = int(step.total);
    EXPECT_EQ(lastOfFirst, 100);
}

// Answers the folder dialog with real input once it is up: Cancel, or the path typed into its
// edit box and Enter.
void AnswerFolderDialog(const QString& typed) {
    QTimer::singleShot(50, [typed] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return AnswerFolderDialog(typed);
        EXPECT_EQ(dialog->windowTitle(), "Select Directory");
        if (typed.isEmpty()) {
            QPushButton* cancel =
                dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel);
            QTest::mouseClick(cancel, Qt::LeftButton);
            return;
        }
        auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
        QTest::keyClicks(edit, typed);
        QTest::keyClick(edit, Qt::Key_Return);
    });
}

TEST_F(BackupTest, FolderChoiceCancelledCopiesNothingAndShowsNoWindow) {
    WriteFile(InSource("a_N.mp4"), Pattern(1000, 1));
    const QString chosenFolder = m_root.filePath("chosen");
    QDir().mkpath(chosenFolder);
    for (const QString& typed : {QString(), chosenFolder}) {
        SCOPED_TRACE(typed.isEmpty() ? "cancelled" : "typed");
        AnswerFolderDialog(typed);
        const QString chosen = SelectFolder(&m_main);
        EXPECT_EQ(chosen, typed);
        // What the list panel does with the answer.
        if (!chosen.isEmpty()) {
            QSignalSpy finished(m_controller.get(), &BackupController::backupFinished);
            ASSERT_TRUE(m_controller->StartBackup({"a_N.mp4"}, Source(), chosen));
            ASSERT_TRUE(finished.wait(60000));
        }
        EXPECT_EQ(m_controller->ProgressWindow()->isVisible(), !chosen.isEmpty());
        EXPECT_EQ(Entries(chosenFolder).size(), chosen.isEmpty() ? 0 : 1);
    }
}

} // namespace
