#pragma once
// A native child window the engine draws into through SDL. Qt must never paint it: the engine's
// renderer owns its pixels, so the widget has no paint engine and no background. SDL moves a
// wrapped window back to where it was wrapped whenever it resizes it, so a host always sits at
// (0,0) of its own native panel, and layouts move the panel.

#include <QWidget>

namespace velk {

class VideoHost : public QWidget {
public:
    explicit VideoHost(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_NativeWindow);
        setAttribute(Qt::WA_PaintOnScreen);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
    }
    QPaintEngine* paintEngine() const override { return nullptr; }
};

} // namespace velk
