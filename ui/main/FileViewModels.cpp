#include "ui/main/FileViewModels.h"

#include "engine/FileLib.h"
#include "engine/PublishFilter.h"
#include "engine/PublishList.h"
#include "ui/dialogs/EditLib.h"
#include "ui/dialogs/Icons.h"

#include <QApplication>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QPainter>

#include <algorithm>

namespace {

// The folder icon with a small mark in its corner: something inside needs upload.
QIcon ChangedFolderIcon(const QIcon &folder)
{
    QIcon icon;
    for (int wanted : {16, 22, 32}) {
        QPixmap pixmap = folder.pixmap(wanted, wanted);
        // A style icon may have one size only: the mark goes by the pixmap's own.
        const qreal size = pixmap.width() / pixmap.devicePixelRatio();
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::white, size / 16.0));
        painter.setBrush(QColor(230, 120, 0));
        const qreal mark = size * 0.5;
        painter.drawEllipse(QRectF(size - mark - 0.5, size - mark - 0.5, mark, mark));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

std::vector<int> NameRanks(const std::vector<TFileListItem *> &items)
{
    // Sort keys: a large folder costs one key per name instead of a collation per comparison.
    const QCollator collator = NameCollator();
    std::vector<QCollatorSortKey> keys;
    keys.reserve(items.size());
    for (const TFileListItem *item : items)
        keys.push_back(collator.sortKey(item->Name()));
    std::vector<int> order(items.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = int(i);
    // Names equal but for case keep scan order.
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        const int compared = keys[size_t(a)].compare(keys[size_t(b)]);
        return compared != 0 ? compared < 0 : items[size_t(a)]->Index < items[size_t(b)]->Index;
    });
    std::vector<int> ranks(items.size());
    for (size_t i = 0; i < order.size(); ++i)
        ranks[size_t(order[i])] = int(i);
    return ranks;
}

// ---- folder tree --------------------------------------------------------------------------

TFolderTreeModel::TFolderTreeModel(QObject *parent)
    : QAbstractItemModel(parent)
{
    const QIcon closed = FolderIcon();
    const QIcon open = FolderIcon(true);
    for (int size : {16, 22, 32}) {
        m_syncIcon.addPixmap(closed.pixmap(size, size), QIcon::Normal);
        m_syncIcon.addPixmap(open.pixmap(size, size), QIcon::Selected);
    }
    m_changedIcon = ChangedFolderIcon(closed);
}

TFolderTreeModel::~TFolderTreeModel() = default;

TFolderNode *TFolderTreeModel::Node(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<TFolderNode *>(index.internalPointer()) : nullptr;
}

QModelIndex TFolderTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row == 0 && !m_nodes.empty() ? createIndex(0, 0, m_nodes[0].get()) : QModelIndex();
    const TFolderNode *node = Node(parent);
    if (size_t(row) >= node->Children.size())
        return {};
    return createIndex(row, 0, node->Children[size_t(row)]);
}

QModelIndex TFolderTreeModel::parent(const QModelIndex &child) const
{
    const TFolderNode *node = Node(child);
    if (!node || !node->Parent)
        return {};
    return createIndex(node->Parent->Row, 0, node->Parent);
}

int TFolderTreeModel::rowCount(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return m_nodes.empty() ? 0 : 1;
    if (parent.column() != 0)
        return 0;
    return int(Node(parent)->Children.size());
}

int TFolderTreeModel::columnCount(const QModelIndex &) const
{
    return 1;
}

QVariant TFolderTreeModel::data(const QModelIndex &index, int role) const
{
    const TFolderNode *node = Node(index);
    if (!node)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        if (!node->Parent)
            return ExcludeTrailingSlash(m_fileList->LocalRoot);
        return node->Item->Name();
    case Qt::DecorationRole:
        return node->Item->Synchronous ? m_syncIcon : m_changedIcon;
    default:
        return {};
    }
}

void TFolderTreeModel::Clear()
{
    if (m_nodes.empty())
        return;
    beginResetModel();
    for (auto &node : m_nodes)
        node->Item->TreeNode = nullptr;
    m_nodes.clear();
    endResetModel();
}

void TFolderTreeModel::Build(TFileList &fileList, bool showSync)
{
    beginResetModel();
    m_nodes.clear();
    m_fileList = &fileList;
    for (int i = 0; i < fileList.Count(); ++i) {
        TFileListItem *item = fileList.Items(i);
        if (item->IsFolder)
            item->TreeNode = nullptr;
    }
    if (fileList.Count() > 0) {
        auto root = std::make_unique<TFolderNode>();
        root->Item = fileList.Items(0);
        root->Item->TreeNode = root.get();
        m_nodes.push_back(std::move(root));
        for (int i = 1; i < fileList.Count(); ++i) {
            TFileListItem *item = fileList.Items(i);
            if (!item->IsFolder || (!showSync && item->Synchronous))
                continue;
            auto *parentNode = item->Parent && item->Parent->TreeNode
                                   ? static_cast<TFolderNode *>(item->Parent->TreeNode)
                                   : m_nodes[0].get();
            auto node = std::make_unique<TFolderNode>();
            node->Item = item;
            node->Parent = parentNode;
            node->Row = int(parentNode->Children.size());
            parentNode->Children.push_back(node.get());
            item->TreeNode = node.get();
            m_nodes.push_back(std::move(node));
        }
        std::vector<TFileListItem *> items;
        items.reserve(m_nodes.size());
        for (const auto &node : m_nodes)
            items.push_back(node->Item);
        const std::vector<int> ranks = NameRanks(items);
        for (size_t i = 0; i < m_nodes.size(); ++i)
            m_nodes[i]->Row = ranks[i]; // the name's place until the rows are numbered
        for (const auto &node : m_nodes) {
            std::sort(node->Children.begin(), node->Children.end(),
                      [](const TFolderNode *a, const TFolderNode *b) { return a->Row < b->Row; });
            for (size_t row = 0; row < node->Children.size(); ++row)
                node->Children[row]->Row = int(row);
        }
        m_nodes[0]->Row = 0;
    }
    endResetModel();
}

TFileListItem *TFolderTreeModel::Item(const QModelIndex &index) const
{
    const TFolderNode *node = Node(index);
    return node ? node->Item : nullptr;
}

QModelIndex TFolderTreeModel::IndexOf(const TFileListItem *item) const
{
    if (!item || !item->TreeNode || m_nodes.empty())
        return {};
    auto *node = static_cast<TFolderNode *>(item->TreeNode);
    return createIndex(node->Row, 0, node);
}

QModelIndex TFolderTreeModel::Find(const QString &relativeName) const
{
    for (const auto &node : m_nodes) {
        if (node->Item->RelativeName.compare(relativeName, Qt::CaseInsensitive) == 0)
            return createIndex(node->Row, 0, node.get());
    }
    return {};
}

void TFolderTreeModel::ItemChanged(const TFileListItem *item)
{
    const QModelIndex index = IndexOf(item);
    if (index.isValid())
        emit dataChanged(index, index, {Qt::DecorationRole});
}

// ---- file list ----------------------------------------------------------------------------

TFileListModel::TFileListModel(QObject *parent)
    : QAbstractTableModel(parent)
    , m_needUploadIcon(ThemeIcon(QStringLiteral("go-up")))
    , m_synchronousIcon(ThemeIcon(QStringLiteral("object-select")))
{
}

int TFileListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TFileListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString TFileListModel::StatusText(const TFileListItem &item)
{
    return item.Synchronous ? QStringLiteral("Synchronous") : QStringLiteral("Need Upload");
}

QString TFileListModel::DateText(qint32 fileAge) const
{
    auto found = m_dateTexts.constFind(fileAge);
    if (found == m_dateTexts.constEnd())
        found = m_dateTexts.insert(fileAge, DateTimeText(FileDateToDateTime(fileAge)));
    return *found;
}

QString TFileListModel::Text(int row, int column) const
{
    const TFileListItem &item = *m_rows[size_t(row)];
    switch (column) {
    case colName:
        return item.Name();
    case colStatus:
        return StatusText(item);
    case colSize:
        return FormatSizeKB(item.Size);
    case colModified:
        return DateText(item.FileAge);
    default:
        return {};
    }
}

QIcon TFileListModel::TypeIcon(const QString &name) const
{
    const QString suffix = QFileInfo(name).suffix().toLower();
    auto found = m_typeIcons.constFind(suffix);
    if (found == m_typeIcons.constEnd())
        found = m_typeIcons.insert(suffix, FileTypeIcon(name));
    return *found;
}

QVariant TFileListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || size_t(index.row()) >= m_rows.size())
        return {};
    const TFileListItem &item = *m_rows[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return Text(index.row(), index.column());
    case Qt::ToolTipRole:
        return index.column() == colName ? item.Name() : QVariant();
    case Qt::DecorationRole:
        if (index.column() == colName)
            return TypeIcon(item.Name());
        if (index.column() == colStatus)
            return item.Synchronous ? m_synchronousIcon : m_needUploadIcon;
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() == colSize)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant TFileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole)
        return int((section == colSize ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (section) {
    case colName:
        return QStringLiteral("Name");
    case colStatus:
        return QStringLiteral("Status");
    case colSize:
        return QStringLiteral("Size");
    case colModified:
        return QStringLiteral("Last modified");
    default:
        return {};
    }
}

void TFileListModel::Clear()
{
    beginResetModel();
    m_rows.clear();
    m_rowOf.clear();
    endResetModel();
}

void TFileListModel::Fill(TFileList &fileList, const TFileListItem *folder, bool showSync,
                          const TMask &mask)
{
    beginResetModel();
    m_rows.clear();
    m_rowOf.clear();
    if (folder) {
        // A folder's files are its children; scan order is kept by the children list.
        for (TFileListItem *item : folder->Children) {
            if (item->IsFolder || (!showSync && item->Synchronous))
                continue;
            if (mask.Matches(fileList.LocalPath(item->RelativeName)))
                m_rows.push_back(item);
        }
    }
    endResetModel();
}

void TFileListModel::Sort(int sortColumn)
{
    const bool descending = sortColumn < 0;
    const int key = std::abs(sortColumn);
    const std::vector<int> ranks = NameRanks(m_rows);
    QHash<const TFileListItem *, int> rankOf;
    rankOf.reserve(qsizetype(m_rows.size()));
    for (size_t row = 0; row < m_rows.size(); ++row)
        rankOf.insert(m_rows[row], ranks[row]);
    auto less = [key, &rankOf](const TFileListItem *a, const TFileListItem *b) {
        switch (key) {
        case 2:
            // Need upload first.
            if (a->Synchronous != b->Synchronous)
                return !a->Synchronous;
            break;
        case 3:
            if (a->Size != b->Size)
                return a->Size < b->Size;
            break;
        case 4:
            if (a->FileAge != b->FileAge)
                return a->FileAge < b->FileAge;
            break;
        default:
            break;
        }
        return rankOf.value(a) < rankOf.value(b);
    };
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<TFileListItem *> persistentItems;
    persistentItems.reserve(size_t(before.size()));
    for (const QModelIndex &index : before)
        persistentItems.push_back(m_rows[size_t(index.row())]);
    if (descending)
        std::sort(m_rows.begin(), m_rows.end(), [&less](auto *a, auto *b) { return less(b, a); });
    else
        std::sort(m_rows.begin(), m_rows.end(), less);
    m_rowOf.clear();
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i)
        after.append(index(RowOf(persistentItems[size_t(i)]), before[i].column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int TFileListModel::RowOf(const TFileListItem *item) const
{
    if (m_rowOf.isEmpty() && !m_rows.empty()) {
        m_rowOf.reserve(qsizetype(m_rows.size()));
        for (size_t row = 0; row < m_rows.size(); ++row)
            m_rowOf.insert(m_rows[row], int(row));
    }
    return m_rowOf.value(item, -1);
}

void TFileListModel::RowChanged(int row)
{
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void TFileListModel::AllRowsChanged()
{
    if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}
