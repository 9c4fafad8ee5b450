#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QFileDialog;
class QLabel;

// Picks a local folder with Qt's own folder dialog (the same on every desktop, and
// drivable offscreen).
class TPathDialog : public QObject
{
    Q_OBJECT
public:
    enum TRootItem { riMyComputer, riDesktop };
    Q_ENUM(TRootItem)

    // A widget owner's window becomes the dialog's parent.
    explicit TPathDialog(QObject *owner = nullptr);
    ~TPathDialog() override;

    QString Title() const { return m_title; }
    void SetTitle(const QString &title);
    QString Directory() const { return m_directory; }
    // One trailing "/" is dropped ("/" stays), empty means the current folder; while the
    // dialog is open it selects the folder.
    void SetDirectory(const QString &directory);
    bool ShowStatus() const { return m_showStatus; }
    void SetShowStatus(bool show) { m_showStatus = show; }
    QString StatusText() const { return m_statusText; }
    void SetStatusText(const QString &text);
    // The file system's root or the desktop folder: where the dialog starts when Directory
    // is not a folder, and its sidebar's place.
    TRootItem RootItem() const { return m_rootItem; }
    void SetRootItem(TRootItem root) { m_rootItem = root; }
    int Tag() const { return m_tag; }
    void SetTag(int tag) { m_tag = tag; }

    // Modal. True and Directory set when a folder was confirmed; false, Directory unchanged,
    // when cancelled or when the root folder does not exist.
    bool Execute();
    // The open dialog; nullptr when none is open.
    QFileDialog *Dialog() const;
    QString RootFolder() const;

signals:
    void OnShow();
    void OnSelect(const QString &path); // the selected folder, "" when none

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ApplyDirectory();
    void ApplyStatusText();
    void Selected(const QString &path);

    QString m_title;
    QString m_directory;
    bool m_showStatus = false;
    QString m_statusText;
    TRootItem m_rootItem = riMyComputer;
    int m_tag = 0;
    QPointer<QFileDialog> m_dialog;
    QPointer<QLabel> m_status;
    bool m_shown = false;
    QString m_lastSelected;
};
