#include "CGdipButton.h"
#include "CNoFlickerStatic.h"

#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

const QColor kParentColour(200, 30, 160);

// A top-level window in one plain colour holding the widgets under test, shown on the display.
class Stage : public ::testing::Test {
protected:
    void SetUp() override {
        window.setAutoFillBackground(true);
        QPalette palette = window.palette();
        palette.setColor(QPalette::Window, kParentColour);
        window.setPalette(palette);
        window.resize(240, 120);
        // Away from the screen's corner and centre, where other tests' windows and the real
        // pointer of the shared display tend to be.
        window.move(1400, 700);
    }

    CGdipButton* addButton(int normal, int alternate = 0, QPoint at = {20, 20}) {
        auto* button = new CGdipButton(&window);
        button->LoadNormalImage(normal);
        if (alternate) button->LoadAlternateImage(alternate);
        button->setGeometry(
            QRect(at, button->sizeHint().isEmpty() ? QSize(38, 38) : button->sizeHint()));
        return button;
    }

    void show() {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        // Park the pointer away from every widget under test. Two steps: the window system
        // drops a move to the point where the pointer already is, which the previous test's
        // window may have left it at.
        QTest::mouseMove(handle(), QPoint(225, 105));
        QTest::mouseMove(handle(), QPoint(230, 110));
    }

    QWindow* handle() { return window.windowHandle(); }
    QPoint centreOf(QWidget* w) { return w->geometry().center(); }
    QImage look(QWidget* w) {
        return window.grab(w->geometry()).toImage().convertToFormat(QImage::Format_RGB32);
    }

    QWidget window;
};

using ButtonTest = Stage;

TEST_F(ButtonTest, HoverBrightensThroughTheColourMatrixAndLeavingRestores) {
    CGdipButton* button = addButton(159);
    show();
    const QImage plain = look(button);

    QTest::mouseMove(handle(), centreOf(button));
    ASSERT_TRUE(button->isHovering());
    const QImage hover = look(button);
    // Every channel c becomes 1.05 c + 0.05 (of 255), alpha kept; the picture is opaque.
    int checked = 0;
    for (int y = 0; y < plain.height(); y += 3) {
        for (int x = 0; x < plain.width(); x += 3) {
            const QColor p = plain.pixelColor(x, y), h = hover.pixelColor(x, y);
            auto lifted = [](int c) { return qMin(255, qRound(1.05 * c + 12.75)); };
            ASSERT_NEAR(h.red(), lifted(p.red()), 1) << x << "," << y;
            ASSERT_NEAR(h.green(), lifted(p.green()), 1) << x << "," << y;
            ASSERT_NEAR(h.blue(), lifted(p.blue()), 1) << x << "," << y;
            ++checked;
        }
    }
    EXPECT_GT(checked, 100);

    QTest::mouseMove(handle(), QPoint(230, 110));
    EXPECT_FALSE(button->isHovering());
    EXPECT_EQ(look(button), plain);
}

TEST_F(ButtonTest, DisabledButtonDoesNotLightUp) {
    CGdipButton* button = addButton(265);
    button->setEnabled(false);
    show();
    const QImage plain = look(button);
    QTest::mouseMove(handle(), centreOf(button));
    EXPECT_EQ(look(button), plain);
    QSignalSpy clicks(button, &QAbstractButton::clicked);
    QTest::mouseClick(handle(), Qt::LeftButton, {}, centreOf(button));
    EXPECT_EQ(clicks.count(), 0);
}

TEST_F(ButtonTest, PressedPictureIsShiftedOnePixelRightAndDown) {
    CGdipButton* button = addButton(160);
    show();
    const QImage plain = look(button);
    QTest::mousePress(handle(), Qt::LeftButton, {}, centreOf(button));
    ASSERT_TRUE(button->isDown());
    const QImage pressed = look(button);
    QTest::mouseRelease(handle(), Qt::LeftButton, {}, centreOf(button));

    const int w = plain.width(), h = plain.height();
    EXPECT_EQ(pressed.copy(1, 1, w - 1, h - 1), plain.copy(0, 0, w - 1, h - 1));
    // The uncovered top row and left column show the parent.
    EXPECT_EQ(pressed.pixelColor(5, 0), kParentColour);
    EXPECT_EQ(pressed.pixelColor(0, 5), kParentColour);
}

TEST_F(ButtonTest, ParentShowsThroughTheAlphaAndAButtonWithoutPictureDrawsNothing) {
    CGdipButton* withAlpha = addButton(163, 0, {20, 20});
    CGdipButton* withoutPicture = addButton(9999, 0, {80, 20});
    CGdipButton* undecodable = addButton(9998, 0, {140, 20});
    show();
    const QImage alpha = look(withAlpha);
    EXPECT_EQ(alpha.pixelColor(0, 0), kParentColour);   // outside the round ground
    EXPECT_NE(alpha.pixelColor(19, 19), kParentColour); // the picture itself
    for (CGdipButton* empty : {withoutPicture, undecodable}) {
        const QImage image = look(empty);
        QImage parentOnly(image.size(), QImage::Format_RGB32);
        parentOnly.fill(kParentColour);
        EXPECT_EQ(image, parentOnly);
    }
}

TEST_F(ButtonTest, ToggleModeFlipsPictureOnEachClick) {
    CGdipButton* play = addButton(163, 162, {20, 20});
    play->EnableToggle(true);
    CGdipButton* pauseRef = addButton(163, 0, {80, 20});
    CGdipButton* playRef = addButton(162, 0, {140, 20});
    show();
    ASSERT_TRUE(play->isToggleMode());
    EXPECT_EQ(look(play), look(pauseRef));

    QSignalSpy clicks(play, &QAbstractButton::clicked);
    QTest::mousePress(handle(), Qt::LeftButton, {}, centreOf(play));
    // Pressed: the state the click brings, one pixel down and right; no click yet.
    const QImage pressed = look(play);
    const QImage altPlain = look(playRef);
    EXPECT_EQ(pressed.copy(1, 1, 37, 37), altPlain.copy(0, 0, 37, 37));
    EXPECT_FALSE(play->isToggled());
    QTest::mouseRelease(handle(), Qt::LeftButton, {}, centreOf(play));
    EXPECT_TRUE(play->isToggled());
    EXPECT_EQ(clicks.count(), 1);

    QTest::mouseMove(handle(), QPoint(230, 110));
    EXPECT_EQ(look(play), altPlain);
    QTest::mouseClick(handle(), Qt::LeftButton, {}, centreOf(play));
    QTest::mouseMove(handle(), QPoint(230, 110));
    EXPECT_FALSE(play->isToggled());
    EXPECT_EQ(look(play), look(pauseRef));
}

TEST_F(ButtonTest, PressLeftWithoutClickKeepsTheToggleState) {
    CGdipButton* play = addButton(163, 162);
    play->EnableToggle(true);
    show();
    QTest::mousePress(handle(), Qt::LeftButton, {}, centreOf(play));
    QTest::mouseMove(handle(), QPoint(230, 110));
    QTest::mouseRelease(handle(), Qt::LeftButton, {}, QPoint(230, 110));
    EXPECT_FALSE(play->isToggled());
}

TEST_F(ButtonTest, FlipToggleFlipsWithoutAClick) {
    CGdipButton* play = addButton(163, 162, {20, 20});
    play->EnableToggle(true);
    CGdipButton* playRef = addButton(162, 0, {80, 20});
    show();
    QSignalSpy clicks(play, &QAbstractButton::clicked);
    play->FlipToggle();
    EXPECT_TRUE(play->isToggled());
    EXPECT_EQ(clicks.count(), 0);
    play->update();
    EXPECT_EQ(look(play), look(playRef));
    play->FlipToggle();
    EXPECT_FALSE(play->isToggled());
}

TEST_F(ButtonTest, ToggleNeedsAnAlternatePicture) {
    CGdipButton* plain = addButton(159);
    CGdipButton* brokenAlternate = addButton(163, 9999, {80, 20});
    plain->EnableToggle(true);
    brokenAlternate->EnableToggle(true);
    show();
    EXPECT_FALSE(plain->isToggleMode());
    EXPECT_FALSE(brokenAlternate->hasAlternate());
    EXPECT_FALSE(brokenAlternate->isToggleMode());
    QTest::mouseClick(handle(), Qt::LeftButton, {}, centreOf(plain));
    EXPECT_FALSE(plain->isToggled());
}

// A double click arrives as press, release, double-click, release; it must count twice whether
// the window system also repeats the press or not.
TEST_F(ButtonTest, DoubleClickActsAsTwoClicks) {
    CGdipButton* next = addButton(165);
    CGdipButton* play = addButton(163, 162, {80, 20});
    play->EnableToggle(true);
    show();

    QSignalSpy nextClicks(next, &QAbstractButton::clicked);
    QTest::mouseDClick(handle(), Qt::LeftButton, {}, centreOf(next)); // through the window system
    EXPECT_EQ(nextClicks.count(), 2);

    QSignalSpy playClicks(play, &QAbstractButton::clicked);
    const QPoint local = play->rect().center();
    QTest::mouseClick(play, Qt::LeftButton, {}, local);
    QTest::mouseDClick(play, Qt::LeftButton, {}, local); // the double-click event alone
    QTest::mouseRelease(play, Qt::LeftButton, {}, local);
    EXPECT_EQ(playClicks.count(), 2);
    EXPECT_FALSE(play->isToggled()); // flipped twice
}

TEST(NoFlickerStatic, PaintsTextOnTheButtonFaceEveryTime) {
    QWidget parent;
    QFont font = parent.font();
    font.setPixelSize(14);
    parent.setFont(font);
    parent.resize(200, 40);
    auto* status = new CNoFlickerStatic(&parent);
    status->setGeometry(0, 0, 200, 20);
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    EXPECT_EQ(status->font().pixelSize(), 14); // the parent's font

    status->SetText(QStringLiteral("Copying 3 / 10"));
    const QImage first = status->grab().toImage();
    status->SetText(QStringLiteral("Copying 3 / 10"));
    const QImage second = status->grab().toImage();
    EXPECT_EQ(first, second);
    const QColor face = status->palette().color(QPalette::Button);
    EXPECT_EQ(first.pixelColor(199, 19), face); // background right of the text
    bool hasText = false;
    for (int x = 0; x < 60 && !hasText; ++x)
        for (int y = 0; y < 20 && !hasText; ++y)
            hasText = first.pixelColor(x, y) != face;
    EXPECT_TRUE(hasText);
}

} // namespace
