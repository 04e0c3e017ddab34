#pragma once

#include <QWidget>

// One line of status text at the top left on the button-face colour. It paints every pixel
// itself in one pass, so rewriting the text (even with the same text) never flickers.
class CNoFlickerStatic : public QWidget {
    Q_OBJECT

public:
    explicit CNoFlickerStatic(QWidget* parent = nullptr);

    // Stores the text and repaints the whole control.
    void SetText(const QString& text);
    QString text() const { return m_text; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
};
