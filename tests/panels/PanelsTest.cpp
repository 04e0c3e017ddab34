// The main window with its control panel and recording lists, in this process on a private
// display: real mouse clicks and key presses on the real widgets, real recordings played by the
// engine, and what the window shows read back from the screen.

#include "AppGlobals.h"
#include "BackupController.h"
#include "CFileList.h"
#include "CFrontViewerDlg.h"
#include "CGdipButton.h"
#include "CMySliderControl.h"
#include "CVELKViewerDlg.h"
#include "CViewerCtlDlg.h"
#include "Engine.h"
#include "QtMessagePoster.h"
#include "Resources.h"
#include "VideoHost.h"
#include "ViewerProcess.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QStyleHints>
#include <QTableView>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

namespace velk {
namespace {

namespace fs = std::filesystem;
using test::ScratchFolder;

// Runs the event loop until done() holds; false after limitMs (a hang guard, not a timing
// expectation).
bool waitUntil(const std::function<bool()>& done, int limitMs = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs) return false;
        QTest::qWait(20);
    }
    return true;
}

// A card folder with small recordings whose pictures are all key frames, so a seek lands on the
// picture of its time. Made once per process.
const std::string& cardFolder() {
    static const std::string folder = [] {
        const std::string root = ScratchFolder() + "/card";
        for (const char* sub : {"ory_rec", "evt_rec", "usr_rec"})
            fs::create_directories(root + "/" + sub);
        const std::vector<std::string> small{"--front", "640x360", "--rear",
                                             "320x180", "--gop",   "0.0333"};
        struct Made {
            const char* path;
            const char* seconds;
        };
        for (const Made& m : {Made{"ory_rec/20200101_000000_N.mp4", "4"},
                              Made{"ory_rec/20200101_000100_N.mp4", "4"},
                              Made{"ory_rec/20200101_000200_N.mp4", "4"},
                              Made{"evt_rec/20200101_000300_E.mp4", "12"}}) {
            auto options = small;
            options.insert(options.end(), {"--duration", m.seconds});
            EXPECT_TRUE(test::MakeRecording(root + "/" + m.path, options)) << m.path;
        }
        return root;
    }();
    return folder;
}

class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Globals() = AppGlobals{};
        Globals().lastActionTime = 0;
        SetSpeedFactor(1);
    }
    void TearDown() override {
        m_main.reset(); // quits the engine and waits for it
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(w)) w->deleteLater();
        QTest::qWait(10);
    }

    CVELKViewerDlg& start(const std::string& path) {
        m_main = std::make_unique<CVELKViewerDlg>(ViewerOptions{QString::fromStdString(path)});
        EXPECT_TRUE(m_main->Initialise());
        m_main->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(m_main.get()));
        return *m_main;
    }

    CViewerCtlDlg& control() { return *m_main->controlPanel(); }
    CFileList& list(RecordingCategory c) { return *m_main->list(c); }

    void doubleClickRow(RecordingCategory c, int row) {
        QTableView* view = list(c).view();
        const QPoint at = view->visualRect(view->model()->index(row, 0)).center();
        // Through the window, as the platform delivers it: press, release, press, double click.
        QWidget* viewport = view->viewport();
        QTest::mouseDClick(viewport->window()->windowHandle(), Qt::LeftButton, {},
                           viewport->mapTo(viewport->window(), at));
    }
    void click(QWidget* w, QPoint at = {}) {
        QTest::mouseClick(w, Qt::LeftButton, {}, at.isNull() ? w->rect().center() : at);
    }
    void key(QWidget* w, Qt::Key k) { QTest::keyClick(w, k); }

    static std::string pathOfRow(int row) {
        static const char* const names[] = {"20200101_000000_N.mp4", "20200101_000100_N.mp4",
                                            "20200101_000200_N.mp4"};
        return cardFolder() + "/ory_rec/" + names[row];
    }
    bool waitForPlayback(const std::string& path) {
        return waitUntil([&] {
            return Globals().currentFilePath == path && engineRunning.load() == 1 &&
                   control().seekSlider()->value() > 0;
        });
    }

    // The picture the front host shows, as the X server has it.
    QImage frontPicture() {
        QScreen* screen = QGuiApplication::primaryScreen();
        return screen->grabWindow(m_main->frontPanel()->videoHost()->winId()).toImage();
    }

    std::unique_ptr<CVELKViewerDlg> m_main;
};

// Whether the picture drawn at rect of the window equals resource image (pixel for pixel).
bool showsImage(QWidget& window, const QRect& rect, const QImage& image) {
    const QImage shown = window.grab(rect).toImage().convertToFormat(QImage::Format_RGB32);
    return !image.isNull() && shown == image.convertToFormat(QImage::Format_RGB32);
}

TEST_F(ViewerTest, StartsWithTheCardListedAndOnlyOpenSpeedAndVolumeEnabled) {
    CVELKViewerDlg& main = start(cardFolder());
    EXPECT_EQ(list(RecordingCategory::Normal).rowCount(), 3);
    EXPECT_EQ(list(RecordingCategory::Event).rowCount(), 1);
    EXPECT_EQ(list(RecordingCategory::Manual).rowCount(), 0);
    EXPECT_TRUE(list(RecordingCategory::Normal).isVisible());
    EXPECT_FALSE(list(RecordingCategory::Event).isVisible());
    EXPECT_EQ(list(RecordingCategory::Normal).RowFileName(1), "20200101_000100_N.mp4");

    // The pictures at their places: the close button, the selected first tab and the others.
    EXPECT_TRUE(showsImage(main, {1028, 0, 38, 42}, resourceImage(155)));
    EXPECT_TRUE(showsImage(main, {720, 330, 120, 34}, resourceImage(228, ResourceType::Bitmap)));
    EXPECT_TRUE(showsImage(main, {840, 330, 120, 34}, resourceImage(235, ResourceType::Bitmap)));
    EXPECT_TRUE(showsImage(main, {0, 467, 17, 55}, resourceImage(158).copy(0, 20, 17, 55)));

    for (int id : {1005, 1006, 1007, 1008, 1009})
        EXPECT_FALSE(control().button(id)->isEnabled()) << id;
    EXPECT_FALSE(control().seekSlider()->isEnabled());
    EXPECT_TRUE(control().button(1004)->isEnabled());
    EXPECT_TRUE(control().speedSlider()->isEnabled());
    EXPECT_TRUE(control().volumeSlider()->isEnabled());
    EXPECT_EQ(control().volumeSlider()->toolTip(), "Volume: 50%");
    EXPECT_EQ(control().speedSlider()->toolTip(), "Speed 1x");

    // Nothing plays: the keys do nothing and never close the window.
    for (Qt::Key k : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Space, Qt::Key_Left, Qt::Key_Right})
        key(list(RecordingCategory::Normal).view(), k);
    EXPECT_TRUE(main.isVisible());
    EXPECT_FALSE(main.isFullScreen());
    EXPECT_FALSE(Globals().playing);
    EXPECT_FALSE(control().everStarted());
}

TEST_F(ViewerTest, SlidersActAtTheClickedPoint) {
    start(cardFolder());
    CMySliderControl* speed = control().speedSlider();
    // A click on the slider sets the speed of the position it lands on.
    struct Case {
        int low, high, factor;
    };
    for (const Case& c : {Case{0, 99, 1}, Case{100, 199, 2}, Case{200, 299, 3}, Case{300, 350, 4},
                          Case{0, 99, 1}}) {
        int x = 0;
        while (x < speed->width()) {
            const auto p = speed->positionForClick(x);
            if (p && *p >= c.low && *p <= c.high) break;
            ++x;
        }
        ASSERT_LT(x, speed->width()) << c.factor;
        click(speed, {x, speed->height() / 2});
        EXPECT_EQ(GetSpeedFactor(), c.factor);
        EXPECT_EQ(speed->toolTip(), QString::asprintf("Speed %dx", c.factor));
    }
    // Dragging the volume to the end gives 100 %.
    CMySliderControl* volume = control().volumeSlider();
    const int y = volume->height() / 2;
    QTest::mousePress(volume, Qt::LeftButton, {}, {volume->width() / 2, y});
    QMouseEvent move(QEvent::MouseMove, QPointF(volume->width() - 1, y),
                     volume->mapToGlobal(QPointF(volume->width() - 1, y)), Qt::NoButton,
                     Qt::LeftButton, {});
    QApplication::sendEvent(volume, &move);
    QTest::mouseRelease(volume, Qt::LeftButton, {}, {volume->width() - 1, y});
    EXPECT_EQ(volume->value(), 128);
    EXPECT_EQ(volume->toolTip(), "Volume: 100%");
}

TEST_F(ViewerTest, TimeLabelsFollowTheEngineMessages) {
    start(cardFolder());
    struct Case {
        std::int64_t seconds;
        const char* shown;
    };
    for (const Case& c : {Case{3725, "01:02:05"}, Case{3725, "01:02:05"}, Case{-1, "00:00:00"},
                          Case{59, "00:00:59"}}) {
        PostWindowMessage(QtMessagePoster::HandleOf(&control()), MsgElapsedSeconds, 0,
                          std::intptr_t(c.seconds));
        QTest::qWait(30);
        EXPECT_EQ(control().elapsedText(), c.shown) << c.seconds;
    }
    control().ShowTotalTime(std::int64_t(90) * 60 * 1000000);
    EXPECT_EQ(control().totalText(), "01:30:00");
    control().ShowTotalTime(-5);
    EXPECT_EQ(control().totalText(), "01:30:00");
}

TEST_F(ViewerTest, DoubleClicksPlayOncePerTwoSecondsAndEnterPlaysAtOnce) {
    CVELKViewerDlg& main = start(cardFolder());
    doubleClickRow(RecordingCategory::Normal, 0);
    ASSERT_TRUE(waitForPlayback(pathOfRow(0)));
    EXPECT_EQ(main.fileLabelText(), "20200101_000000_N.mp4");
    for (int id : {1005, 1006, 1007, 1008, 1009})
        EXPECT_TRUE(control().button(id)->isEnabled());

    // A second double click in the same or the next second is refused.
    doubleClickRow(RecordingCategory::Normal, 1);
    QTest::qWait(300);
    EXPECT_EQ(Globals().currentFilePath, pathOfRow(0));

    // Enter plays the selected row at once, without the time rule.
    QTableView* view = list(RecordingCategory::Normal).view();
    click(view->viewport(), view->visualRect(view->model()->index(2, 0)).center());
    key(view, Qt::Key_Return);
    ASSERT_TRUE(waitForPlayback(pathOfRow(2)));
    EXPECT_EQ(Globals().currentIndex[0], 2);

    // Two seconds later a double click plays again.
    QTest::qWait(2100);
    doubleClickRow(RecordingCategory::Normal, 1);
    ASSERT_TRUE(waitForPlayback(pathOfRow(1)));
}

TEST_F(ViewerTest, NextAndPreviousWrapAndAQuickSecondClickMovesOnce) {
    start(cardFolder());
    doubleClickRow(RecordingCategory::Normal, 2);
    ASSERT_TRUE(waitForPlayback(pathOfRow(2)));
    click(control().button(1009)); // next on the last row: the first
    ASSERT_TRUE(waitForPlayback(pathOfRow(0)));
    // The folder goes with the name in the label after previous/next on the card.
    EXPECT_EQ(m_main->fileLabelText(), "ory_rec/20200101_000000_N.mp4");
    EXPECT_EQ(list(RecordingCategory::Normal).selectedRows(), std::vector<int>{0});
    click(control().button(1005)); // previous on the first row: the last
    ASSERT_TRUE(waitForPlayback(pathOfRow(2)));

    // Two clicks within the double-click time advance by one recording. The second comes while
    // the first one's wait runs (a click here returns only once its handler has).
    QTimer::singleShot(100, m_main.get(), [this] { click(control().button(1009)); });
    click(control().button(1009));
    ASSERT_TRUE(waitForPlayback(pathOfRow(0)));
    QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 300);
    EXPECT_EQ(Globals().currentFilePath, pathOfRow(0));
}

TEST_F(ViewerTest, TheEndOfARecordingPlaysTheNextRowOfTheVisibleList) {
    start(cardFolder());
    doubleClickRow(RecordingCategory::Normal, 1);
    ASSERT_TRUE(waitForPlayback(pathOfRow(1)));
    // Four seconds of recording, then the next row.
    ASSERT_TRUE(waitUntil([] { return Globals().currentFilePath == pathOfRow(2); }, 30000));
    EXPECT_EQ(Globals().currentIndex[0], 2);

    // An end of the stopped recording that is delivered while a switch waits for the engine
    // moves nothing: the row asked for is the one that plays, and it stays.
    PostWindowMessage(QtMessagePoster::HandleOf(&control()), MsgEndOfPlayback);
    list(RecordingCategory::Normal).PlayRow(0);
    ASSERT_TRUE(waitForPlayback(pathOfRow(0)));
    QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 300);
    EXPECT_EQ(Globals().currentFilePath, pathOfRow(0));
    EXPECT_EQ(Globals().currentIndex[0], 0);
    EXPECT_EQ(m_main->fileLabelText().toStdString(), "20200101_000000_N.mp4");
}

TEST_F(ViewerTest, SpaceAnywhereFlipsThePlayButtonAsAClickDoesAndANewRecordingStartsPaused) {
    start(cardFolder());
    doubleClickRow(RecordingCategory::Normal, 0);
    ASSERT_TRUE(waitForPlayback(pathOfRow(0)));
    CGdipButton* play = control().button(1007);
    EXPECT_FALSE(play->isToggled());
    EXPECT_EQ(play->toolTip(), "Pause");

    key(list(RecordingCategory::Normal).view(), Qt::Key_Space);
    EXPECT_TRUE(control().IsPaused());
    EXPECT_TRUE(play->isToggled());
    EXPECT_EQ(play->toolTip(), "Play");
    click(play);
    EXPECT_FALSE(control().IsPaused());
    EXPECT_FALSE(play->isToggled());
    click(play);
    EXPECT_TRUE(control().IsPaused());

    // Another recording chosen while paused starts paused: the position stays at its start.
    QTest::qWait(2100);
    doubleClickRow(RecordingCategory::Normal, 1);
    ASSERT_TRUE(waitUntil(
        [] { return Globals().currentFilePath == pathOfRow(1) && engineRunning.load() == 1; }));
    QTest::qWait(1500);
    EXPECT_EQ(control().elapsedText(), "00:00:00");
    EXPECT_TRUE(play->isToggled());
    EXPECT_EQ(play->toolTip(), "Play");
    // The engine starts each playback in the state the last one ended in: leave it playing.
    key(list(RecordingCategory::Normal).view(), Qt::Key_Space);
    EXPECT_FALSE(control().IsPaused());
}

TEST_F(ViewerTest, APlainClickOnTheSeekBarShowsThatMomentsPicture) {
    start(cardFolder());
    doubleClickRow(RecordingCategory::Normal, 0);
    ASSERT_TRUE(waitForPlayback(pathOfRow(0)));
    key(list(RecordingCategory::Normal).view(), Qt::Key_Space); // pause
    CMySliderControl* seek = control().seekSlider();
    int x = 0;
    while (x < seek->width() && seek->positionForClick(x).value_or(0) < 250)
        ++x;
    click(seek, {x, seek->height() / 2});
    // Four seconds at 30 pictures a second: a quarter is picture 30.
    int frame = -1;
    waitUntil(
        [&] {
            frame = test::FrameCode(frontPicture());
            return frame >= 28 && frame <= 32;
        },
        10000);
    EXPECT_GE(frame, 28);
    EXPECT_LE(frame, 32);
    // The engine starts each playback in the state the last one ended in: leave it playing.
    key(list(RecordingCategory::Normal).view(), Qt::Key_Space);
}

TEST_F(ViewerTest, FullScreenShowsOnlyTheFrontPictureAndBringsBackTheListThatWasShown) {
    CVELKViewerDlg& main = start(cardFolder());
    click(main.findChild<QWidget*>("tab-event"));
    ASSERT_TRUE(list(RecordingCategory::Event).isVisible());
    doubleClickRow(RecordingCategory::Event, 0);
    ASSERT_TRUE(waitUntil([] { return engineRunning.load() == 1 && Globals().playing; }));

    // The double click blocks the toggle for the following seconds, as two quick Enters do.
    QTest::qWait(3100);
    // Not in a list: there Enter plays the selected row.
    QWidget* focus = main.frontPanel();
    key(focus, Qt::Key_Return);
    key(focus, Qt::Key_Return);
    ASSERT_TRUE(main.isFullScreen());
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    EXPECT_EQ(main.frontPanel()->size(), screen);
    EXPECT_EQ(main.frontPanel()->videoHost()->size(), screen);
    for (QWidget* hidden : {static_cast<QWidget*>(main.controlPanel()),
                            static_cast<QWidget*>(&list(RecordingCategory::Event))})
        EXPECT_FALSE(hidden->isVisible());
    // The screen-sized picture is the front camera's, its frame code readable (a flash frame
    // at a whole second is neither, so a few pictures are looked at).
    EXPECT_TRUE(waitUntil(
        [&] {
            const QImage shown = frontPicture();
            return shown.size() == screen && test::CameraOf(shown) == test::Camera::Front &&
                   test::FrameCode(shown) >= 0;
        },
        5000));

    QTest::qWait(3100);
    key(main.frontPanel(), Qt::Key_Escape);
    EXPECT_FALSE(main.isFullScreen());
    EXPECT_EQ(main.frontPanel()->geometry(), QRect(0, 42, 720, 405));
    EXPECT_TRUE(list(RecordingCategory::Event).isVisible());
    EXPECT_FALSE(list(RecordingCategory::Normal).isVisible());
}

TEST_F(ViewerTest, OpeningAFileListsItsFolderAndSelectsIt) {
    const std::string folder = ScratchFolder() + "/opened";
    fs::create_directories(folder);
    ASSERT_TRUE(test::MakeRecording(
        folder + "/a_N.mp4", {"--duration", "3", "--front", "640x360", "--rear", "320x180"}));
    ASSERT_TRUE(test::MakeRecording(
        folder + "/b_E.avi", {"--duration", "3", "--front", "640x360", "--rear", "320x180"}));
    std::ofstream(folder + "/notes.txt") << "not a recording\n";

    start(cardFolder());
    control().OpenRecording(QString::fromStdString(folder + "/b_E.avi"));
    EXPECT_FALSE(Globals().catalogueMode);
    EXPECT_EQ(list(RecordingCategory::Normal).rowCount(), 1);
    ASSERT_EQ(list(RecordingCategory::Event).rowCount(), 1);
    EXPECT_EQ(list(RecordingCategory::Event).RowFileName(0), "b_E.avi");
    EXPECT_TRUE(list(RecordingCategory::Event).isVisible());
    EXPECT_EQ(list(RecordingCategory::Event).selectedRows(), std::vector<int>{0});
    ASSERT_TRUE(waitUntil([&] {
        return Globals().currentFilePath == folder + "/b_E.avi" && engineRunning.load() == 1;
    }));
    // A file that cannot be opened: the message, and the panel still moves on.
    const std::string broken = folder + "/c_N.mp4";
    std::ofstream(broken) << "not a movie";
    control().OpenRecording(QString::fromStdString(broken));
    ASSERT_TRUE(waitUntil([] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
                return box->text() == "The file is corrupted and connot be opened.";
        return false;
    }));
}

TEST_F(ViewerTest, TheVersionBoxNamesTheDeviceOfTheRecordingPlayed) {
    // Telemetry lines carrying the firmware and device code of interest, one per tenth.
    const auto made = [](const std::string& name, int code) {
        const std::string lines = ScratchFolder() + "/" + name + ".txt";
        std::ofstream out(lines);
        for (int tenth = 0; tenth < 30; ++tenth)
            // Padded: the device's lines are at least 80 bytes, and shorter packets are not read.
            out << tenth
                << "\t50,2000,0,0,0/0,3,0,37.5665,126.9780,0/0.1,0.0,0.9,0,0,0,0,0,0/1.2.3," << code
                << ",0" << std::string(20, ' ') << "\n";
        out.close();
        const std::string path = ScratchFolder() + "/" + name;
        EXPECT_TRUE(test::MakeRecording(path, {"--duration", "3", "--front", "640x360", "--rear",
                                               "320x180", "--telemetry-file", lines}));
        return path;
    };
    const std::string velkT = made("t_N.mp4", 0x93);
    const std::string other = made("o_N.mp4", 0x60);

    CVELKViewerDlg& main = start(cardFolder());
    const auto versionText = [&] {
        click(main.findChild<QWidget*>("button1021"));
        QString text;
        waitUntil([&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    text = box->text();
                    box->button(QMessageBox::Ok)->click();
                    return true;
                }
            return false;
        });
        return text;
    };
    EXPECT_EQ(versionText(), "VELK Viewer v5.1.00");
    control().OpenRecording(QString::fromStdString(velkT));
    ASSERT_TRUE(waitUntil([&] { return !main.deviceLabel().isEmpty(); }));
    EXPECT_EQ(versionText(), "VELK Viewer v5.1.00\nVELK-T(0x93) v1.2.03");
    control().OpenRecording(QString::fromStdString(other));
    ASSERT_TRUE(waitUntil([&] { return main.deviceLabel().isEmpty(); }));
    EXPECT_EQ(versionText(), "VELK Viewer v5.1.00");
}

TEST_F(ViewerTest, BackupOfThreeSelectedRowsCopiesThemInRowOrder) {
    start(cardFolder());
    QTableView* view = list(RecordingCategory::Normal).view();
    const auto rowCentre = [&](int row) {
        return view->visualRect(view->model()->index(row, 0)).center();
    };
    // Rows 2, 0 and 1, picked with Ctrl-clicks in that order.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rowCentre(2));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, rowCentre(0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, rowCentre(1));
    ASSERT_EQ(list(RecordingCategory::Normal).selectedRows(), (std::vector<int>{0, 1, 2}));

    const std::string target = ScratchFolder() + "/backup-target";
    fs::create_directories(target);
    // The menu and the folder dialog each run their own loop: they are answered from timers,
    // with keys as a person presses them.
    bool menuSeen = false, dialogSeen = false;
    QTimer::singleShot(300, [&] {
        QWidget* menu = QApplication::activePopupWidget();
        menuSeen = menu != nullptr;
        if (!menu) return;
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
        QTimer::singleShot(500, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            dialogSeen = dialog && dialog->windowTitle() == "Select Directory";
            if (!dialog) return;
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            dialogSeen = dialogSeen && name;
            if (!name) return dialog->reject();
            name->setText(QString::fromStdString(target));
            QTest::keyClick(name, Qt::Key_Return);
        });
    });
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, rowCentre(1),
                                view->viewport()->mapToGlobal(rowCentre(1)));
    QApplication::sendEvent(view->viewport(), &menuEvent);
    EXPECT_TRUE(menuSeen);
    EXPECT_TRUE(dialogSeen);
    ASSERT_TRUE(waitUntil([&] { return !m_main->backup()->IsRunning(); }));
    EXPECT_EQ(
        m_main->backup()->backupNames(),
        (QStringList{"20200101_000000_N.mp4", "20200101_000100_N.mp4", "20200101_000200_N.mp4"}));
    for (int row = 0; row < 3; ++row) {
        const fs::path copy = fs::path(target) / fs::path(pathOfRow(row)).filename();
        ASSERT_TRUE(fs::exists(copy)) << copy;
        EXPECT_EQ(fs::file_size(copy), fs::file_size(pathOfRow(row)));
    }
}

// What a user reads on the real widgets, in English and in Korean: every button's tooltip at
// start, and the two that follow the state (play or pause, zoom in or out) once it changed.
struct ShownText {
    const char* widget;
    const char* english;
    const char* korean;
};

const ShownText kPlaying = {"button1007", "Pause", "일시정지"};
const ShownText kUnzoomed = {"button1002", "Zoom in", "확대"};
const ShownText kTooltipsAtStart[] = {
    {"button1004", "File open", "파일 열기"},
    {"button1005", "Prev file", "이전파일 재생"},
    {"button1006", "Rewind", "뒤로"},
    kPlaying,
    {"button1008", "Fast forward", "앞으로"},
    {"button1009", "Next file", "다음파일 재생"},
    kUnzoomed,
    {"button1023", "Flip horizontal", "좌우 반전"},
    {"button1019", "Viewer switch", "화면 전환"},
    {"button1021", "Version", "버전"},
    {"button1016", "Minimize", "최소화"},
    {"button1017", "Fullscreen", "전체화면"},
    {"button1015", "Close", "프로그램 종료"},
};
const ShownText kPaused = {"button1007", "Play", "재생"};
const ShownText kZoomed = {"button1002", "Zoom out", "축소"};

struct LanguageCase {
    const char* name;
    QLocale locale;
    quint16 language;
    bool korean; // the Korean texts; every other language shows the English ones
    int normalTabSelected;
};

class LanguageTest : public ViewerTest, public ::testing::WithParamInterface<LanguageCase> {
protected:
    QString tooltipOf(const char* widget) {
        QWidget* w = m_main->findChild<QWidget*>(QString::fromLatin1(widget));
        return w ? w->toolTip() : QStringLiteral("[no widget %1]").arg(widget);
    }
    QString expected(const ShownText& text) const {
        return QString::fromUtf8(GetParam().korean ? text.korean : text.english);
    }
};

TEST_P(LanguageTest, TooltipsAndTabPicturesFollowTheLanguage) {
    const LanguageCase& c = GetParam();
    QLocale::setDefault(c.locale);
    CVELKViewerDlg& main = start(cardFolder());
    QLocale::setDefault(QLocale::system());
    EXPECT_EQ(Globals().uiLanguage, c.language);
    for (const ShownText& text : kTooltipsAtStart)
        EXPECT_EQ(tooltipOf(text.widget), expected(text)) << text.widget;
    EXPECT_TRUE(showsImage(main, {720, 330, 120, 34},
                           resourceImage(c.normalTabSelected, ResourceType::Bitmap)));

    // Paused, the play button offers to play; zoomed, the zoom button offers to zoom out. Each
    // is put back: the engine starts the next playback in the state this one leaves.
    doubleClickRow(RecordingCategory::Normal, 0);
    ASSERT_TRUE(waitForPlayback(pathOfRow(0)));
    key(list(RecordingCategory::Normal).view(), Qt::Key_Space);
    EXPECT_EQ(tooltipOf(kPaused.widget), expected(kPaused));
    key(list(RecordingCategory::Normal).view(), Qt::Key_Space);
    EXPECT_EQ(tooltipOf(kPaused.widget), expected(kPlaying));
    QWidget* zoom = main.findChild<QWidget*>(QString::fromLatin1(kZoomed.widget));
    ASSERT_TRUE(zoom);
    ASSERT_TRUE(waitUntil([zoom] { return zoom->isEnabled(); }));
    click(zoom);
    EXPECT_EQ(tooltipOf(kZoomed.widget), expected(kZoomed));
    click(zoom);
    EXPECT_EQ(tooltipOf(kZoomed.widget), expected(kUnzoomed));
}

INSTANTIATE_TEST_SUITE_P(
    Languages, LanguageTest,
    ::testing::Values(
        LanguageCase{"Korean", QLocale(QLocale::Korean, QLocale::SouthKorea), 1042, true, 211},
        LanguageCase{"Japanese", QLocale(QLocale::Japanese, QLocale::Japan), 1041, false, 228},
        LanguageCase{"PrcChinese", QLocale(QLocale::Chinese, QLocale::China), 2052, false, 228},
        LanguageCase{"German", QLocale(QLocale::German, QLocale::Germany), 1033, false, 228}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace velk
