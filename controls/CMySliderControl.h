#pragma once

#include <QSlider>

#include <optional>

// Slider that draws only a thin channel frame and a round thumb, so the panel's picture shows
// around them, and that jumps its thumb straight to a clicked point. A plain click is reported
// with clicked(); dragging afterwards reports sliderMoved() like any slider. Lives on the
// user-interface thread.
class CMySliderControl : public QSlider {
    Q_OBJECT

public:
    explicit CMySliderControl(QWidget* parent = nullptr);
    explicit CMySliderControl(Qt::Orientation orientation, QWidget* parent = nullptr);

    // The strip the thumb's centre runs along: 8 pixels in from both ends, 6 pixels thick,
    // centred across the slider. Empty when the slider is too short.
    QRect channelRect() const;
    QRect thumbRect() const;

    // Where a click at coordinate x along the slider puts the thumb: min left of the channel,
    // max - 1 at or right of its end, else the nearest step. nullopt when the channel or the
    // range is empty: such a click does not move the thumb.
    std::optional<int> positionForClick(int x) const;

    // Thumb fill; an invalid colour means the palette's button colour. The pressed fill's invalid
    // colour means the palette's 3-D highlight (light) colour.
    void setThumbColor(const QColor& color);
    void setPressedThumbColor(const QColor& color);
    QColor thumbColor() const { return m_thumbColor; }

    QSize sizeHint() const override;

signals:
    // The left button went down at a point of the slider; position is the thumb's position
    // after the jump (unchanged when the click could not move it).
    void clicked(int position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int along(const QPoint& point) const;
    int positionForDrag(int x) const;
    int offsetOf(int position) const;

    QColor m_thumbColor{184, 184, 184};
    QColor m_pressedThumbColor; // invalid: palette light
    bool m_dragging = false;
};
