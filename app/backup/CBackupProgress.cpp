#include "CBackupProgress.h"

#include "CNoFlickerStatic.h"

#include <QProgressBar>
#include <QPushButton>

#include <cmath>

namespace {

// The window's layout is given in dialog units of an 8-point dialog font, which measures
// 6 x 13 pixels per character cell at 96 dpi: one unit is 1.5 pixels across and 1.625 down.
QRect FromDialogUnits(int x, int y, int width, int height) {
    const auto across = [](int units) { return int(std::lround(units * 1.5)); };
    const auto down = [](int units) { return int(std::lround(units * 1.625)); };
    return QRect(across(x), down(y), across(width), down(height));
}

} // namespace

CBackupProgress::CBackupProgress(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_bar(new QProgressBar(this)), m_text(new CNoFlickerStatic(this)),
      m_done(new QPushButton(QStringLiteral("Done"), this)) {
    setObjectName(QStringLiteral("CBackupProgress"));
    setWindowTitle(QStringLiteral("Backup"));
    QFont dialogFont = font();
    dialogFont.setPixelSize(11);
    setFont(dialogFont);
    setFixedSize(FromDialogUnits(0, 0, 309, 39).size());

    m_bar->setObjectName(QStringLiteral("progress%1").arg(kProgressBarId));
    m_bar->setGeometry(FromDialogUnits(7, 7, 295, 13));
    m_bar->setTextVisible(false);
    m_bar->setRange(0, 100);
    m_bar->setValue(0);

    m_text->setObjectName(QStringLiteral("text%1").arg(kTextId));
    m_text->setGeometry(FromDialogUnits(15, 24, 216, 8));

    m_done->setObjectName(QStringLiteral("done%1").arg(kDoneId));
    m_done->setGeometry(FromDialogUnits(252, 22, 50, 14));
    connect(m_done, &QPushButton::clicked, this, &QWidget::hide);
}

void CBackupProgress::SetText(const QString& text) { m_text->SetText(text); }

void CBackupProgress::EnableDone(bool enable) { m_done->setEnabled(enable); }

void CBackupProgress::SetRange(int maximum) { m_bar->setRange(0, maximum); }

void CBackupProgress::SetPosition(int position) { m_bar->setValue(position); }
