#pragma once

#include "ui/ftpwindow/FtpWinActions.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>

#include <functional>
#include <memory>
#include <vector>

// The rows of the FTP window's list; each row owns the data of its listed entry.
class TFtpFileModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum TColumn { colName, colSize, colType, colModified, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;

    void Clear();
    // Appends a batch with one model notification.
    void AppendAll(std::vector<std::unique_ptr<TFtpFileData>> batch);
    const TFtpFileData *Data(int row) const { return m_rows[size_t(row)].Data.get(); }
    QString Text(int row, int column) const;
    void Sort(int column, bool inverted);

    // Called when a caption was edited in place: returns false to keep the old caption.
    std::function<bool(int row, const QString &oldName, const QString &newName)> OnRename;

private:
    struct TRow
    {
        std::unique_ptr<TFtpFileData> Data;
        QString SizeText;
        QString TypeText;
        QString DateText;
        QIcon Icon;
    };
    TRow MakeRow(std::unique_ptr<TFtpFileData> data);
    std::vector<TRow> m_rows;
    // Looked up by name alone, once per extension.
    struct TTypeInfo
    {
        QString Name;
        QIcon Icon;
    };
    QHash<QString, TTypeInfo> m_types;
    QIcon m_folderIcon;
};
