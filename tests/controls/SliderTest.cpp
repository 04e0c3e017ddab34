#include "CMySliderControl.h"

#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

// The seek slider of the control panel: 620 x 20 at (50, 0), range 0..1000, so its channel runs
// from x = 8 to x = 612.
class SeekSlider : public ::testing::Test {
protected:
    void SetUp() override {
        window.resize(720, 75);
        window.move(1100, 900); // clear of the shared display's corner and centre
        slider = new CMySliderControl(Qt::Horizontal, &window);
        slider->setGeometry(50, 0, 620, 20);
        slider->setRange(0, 1000);
        slider->setValue(400);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    // A real click through the window system at slider x.
    void clickAt(int x, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(window.windowHandle(), button, {}, QPoint(50 + x, 10));
    }

    QWidget window;
    CMySliderControl* slider = nullptr;
};

// position = min + ((x - l)(max - min) + w/2) / w with w = r - l - 1 = 603, inside the channel;
// min left of it and max - 1 at or right of its end.
TEST_F(SeekSlider, ClickPutsTheThumbByTheClickRule) {
    const QRect channel = slider->channelRect();
    ASSERT_EQ(channel.left(), 8);
    ASSERT_EQ(channel.left() + channel.width(), 612);
    struct Row {
        int x;
        int position;
    };
    const Row rows[] = {{0, 0},     {7, 0},     {8, 0},      {9, 2},     {310, 501},
                        {311, 502}, {610, 998}, {611, 1000}, {612, 999}, {619, 999}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.x);
        if (row.x >= 8 && row.x < 612) {
            EXPECT_EQ(row.position, (qint64(row.x - 8) * 1000 + 603 / 2) / 603);
        }
        slider->setValue(400);
        clickAt(row.x);
        EXPECT_EQ(slider->value(), row.position);
        EXPECT_FALSE(slider->isSliderDown());
    }
}

TEST_F(SeekSlider, PlainClickIsReportedButIsNoThumbTracking) {
    QSignalSpy clicked(slider, &CMySliderControl::clicked);
    QSignalSpy moved(slider, &QAbstractSlider::sliderMoved);
    clickAt(310);
    ASSERT_EQ(clicked.count(), 1);
    EXPECT_EQ(clicked.at(0).at(0).toInt(), 501);
    EXPECT_EQ(moved.count(), 0);

    clickAt(310, Qt::RightButton);
    EXPECT_EQ(clicked.count(), 1);
}

TEST_F(SeekSlider, DragAfterTheClickTracksTheThumbToTheFullRange) {
    QSignalSpy moved(slider, &QAbstractSlider::sliderMoved);
    QWindow* handle = window.windowHandle();
    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(50 + 100, 10));
    EXPECT_TRUE(slider->isSliderDown());
    QTest::mouseMove(handle, QPoint(50 + 310, 10));
    QTest::mouseMove(handle, QPoint(50 + 615, 10));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(50 + 615, 10));
    ASSERT_EQ(moved.count(), 2);
    EXPECT_EQ(moved.at(0).at(0).toInt(), 501);
    EXPECT_EQ(moved.at(1).at(0).toInt(), 1000);
    EXPECT_EQ(slider->value(), 1000);
    EXPECT_FALSE(slider->isSliderDown());
}

TEST_F(SeekSlider, EmptyRangeOrChannelDoesNotMoveButStillReports) {
    QSignalSpy clicked(slider, &CMySliderControl::clicked);
    slider->setRange(5, 5);
    clickAt(310);
    EXPECT_EQ(slider->value(), 5);

    slider->setRange(0, 1000);
    slider->setValue(400);
    slider->setGeometry(50, 0, 16, 20); // no room for a channel
    clickAt(10);
    EXPECT_EQ(slider->value(), 400);
    EXPECT_EQ(clicked.count(), 2);
}

TEST_F(SeekSlider, DrawsChannelFrameAndRoundThumbOverTheParent) {
    const QColor ground(20, 22, 24);
    window.setAutoFillBackground(true);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, ground);
    window.setPalette(palette);
    slider->setValue(0);
    auto pixelAt = [&](int x, int y) {
        return window.grab(QRect(50, 0, 620, 20)).toImage().pixelColor(x, y);
    };
    const QRect thumb = slider->thumbRect();
    EXPECT_EQ(pixelAt(thumb.center().x(), thumb.center().y()), QColor(184, 184, 184));
    // The frame's top edge, well right of the thumb, and the parent above it.
    const int frameTop = slider->channelRect().top() + 1;
    EXPECT_EQ(pixelAt(300, frameTop), QColor(100, 100, 100));
    EXPECT_EQ(pixelAt(300, frameTop - 2), ground);
    EXPECT_EQ(pixelAt(300, frameTop + 1), ground); // only a frame: the channel shows the parent
    EXPECT_EQ(pixelAt(2, 2), ground);

    // Pressed, the thumb takes the 3-D highlight colour.
    QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, QPoint(50 + 8, 10));
    EXPECT_EQ(pixelAt(thumb.center().x(), thumb.center().y()),
              slider->palette().color(QPalette::Light));
    QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, QPoint(50 + 8, 10));
}

} // namespace
