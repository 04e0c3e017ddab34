#pragma once

#include <QWidget>

class QKeyEvent;

namespace velk {

// A child panel of the main window. The main window sees every key press before any widget:
// it offers the key to each panel from the focus widget up to itself, and the first whose
// PreTranslateKey returns true consumes it; a key no panel takes gets the main window's own
// handling (Enter/Escape/Space/Left/Right, always consumed). A panel overrides this only where
// its keys differ from the main window's. A left click gives the panel the keyboard focus.
// User-interface thread only.
class PanelWidget : public QWidget {
public:
    explicit PanelWidget(QWidget* parent = nullptr) : QWidget(parent) {
        setFocusPolicy(Qt::ClickFocus);
    }
    virtual bool PreTranslateKey(const QKeyEvent& event) {
        (void)event;
        return false;
    }
};

} // namespace velk
