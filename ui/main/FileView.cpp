#include "ui/main/main.h"

#include "engine/FileLib.h"
#include "engine/PublishFilter.h"
#include "ui/dialogs/FormKeeper.h"
#include "ui/dialogs/MasksEditor.h"
#include "ui/dialogs/Options.h"
#include "ui/dialogs/PassDlg.h"
#include "ui/dialogs/Sounds.h"
#include "ui/main/About.h"
#include "ui/main/FileViewModels.h"
#include "ui/main/FolderProp.h"

#include <QAction>
#include <QBoxLayout>
#include <QComboBox>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSet>
#include <QSplitter>
#include <QTabWidget>

#include <array>
#include <functional>
#include <optional>
#include <utility>

namespace {

constexpr int NameStatusIconFrom = 3; // the status icon's span right of the Name column
constexpr int NameStatusIconTo = 16;
constexpr int MinNameWidth = 160;

// Calls `resized` whenever the watched widget changes size (a view's viewport: its scroll bars
// come and go without the view itself changing size).
class TResizeWatch : public QObject
{
public:
    TResizeWatch(QWidget *widget, std::function<void()> resized)
        : QObject(widget)
        , m_resized(std::move(resized))
    {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Resize)
            m_resized();
        return false;
    }

private:
    std::function<void()> m_resized;
};

} // namespace

// ---- file list view -----------------------------------------------------------------------

void TFileListView::mousePressEvent(QMouseEvent *event)
{
    QTreeView::mousePressEvent(event);
    if (event->button() != Qt::LeftButton || event->buttons() != Qt::LeftButton
        || (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)))
        return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid())
        return;
    const int x = event->position().toPoint().x() + horizontalOffset();
    const int statusLeft = header()->sectionPosition(TFileListModel::colStatus);
    if (x > statusLeft + NameStatusIconFrom && x < statusLeft + NameStatusIconTo)
        emit StatusIconClicked(index);
}

// ---- pages -------------------------------------------------------------------------------

void TfrmMain::CreatePages()
{
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(pnlTools);

    PageControl = new QTabWidget(central);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    PageControl->setDocumentMode(true);
    tstFiles = new QWidget;
    tstFiles->setObjectName(QStringLiteral("tstFiles"));
    tstLog = new QWidget;
    tstLog->setObjectName(QStringLiteral("tstLog"));
    PageControl->addTab(tstFiles, QStringLiteral("File View"));
    PageControl->addTab(tstLog, QStringLiteral("Log View"));
    layout->addWidget(PageControl, 1);

    splFiles = new QSplitter(Qt::Horizontal, tstFiles);
    splFiles->setObjectName(QStringLiteral("splFiles"));
    splFiles->setHandleWidth(3);
    splFiles->setChildrenCollapsible(false);
    tvwFolders = new QTreeView(splFiles);
    tvwFolders->setObjectName(QStringLiteral("tvwFolders"));
    tvwFolders->setModel(m_treeModel);
    tvwFolders->setHeaderHidden(true);
    tvwFolders->setIndentation(19);
    tvwFolders->setRootIsDecorated(true);
    tvwFolders->setUniformRowHeights(true);
    tvwFolders->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvwFolders->setContextMenuPolicy(Qt::CustomContextMenu);
    tvwFolders->setMinimumWidth(100);
    // One column as wide as the widest open name: a deep tree scrolls instead of cutting names.
    tvwFolders->header()->setStretchLastSection(false);
    tvwFolders->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    lvwFiles = new TFileListView(splFiles);
    lvwFiles->setObjectName(QStringLiteral("lvwFiles"));
    lvwFiles->setModel(m_listModel);
    lvwFiles->setRootIsDecorated(false);
    lvwFiles->setItemsExpandable(false);
    lvwFiles->setUniformRowHeights(true);
    lvwFiles->setAllColumnsShowFocus(true);
    lvwFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvwFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvwFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvwFiles->setContextMenuPolicy(Qt::CustomContextMenu);
    lvwFiles->setMinimumWidth(100);
    QHeaderView *header = lvwFiles->header();
    header->setStretchLastSection(false);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSectionsMovable(false);
    header->setMinimumSectionSize(50);
    header->resizeSection(TFileListModel::colName, 100); // StretchNameColumn sets its width
    // Wide enough for the icon and "Need Upload" in the desktop's font; it keeps this width.
    header->resizeSection(
        TFileListModel::colStatus,
        std::max(90, lvwFiles->fontMetrics().horizontalAdvance(QStringLiteral("Need Upload")) + 16
                         + 3 + 16));
    header->resizeSection(TFileListModel::colSize, 70);
    header->resizeSection(TFileListModel::colModified, 100);
    splFiles->addWidget(tvwFolders);
    splFiles->addWidget(lvwFiles);
    splFiles->setStretchFactor(0, 0);
    splFiles->setStretchFactor(1, 1);
    splFiles->setSizes({191, 560});
    auto *filesLayout = new QVBoxLayout(tstFiles);
    filesLayout->setContentsMargins(0, 0, 0, 0);
    filesLayout->addWidget(splFiles);

    retLog = new QPlainTextEdit(tstLog);
    retLog->setObjectName(QStringLiteral("retLog"));
    retLog->setReadOnly(true);
    retLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    retLog->setContextMenuPolicy(Qt::CustomContextMenu);
    // Selectable and copyable (Ctrl+C, the menu), but no text cursor: nothing here is typed.
    retLog->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *logLayout = new QVBoxLayout(tstLog);
    logLayout->setContentsMargins(0, 0, 0, 0);
    logLayout->addWidget(retLog);

    ppmLog = new QMenu(this);
    ppmLog->setObjectName(QStringLiteral("ppmLog"));
    miClearLog = ppmLog->addAction(QStringLiteral("Clear"));
    miClearLog->setObjectName(QStringLiteral("miClearLog"));
    ppmLog->addSeparator();
    miCopyLog = ppmLog->addAction(QStringLiteral("Copy"));
    miCopyLog->setObjectName(QStringLiteral("miCopyLog"));
    miCopyLog->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    miCopyLog->setShortcutContext(Qt::WidgetShortcut);
    ppmLog->addSeparator();
    miSelectAllLog = ppmLog->addAction(QStringLiteral("Select All"));
    miSelectAllLog->setObjectName(QStringLiteral("miSelectAllLog"));
    miSelectAllLog->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    miSelectAllLog->setShortcutContext(Qt::WidgetShortcut);
    connect(miClearLog, &QAction::triggered, this, [this] {
        retLog->clear();
        m_logEmpty = true;
        FLogTailLength = -1;
    });
    connect(miCopyLog, &QAction::triggered, retLog, &QPlainTextEdit::copy);
    connect(miSelectAllLog, &QAction::triggered, retLog, &QPlainTextEdit::selectAll);
    connect(retLog, &QWidget::customContextMenuRequested, this, [this](const QPoint &position) {
        ppmLog->popup(retLog->viewport()->mapToGlobal(position));
    });

    auto *status = new QWidget(central);
    status->setObjectName(QStringLiteral("pnlStatus"));
    auto *statusLayout = new QHBoxLayout(status);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    pnlStat = new QLabel(status);
    pnlStat->setObjectName(QStringLiteral("pnlStat"));
    pnlStat->setFrameShape(QFrame::StyledPanel);
    pnlStat->setFrameShadow(QFrame::Sunken);
    pnlStat->setMinimumWidth(1);
    pnlStat->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    pgbUpload = new QProgressBar(status);
    pgbUpload->setObjectName(QStringLiteral("pgbUpload"));
    pgbUpload->setRange(0, 100);
    pgbUpload->setValue(0);
    pgbUpload->setTextVisible(false);
    pgbUpload->setFixedWidth(100);
    statusLayout->addWidget(pnlStat, 1);
    statusLayout->addWidget(pgbUpload);
    layout->addWidget(status);
    setCentralWidget(central);

    connect(tvwFolders->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        if (!FTreeUpdating)
            tvwFoldersChange();
    });
    connect(tvwFolders, &QTreeView::expanded, this, &TfrmMain::FitFolderColumn);
    connect(tvwFolders, &QTreeView::collapsed, this, &TfrmMain::FitFolderColumn);
    connect(m_treeModel, &QAbstractItemModel::modelReset, this, &TfrmMain::FitFolderColumn);
    new TResizeWatch(tvwFolders->viewport(), [this] { FitFolderColumn(); });
    new TResizeWatch(lvwFiles->viewport(), [this] { StretchNameColumn(); });
    connect(header, &QHeaderView::sectionClicked, this, &TfrmMain::lvwFilesColumnClick);
    connect(lvwFiles, &TFileListView::StatusIconClicked, this, [this](const QModelIndex &index) {
        if (Running())
            return;
        Guarded(this, [&] { MarkRows(!m_listModel->Item(index.row())->Synchronous); });
    });
    connect(lvwFiles, &QWidget::customContextMenuRequested, this, &TfrmMain::ShowFileListMenu);
    connect(tvwFolders, &QWidget::customContextMenuRequested, this, &TfrmMain::ShowFolderMenu);
}

// ---- file view ----------------------------------------------------------------------------

void TfrmMain::ClearViews()
{
    FPopupFolder = nullptr; // points into the file list, which is about to change
    m_syncChildrenFrom.clear();
    m_listModel->Clear();
    if (const TFileListItem *selected = m_treeModel->Item(tvwFolders->currentIndex()))
        FSelectedFolder = selected->RelativeName;
    FTreeUpdating = true;
    m_treeModel->Clear();
    FTreeUpdating = false;
}

void TfrmMain::RebuildViews()
{
    if (cbxFilter->currentText().isEmpty()) {
        const QSignalBlocker blocker(cbxFilter);
        cbxFilter->setEditText(QStringLiteral("*"));
    }
    ClearViews();
    BuildFolderTree();
    FillFileList();
}

void TfrmMain::BuildFolderTree()
{
    const bool showSync = miViewSyncFiles->isChecked();
    // Selecting the folder below would fill the list once more; RebuildViews fills it next.
    FTreeUpdating = true;
    m_treeModel->Build(*FFileList, showSync);
    const QModelIndex root = m_treeModel->index(0, 0);
    tvwFolders->expand(root);
    QModelIndex selected;
    if (!FSelectedFolder.isEmpty())
        selected = m_treeModel->Find(FSelectedFolder);
    if (!selected.isValid())
        selected = root;
    if (selected.isValid()) {
        tvwFolders->setCurrentIndex(selected);
        tvwFolders->scrollTo(selected);
    }
    FTreeUpdating = false;
}

void TfrmMain::FillFileList()
{
    QString filter = cbxFilter->currentText();
    filter.replace(u'\\', u'/');
    std::optional<TMask> mask;
    try {
        mask.emplace(FFileList->LocalRoot + filter);
    } catch (const EMaskError &) {
        mask.emplace(FFileList->LocalRoot + u'*');
    }
    const TFileListItem *folder = m_treeModel->Item(tvwFolders->currentIndex());
    m_listModel->Fill(*FFileList, folder, miViewSyncFiles->isChecked(), *mask);
    FitColumns();
    SortFileList();
}

void TfrmMain::tvwFoldersChange()
{
    FillFileList();
}

void TfrmMain::SortFileList()
{
    m_listModel->Sort(FSortColumn);
    const int column = std::abs(FSortColumn) - 1;
    lvwFiles->header()->setSortIndicator(column, FSortColumn > 0 ? Qt::AscendingOrder
                                                                 : Qt::DescendingOrder);
}

void TfrmMain::lvwFilesColumnClick(int column)
{
    FSortColumn = column + 1 == FSortColumn ? -FSortColumn : column + 1;
    SortFileList();
}

void TfrmMain::miArrangeClick(int tag)
{
    FSortColumn = tag;
    SortFileList();
}

void TfrmMain::FitColumns()
{
    QHeaderView *header = lvwFiles->header();
    const QFontMetrics metrics(lvwFiles->font());
    const QFontMetrics headerMetrics(header->font());
    // Shaping every text of a large folder costs far more than the list's own drawing; the sum
    // of cached character advances is the same width but for kerning, a pixel or two.
    std::array<int, 256> latin{};
    QHash<char16_t, int> other;
    auto advance = [&](QChar c) {
        const char16_t code = c.unicode();
        if (code < 256) {
            int &width = latin[code];
            if (width == 0)
                width = metrics.horizontalAdvance(c) + 1; // +1: a measured 0 is not re-measured
            return width - 1;
        }
        auto found = other.constFind(code);
        if (found == other.constEnd())
            found = other.insert(code, metrics.horizontalAdvance(c));
        return *found;
    };
    auto textWidth = [&](int column) {
        int widest = -1;
        const int rows = m_listModel->rowCount();
        for (int row = 0; row < rows; ++row) {
            const QString text = m_listModel->Text(row, column);
            if (text.isEmpty())
                continue;
            int width = 0;
            for (const QChar c : text)
                width += advance(c);
            widest = std::max(widest, width);
        }
        if (widest < 0)
            widest = headerMetrics.horizontalAdvance(
                m_listModel->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString());
        return widest + 20;
    };
    FNameWidth = textWidth(TFileListModel::colName) + 32;
    header->resizeSection(TFileListModel::colSize,
                          std::max(70, textWidth(TFileListModel::colSize)));
    header->resizeSection(TFileListModel::colModified, textWidth(TFileListModel::colModified));
    StretchNameColumn();
}

void TfrmMain::StretchNameColumn()
{
    // Names take the width the other columns leave: a name longer than that is cut (its tip
    // shows it whole) rather than pushing the status out of sight, unless the list is too
    // narrow to show a useful part of it.
    QHeaderView *header = lvwFiles->header();
    int others = 0;
    for (int column = TFileListModel::colStatus; column < TFileListModel::ColumnCount; ++column)
        others += header->sectionSize(column);
    header->resizeSection(TFileListModel::colName, std::max(lvwFiles->viewport()->width() - others,
                                                            std::min(FNameWidth, MinNameWidth)));
}

void TfrmMain::FitFolderColumn()
{
    tvwFolders->resizeColumnToContents(0);
    QHeaderView *header = tvwFolders->header();
    header->resizeSection(0, std::max(header->sectionSize(0), tvwFolders->viewport()->width()));
}

void TfrmMain::UpdateItemView(TFileListItem *item)
{
    if (item->IsFolder) {
        m_treeModel->ItemChanged(item);
    } else {
        const int row = m_listModel->RowOf(item);
        if (row >= 0)
            m_listModel->RowChanged(row);
    }
    if (item->Parent) {
        if (!item->Synchronous)
            m_syncChildrenFrom.remove(item->Parent);
        PropagateUpward(item->Parent);
    }
}

bool TfrmMain::AllChildrenSynchronous(TFileListItem *folder)
{
    // An upload reports its files in order, so each folder's scan goes on where it stopped:
    // a folder of n files costs n steps over the whole upload, not n * n. A child that turns
    // outdated makes its folder forget its position (and a new scan forgets them all).
    size_t &from = m_syncChildrenFrom[folder];
    while (from < folder->Children.size() && folder->Children[from]->Synchronous)
        ++from;
    return from == folder->Children.size();
}

void TfrmMain::PropagateUpward(TFileListItem *folder)
{
    for (; folder; folder = folder->Parent) {
        const bool synchronous = AllChildrenSynchronous(folder);
        if (synchronous == folder->Synchronous)
            return;
        folder->Synchronous = synchronous;
        if (!synchronous)
            m_syncChildrenFrom.remove(folder->Parent);
        m_treeModel->ItemChanged(folder);
    }
}

void TfrmMain::UpdateStatistics(bool fitColumns)
{
    pnlStat->setText(u' ' + FormatStatistics(*FFileList));
    if (fitColumns)
        FitColumns();
}

void TfrmMain::MarkRows(bool synchronous)
{
    const QModelIndexList rows = lvwFiles->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return;
    std::vector<int> ordered;
    for (const QModelIndex &index : rows)
        ordered.push_back(index.row());
    std::sort(ordered.begin(), ordered.end());
    if (!synchronous)
        m_syncChildrenFrom.clear();
    TFileListItem *parent = nullptr;
    for (int row : ordered) {
        TFileListItem *item = m_listModel->Item(row);
        // The time the scan read: a file written since then still shows as changed later.
        FProject->Versions.FindOrAdd(item->RelativeName)
            ->SetMarkedDate(synchronous ? item->FileAge : 0);
        item->Synchronous = synchronous;
        m_listModel->RowChanged(row);
        parent = item->Parent;
    }
    PropagateUpward(parent);
    SaveProject(false);
    // Marking changes no name, size or date: the columns keep their widths.
    UpdateStatistics(false);
    ApplyViewFilter();
}

void TfrmMain::MarkFolder(TFileListItem *folder, bool synchronous)
{
    if (!folder)
        return;
    if (!synchronous)
        m_syncChildrenFrom.clear();
    for (int i = 0; i < FFileList->Count(); ++i) {
        TFileListItem *item = FFileList->Items(i);
        if (item != folder && !folder->IsAncestorOf(item))
            continue;
        item->Synchronous = synchronous;
        if (!synchronous) {
            if (!item->IsFolder || item->Children.empty())
                FProject->Versions.FindOrAdd(item->RelativeName)->Date = 0;
        } else {
            FProject->Versions.FindOrAdd(item->RelativeName)
                ->SetMarkedDate(item->IsFolder ? 1 : item->FileAge);
        }
        if (item->IsFolder)
            m_treeModel->ItemChanged(item);
    }
    m_listModel->AllRowsChanged();
    if (folder->Parent)
        PropagateUpward(folder->Parent);
    SaveProject(false);
    // Marking changes no name, size or date: the columns keep their widths.
    UpdateStatistics(false);
    ApplyViewFilter();
}

void TfrmMain::ApplyViewFilter()
{
    if (miViewSyncFiles->isChecked())
        return;
    // The tree keeps its open folders and its current folder, or the nearest one still shown.
    QSet<const TFileListItem *> expanded;
    for (int i = 0; i < FFileList->Count(); ++i) {
        const TFileListItem *item = FFileList->Items(i);
        if (item->IsFolder && item->TreeNode && tvwFolders->isExpanded(m_treeModel->IndexOf(item)))
            expanded.insert(item);
    }
    const TFileListItem *current = m_treeModel->Item(tvwFolders->currentIndex());
    while (current && current->Parent && current->Synchronous)
        current = current->Parent;
    // The list keeps what stays selected, else selects the row after those that went.
    QSet<const TFileListItem *> selected;
    int firstSelected = -1;
    for (const QModelIndex &index : lvwFiles->selectionModel()->selectedRows()) {
        selected.insert(m_listModel->Item(index.row()));
        firstSelected = firstSelected < 0 ? index.row() : std::min(firstSelected, index.row());
    }
    FPopupFolder = nullptr; // its tree node is about to go
    FTreeUpdating = true;
    m_treeModel->Build(*FFileList, false);
    for (const TFileListItem *item : std::as_const(expanded))
        tvwFolders->expand(m_treeModel->IndexOf(item));
    QModelIndex currentIndex = m_treeModel->IndexOf(current);
    if (!currentIndex.isValid())
        currentIndex = m_treeModel->index(0, 0);
    tvwFolders->setCurrentIndex(currentIndex);
    FTreeUpdating = false;
    FillFileList();
    QItemSelection keep;
    for (int row = 0; row < m_listModel->rowCount(); ++row) {
        if (selected.contains(m_listModel->Item(row)))
            keep.select(m_listModel->index(row, 0),
                        m_listModel->index(row, TFileListModel::ColumnCount - 1));
    }
    if (keep.isEmpty() && firstSelected >= 0 && m_listModel->rowCount() > 0) {
        const int row = std::min(firstSelected, m_listModel->rowCount() - 1);
        keep.select(m_listModel->index(row, 0),
                    m_listModel->index(row, TFileListModel::ColumnCount - 1));
    }
    if (!keep.isEmpty()) {
        lvwFiles->selectionModel()->setCurrentIndex(keep.first().topLeft(),
                                                    QItemSelectionModel::NoUpdate);
        lvwFiles->selectionModel()->select(keep, QItemSelectionModel::ClearAndSelect);
    }
}

void TfrmMain::miSetAsNeedUpdateClick()
{
    if (tvwFolders->hasFocus() && tvwFolders->currentIndex().isValid())
        MarkFolder(m_treeModel->Item(tvwFolders->currentIndex()), false);
    else
        MarkRows(false);
}

void TfrmMain::miSetAsSynchronousClick()
{
    if (tvwFolders->hasFocus() && tvwFolders->currentIndex().isValid())
        MarkFolder(m_treeModel->Item(tvwFolders->currentIndex()), true);
    else
        MarkRows(true);
}

void TfrmMain::miSelectAllClick()
{
    // The window's Ctrl+A: the log's text when the log is shown.
    if (PageControl->currentWidget() == tstLog) {
        retLog->setFocus();
        retLog->selectAll();
        return;
    }
    lvwFiles->selectAll();
}

void TfrmMain::miInvertSelectionClick()
{
    const int rows = m_listModel->rowCount();
    if (rows == 0)
        return;
    const QItemSelection all(m_listModel->index(0, 0),
                             m_listModel->index(rows - 1, TFileListModel::ColumnCount - 1));
    lvwFiles->selectionModel()->select(all, QItemSelectionModel::Toggle);
}

void TfrmMain::miViewSyncFilesClick()
{
    FProject->Nodes(QStringLiteral("ViewSyncFiles"))->SetAsBoolean(miViewSyncFiles->isChecked());
    RebuildViews();
}

bool TfrmMain::PopupsAllowed() const
{
    return FProject->Opened && !Running();
}

void TfrmMain::ShowFileListMenu(const QPoint &position)
{
    if (PopupsAllowed())
        ppmFileList->popup(lvwFiles->viewport()->mapToGlobal(position));
}

void TfrmMain::ShowFolderMenu(const QPoint &position)
{
    if (!PopupsAllowed())
        return;
    const QModelIndex index = tvwFolders->indexAt(position);
    if (index.isValid())
        tvwFolders->setCurrentIndex(index);
    FPopupFolder = m_treeModel->Item(tvwFolders->currentIndex());
    ppmFolders->popup(tvwFolders->viewport()->mapToGlobal(position));
}
