#include "SelectFolder.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

namespace velk {

QString SelectFolder(QWidget* owner) {
    QString start = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!QFileInfo(start).isDir()) start = QDir::homePath();
    QFileDialog dialog(owner, QStringLiteral("Select Directory"), start);
    dialog.setObjectName(QStringLiteral("SelectFolder"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted) return QString();
    const QList<QUrl> chosen = dialog.selectedUrls();
    // A portal or a network place can hand back something that is no local folder.
    if (chosen.isEmpty() || !chosen.first().isLocalFile()) return QString();
    const QString path = chosen.first().toLocalFile();
    if (!QFileInfo(path).isDir()) return QString();
    return QDir::cleanPath(path);
}

} // namespace velk
