#pragma once

// The main window's file view as models over the window's TFileList: the folder tree and the
// files of one folder. Both hold pointers into the list, so they must be emptied before the
// list is (ClearViews) and rebuilt after a scan (RebuildViews).

#include <QAbstractItemModel>
#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>

#include <memory>
#include <vector>

class TFileList;
class TFileListItem;
class TMask;

// Each item's place when sorted by name as the desktop's language sorts: numbers by value
// ("Bild 3" before "Bild 13"), case ignored, accented letters beside their base letters.
std::vector<int> NameRanks(const std::vector<TFileListItem *> &items);

// One node of the folder tree; a folder item's TreeNode points at its node.
struct TFolderNode
{
    TFileListItem *Item = nullptr;
    TFolderNode *Parent = nullptr;
    std::vector<TFolderNode *> Children;
    int Row = 0;
};

class TFolderTreeModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    explicit TFolderTreeModel(QObject *parent = nullptr);
    ~TFolderTreeModel() override;

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    void Clear();
    // The root node for item 0, then every folder, synchronous ones only with `showSync`.
    void Build(TFileList &fileList, bool showSync);
    TFileListItem *Item(const QModelIndex &index) const;
    QModelIndex IndexOf(const TFileListItem *item) const; // invalid when it has no node
    // The first node whose item's relative name equals `relativeName` ignoring case.
    QModelIndex Find(const QString &relativeName) const;
    void ItemChanged(const TFileListItem *item); // redraws the item's node
    int NodeCount() const { return int(m_nodes.size()); }

private:
    TFolderNode *Node(const QModelIndex &index) const;
    std::vector<std::unique_ptr<TFolderNode>> m_nodes; // m_nodes[0] is the root
    TFileList *m_fileList = nullptr;
    QIcon m_syncIcon;    // closed folder, open when selected
    QIcon m_changedIcon; // folder with changes
};

class TFileListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum TColumn { colName, colStatus, colSize, colModified, ColumnCount };

    explicit TFileListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void Clear();
    // The files of `folder`, synchronous ones only with `showSync`, whose full local path
    // matches `mask`; in file-list order.
    void Fill(TFileList &fileList, const TFileListItem *folder, bool showSync, const TMask &mask);
    // 1 name, 2 status, 3 size, 4 date; negative reverses (ties by name).
    void Sort(int sortColumn);
    TFileListItem *Item(int row) const { return m_rows[size_t(row)]; }
    int RowOf(const TFileListItem *item) const; // -1 when not listed
    void RowChanged(int row);
    void AllRowsChanged();
    QString Text(int row, int column) const;

    static QString StatusText(const TFileListItem &item);
    QString DateText(qint32 fileAge) const; // formatted once per distinct time

private:
    std::vector<TFileListItem *> m_rows;
    mutable QHash<const TFileListItem *, int> m_rowOf; // built on demand, dropped by changes
    QIcon m_needUploadIcon;
    QIcon m_synchronousIcon;
    mutable QHash<QString, QIcon> m_typeIcons; // by lower-case suffix
    mutable QHash<qint32, QString> m_dateTexts;
    QIcon TypeIcon(const QString &name) const;
};
