#pragma once
// One recording list: numbered file names and sizes of one category, a double click or Enter
// plays a row, a right click offers "Backup" of the selection. The three lists differ only in
// their category (CFileListNomal, CFileListEvent, CFileListManual). User-interface thread only.

#include "AppGlobals.h"
#include "Catalogue.h"
#include "PanelWidget.h"

#include <QAbstractTableModel>

#include <vector>

class QTableView;

namespace velk {

class CVELKViewerDlg;

// The rows of one list. Row i shows entry i of the catalogue list it was last filled from.
class RecordingListModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;
    void setEntries(const std::vector<FileInfo>& entries);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    // Column 0's text without everything up to and including its first space; empty for a row
    // that does not exist.
    QString rowFileName(int row) const;
    const FileInfo* entry(int row) const;

private:
    std::vector<FileInfo> m_entries;
};

class CFileList : public PanelWidget {
public:
    CFileList(RecordingCategory category, CVELKViewerDlg& main, QWidget* parent);

    void Initialise();
    void FillFromCatalogue(const std::vector<FileInfo>& list);
    QString RowFileName(int index) const;
    // The catalogue entry of row index (nullptr when there is none).
    const FileInfo* entry(int index) const;
    void PlayRow(int index);
    // Selects and focuses only row index and scrolls it fully into view.
    void SelectOnly(int index);

    RecordingCategory category() const { return m_category; }
    int rowCount() const;
    QTableView* view() const { return m_view; }
    // The selected rows, ascending.
    std::vector<int> selectedRows() const;

    bool PreTranslateKey(const QKeyEvent& event) override;

private:
    void onDoubleClick(int row);
    void onContextMenu(const QPoint& position);
    void BackupSelection();

    RecordingCategory m_category;
    CVELKViewerDlg& m_main;
    QTableView* m_view = nullptr;
    RecordingListModel* m_model = nullptr;
};

class CFileListNomal : public CFileList {
public:
    CFileListNomal(CVELKViewerDlg& main, QWidget* parent)
        : CFileList(RecordingCategory::Normal, main, parent) {}
};
class CFileListEvent : public CFileList {
public:
    CFileListEvent(CVELKViewerDlg& main, QWidget* parent)
        : CFileList(RecordingCategory::Event, main, parent) {}
};
class CFileListManual : public CFileList {
public:
    CFileListManual(CVELKViewerDlg& main, QWidget* parent)
        : CFileList(RecordingCategory::Manual, main, parent) {}
};

} // namespace velk
