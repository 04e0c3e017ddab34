#include "CFileList.h"

#include "CVELKViewerDlg.h"
#include "CViewerCtlDlg.h"
#include "EventLog.h"
#include "SelectFolder.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QTableView>

#include <ctime>

namespace velk {

namespace {
constexpr int kBackupCommand = 30000;
const char* const kLogNames[] = {"normal", "event", "manual"};
} // namespace

void RecordingListModel::setEntries(const std::vector<FileInfo>& entries) {
    beginResetModel();
    m_entries = entries;
    endResetModel();
}

int RecordingListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_entries.size());
}

int RecordingListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant RecordingListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(m_entries.size())) return {};
    const FileInfo& entry = m_entries[size_t(index.row())];
    if (role == Qt::DisplayRole) {
        if (index.column() == 0) return RowText(index.row(), entry.fileName);
        return SizeText(entry.fileSize);
    }
    if (role == Qt::TextAlignmentRole)
        return int((index.column() == 1 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    return {};
}

QString RecordingListModel::rowFileName(int row) const {
    if (row < 0 || row >= int(m_entries.size())) return {};
    return QString::fromStdString(NameOfRowText(data(index(row, 0), Qt::DisplayRole).toString()));
}

const FileInfo* RecordingListModel::entry(int row) const {
    return row >= 0 && row < int(m_entries.size()) ? &m_entries[size_t(row)] : nullptr;
}

CFileList::CFileList(RecordingCategory category, CVELKViewerDlg& main, QWidget* parent)
    : PanelWidget(parent), m_category(category), m_main(main) {
    setObjectName(QStringLiteral("list-") + QLatin1String(kLogNames[int(category)]));
    resize(360, 281);
}

void CFileList::Initialise() {
    m_model = new RecordingListModel(this);
    m_view = new QTableView(this);
    m_view->setModel(m_model);
    m_view->setGeometry(0, 0, 360, 281);
    m_view->horizontalHeader()->hide();
    m_view->verticalHeader()->hide();
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setShowGrid(false);
    m_view->setWordWrap(false);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setFrameShape(QFrame::NoFrame);
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Uniform 20-pixel rows: the view never measures its rows, so 10,000 of them fill at once.
    QHeaderView* rows = m_view->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(20);
    rows->setMinimumSectionSize(20);
    m_view->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->setColumnWidth(0, 249);
    m_view->setColumnWidth(1, 90);
    m_view->setTextElideMode(Qt::ElideRight);

    QFont font(QStringLiteral("굴림"));
    font.setPixelSize(13);
    m_view->setFont(font);
    QPalette colours = m_view->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        colours.setColor(group, QPalette::Base, QColor(80, 80, 80));
        colours.setColor(group, QPalette::Text, QColor(200, 200, 200));
        // The selection stays visible when the list has no focus.
        colours.setColor(group, QPalette::Highlight, QColor(51, 153, 255));
        colours.setColor(group, QPalette::HighlightedText, Qt::white);
    }
    m_view->setPalette(colours);

    connect(m_view, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { onDoubleClick(index.row()); });
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_view, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { onContextMenu(p); });
}

void CFileList::FillFromCatalogue(const std::vector<FileInfo>& list) {
    m_model->setEntries(list);
    LogEvent(QStringLiteral("list %1 %2")
                 .arg(QLatin1String(kLogNames[int(m_category)]))
                 .arg(list.size()));
}

QString CFileList::RowFileName(int index) const { return m_model->rowFileName(index); }

const FileInfo* CFileList::entry(int index) const { return m_model->entry(index); }

int CFileList::rowCount() const { return m_model->rowCount(); }

std::vector<int> CFileList::selectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : m_view->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CFileList::SelectOnly(int index) {
    if (index < 0 || index >= rowCount()) {
        m_view->clearSelection();
        return;
    }
    const QModelIndex cell = m_model->index(index, 0);
    m_view->selectionModel()->setCurrentIndex(cell, QItemSelectionModel::ClearAndSelect |
                                                        QItemSelectionModel::Rows);
    m_view->scrollTo(cell, QAbstractItemView::EnsureVisible);
}

void CFileList::onDoubleClick(int row) {
    if (row < 0) return;
    // Low 32 bits of the calendar time in whole seconds; shared with the full-screen toggle.
    const auto now = static_cast<std::int32_t>(std::time(nullptr));
    std::int32_t& last = Globals().lastActionTime;
    if (last + 1 < now || last == 0) {
        last = now;
        PlayRow(row);
    }
}

void CFileList::PlayRow(int index) {
    // A playback switch is already waiting for the engine: whatever asks now (a second double
    // click, Enter) must not change the recording it is about to start.
    if (m_main.isSwitching()) return;
    AppGlobals& g = Globals();
    const QString name = RowFileName(index);
    g.currentFileName = name.toStdString();
    // The folder the file was found in: a file whose key names another category still opens.
    const FileInfo* found = m_model->entry(index);
    const RecordingCategory folder = found ? found->folder : m_category;
    g.currentFilePath = RecordingPath(g.baseFolder, folder, g.currentFileName, g.catalogueMode);
    g.currentIndex[size_t(m_category)] = index;
    m_main.SetFileLabel(name);
    if (!m_main.StopPlaybackForSwitch()) return;
    m_main.ResetGraph();
    CViewerCtlDlg* control = m_main.controlPanel();
    control->StartPlayerThread();
    control->EnableTransport(true);
    m_main.EnableRecordingButtons(true);
    g.playing = true;
}

bool CFileList::PreTranslateKey(const QKeyEvent& event) {
    switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        const std::vector<int> rows = selectedRows();
        if (!rows.empty() && !RowFileName(rows.front()).isEmpty()) PlayRow(rows.front());
        return true;
    }
    case Qt::Key_Escape:
        return true;
    default:
        return false;
    }
}

void CFileList::onContextMenu(const QPoint& position) {
    if (selectedRows().empty()) return;
    QMenu menu(this);
    QAction* backup = menu.addAction(QStringLiteral("Backup"));
    backup->setData(kBackupCommand);
    if (menu.exec(m_view->viewport()->mapToGlobal(position)) == backup) BackupSelection();
}

void CFileList::BackupSelection() {
    const QString target = SelectFolder(this);
    if (target.isEmpty()) return;
    QStringList names;
    for (int row : selectedRows())
        names << RowFileName(row);
    m_main.StartBackup(names, target);
}

} // namespace velk
