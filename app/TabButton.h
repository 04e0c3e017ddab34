#pragma once

#include "Resources.h"

#include <QAbstractButton>
#include <QImage>
#include <QPainter>

namespace velk {

// A category tab: its selected or unselected bitmap, nothing else. User-interface thread only.
class TabButton : public QAbstractButton {
public:
    explicit TabButton(QWidget* parent) : QAbstractButton(parent) { setFocusPolicy(Qt::NoFocus); }

    void SetImages(int unselected, int selected) {
        m_unselected = resourceImage(unselected, ResourceType::Bitmap);
        m_selected = resourceImage(selected, ResourceType::Bitmap);
        update();
    }
    void SetSelected(bool selected) {
        if (selected == m_isSelected) return;
        m_isSelected = selected;
        update();
    }
    bool isSelectedTab() const { return m_isSelected; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawImage(QPoint(0, 0), m_isSelected ? m_selected : m_unselected);
    }

private:
    QImage m_unselected;
    QImage m_selected;
    bool m_isSelected = false;
};

} // namespace velk
