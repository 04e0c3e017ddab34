#pragma once

#include "CGdiPlusBitmap.h"

#include <QAbstractButton>

// Push button drawn from a picture: brighter while the mouse is over it, shifted one pixel right
// and down while pressed, optionally flipping to an alternate picture on every click. It paints
// nothing but the picture, so the parent's background shows through the picture's alpha.
// A button without a normal picture draws nothing. Lives on the user-interface thread.
class CGdipButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit CGdipButton(QWidget* parent = nullptr);
    // A button of a panel's table: named "button<id>" after its control id (the tests and the
    // event log find it by that name), at rect, with its normal picture and its tooltip.
    static CGdipButton* Create(QWidget* parent, int id, const QRect& rect, int picture,
                               const QString& tooltip);

    // Load the normal and the alternate picture; false when the resource does not decode, which
    // leaves that picture absent. The owner places the button; sizeHint() is the picture's size.
    bool LoadNormalImage(int number, velk::ResourceType type = velk::ResourceType::Png);
    bool LoadAlternateImage(int number, velk::ResourceType type = velk::ResourceType::Png);

    // Toggle mode: each click flips between the normal and the alternate picture. Only switched
    // on when an alternate picture is loaded.
    void EnableToggle(bool on);
    // Flips the toggle state without a click and paints the pressed look of the new state at
    // once; the next repaint shows the plain look again. For state changes made elsewhere (the
    // keyboard's play/pause).
    void FlipToggle();

    bool hasAlternate() const { return !m_alternate[Plain].isNull(); }
    bool isToggleMode() const { return m_toggleMode; }
    // false: the normal picture is shown; true: the alternate one.
    bool isToggled() const { return m_toggled; }
    bool isHovering() const { return m_hovering; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    enum Look { Plain, Hover, LookCount };

    bool loadLooks(int number, velk::ResourceType type, QImage* looks);

    QImage m_normal[LookCount];
    QImage m_alternate[LookCount];
    bool m_toggleMode = false;
    bool m_toggled = false;
    bool m_hovering = false;
    bool m_showFlipped = false; // FlipToggle's pressed look, for one paint
};
