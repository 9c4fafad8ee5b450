// The rows of the FTP window's list: texts, icons and sorting of the listed entries.
#include "ui/ftpwindow/FtpFileModel.h"

#include "engine/FileLib.h"
#include "ui/dialogs/EditLib.h"
#include "ui/dialogs/Icons.h"

#include <QApplication>
#include <QCollator>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>

#include <algorithm>

int TFtpFileModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TFtpFileModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString TFtpFileModel::Text(int row, int column) const
{
    const TRow &r = m_rows[size_t(row)];
    switch (column) {
    case colName:
        return r.Data->Name;
    case colSize:
        return r.SizeText;
    case colType:
        return r.TypeText;
    case colModified:
        return r.DateText;
    default:
        return {};
    }
}

QVariant TFtpFileModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return Text(index.row(), index.column());
    case Qt::DecorationRole:
        if (index.column() == colName)
            return m_rows[size_t(index.row())].Icon;
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() == colSize)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default:
        return {};
    }
}

QVariant TFtpFileModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole && section == colSize)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    static const char *const titles[] = {"Name", "Size", "Type", "Modified"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(titles[section]) : QString();
}

Qt::ItemFlags TFtpFileModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == colName)
        result |= Qt::ItemIsEditable;
    return result;
}

bool TFtpFileModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.column() != colName)
        return false;
    TRow &row = m_rows[size_t(index.row())];
    const QString oldName = row.Data->Name;
    const QString newName = value.toString();
    if (newName == oldName)
        return false;
    if (!OnRename || !OnRename(index.row(), oldName, newName))
        return false;
    row.Data->Name = newName;
    emit dataChanged(index, index);
    return true;
}

void TFtpFileModel::Clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

TFtpFileModel::TRow TFtpFileModel::MakeRow(std::unique_ptr<TFtpFileData> data)
{
    TRow row;
    row.DateText = DateTimeText(data->Date);
    if (data->IsFolder) {
        if (m_folderIcon.isNull())
            m_folderIcon = FolderIcon();
        row.TypeText = QStringLiteral("Folder");
        row.Icon = m_folderIcon;
    } else {
        row.SizeText = FormatSize(data->Size);
        const QString suffix = QFileInfo(data->Name).suffix().toLower();
        auto found = m_types.constFind(suffix);
        if (found == m_types.constEnd()) {
            static const QMimeDatabase database;
            const QMimeType type
                = database.mimeTypeForFile(data->Name, QMimeDatabase::MatchExtension);
            TTypeInfo info;
            info.Name = type.isDefault() || type.comment().isEmpty() ? QStringLiteral("File")
                                                                     : type.comment();
            info.Icon = FileTypeIcon(data->Name);
            found = m_types.insert(suffix, info);
        }
        row.TypeText = found->Name;
        row.Icon = found->Icon;
    }
    row.Data = std::move(data);
    return row;
}

void TFtpFileModel::AppendAll(std::vector<std::unique_ptr<TFtpFileData>> batch)
{
    if (batch.empty())
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + int(batch.size()) - 1);
    m_rows.reserve(m_rows.size() + batch.size());
    for (auto &data : batch)
        m_rows.push_back(MakeRow(std::move(data)));
    endInsertRows();
}

void TFtpFileModel::Sort(int column, bool inverted)
{
    // Names and types as people read them: "Bild 3" before "Bild 13", accents by the locale.
    // The C locale would compare code points, numbers and all: it gets the common order.
    QCollator collator(QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale());
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    auto compare = [column, &collator](const TRow &a, const TRow &b) -> int {
        if (a.Data->IsFolder != b.Data->IsFolder)
            return a.Data->IsFolder ? -1 : 1;
        switch (column) {
        case 1:
            return a.Data->Size < b.Data->Size ? -1 : (a.Data->Size > b.Data->Size ? 1 : 0);
        case 2:
            return collator.compare(a.TypeText, b.TypeText);
        case 3:
            return a.Data->Date < b.Data->Date ? -1 : (a.Data->Date > b.Data->Date ? 1 : 0);
        default:
            return collator.compare(a.Data->Name, b.Data->Name);
        }
    };
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<const TFtpFileData *> keys;
    keys.reserve(size_t(before.size()));
    for (const QModelIndex &index : before)
        keys.push_back(m_rows[size_t(index.row())].Data.get());
    std::stable_sort(m_rows.begin(), m_rows.end(), [&](const TRow &a, const TRow &b) {
        const int result = compare(a, b);
        return inverted ? result > 0 : result < 0;
    });
    QHash<const TFtpFileData *, int> rowOf;
    for (size_t i = 0; i < m_rows.size(); ++i)
        rowOf.insert(m_rows[i].Data.get(), int(i));
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i)
        after.append(index(rowOf.value(keys[size_t(i)]), before[i].column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
