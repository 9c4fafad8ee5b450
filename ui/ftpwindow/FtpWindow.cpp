#include "ui/ftpwindow/FtpWindow.h"

#include "engine/FileLib.h"
#include "store/PrjCls.h"
#include "store/ProjectOptions.h"
#include "store/RegistryLib.h"
#include "store/Settings.h"
#include "ui/dialogs/EditLib.h"
#include "ui/dialogs/FormKeeper.h"
#include "ui/dialogs/PassDlg.h"
#include "ui/dialogs/PathDialog.h"
#include "ui/ftpwindow/FtpWinOptions.h"
#include "ui/ftpwindow/FtpWinReplace.h"

#include <QActionGroup>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

bool BrowseMode = false;

namespace {

const char *const FtpWindowCaption = "FTP Window";
const char *const BrowseCaption = "Browse for FTP folders";

} // namespace

// ---- window -----------------------------------------------------------------------------

TfrmFtpWindow::TfrmFtpWindow(QWidget *parent, const QStringList &arguments)
    : QDialog(parent)
    , m_browseMode(BrowseMode)
{
    setObjectName(QStringLiteral("frmFtpWindow"));
    CreateControls();

    FormKeeper = new TFormKeeper(this);
    FormKeeper->RegistryAddress.Root = hkeyCurrentUser;
    FormKeeper->RegistryAddress.Path = QStringLiteral("\\Software\\morvate\\Zandrel");
    FormKeeper->FormName = QStringLiteral("frmFtpWindow");
    FormKeeper->OnLoad = [this](TFormKeeper *, TRegistryKey &key) {
        if (key.ValueExists(QStringLiteral("Details")))
            SetDetails(key.ReadBool(QStringLiteral("Details")));
    };
    FormKeeper->OnSave = [this](TFormKeeper *, TRegistryKey &key) {
        key.WriteBool(QStringLiteral("Details"), DetailsView());
    };

    if (!m_browseMode) {
        // The window stands for the program here: its icon is the program's.
        QApplication::setWindowIcon(windowIcon());
        setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
        setWindowTitle(QString::fromLatin1(FtpWindowCaption));
    } else {
        FormKeeper->FormName = QStringLiteral("FTPDialog");
        pnlStatus->hide();
        tbnConnectAction->setVisible(false);
        tbnConnectBreak->setVisible(false);
        tbnDownloadAction->setVisible(false);
        tbnUploadAction->setVisible(false);
        pnlDialog->show();
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        setWindowTitle(QString::fromLatin1(BrowseCaption));
        lvwFiles->setSelectionMode(QAbstractItemView::SingleSelection);
        lvwFilesList->setSelectionMode(QAbstractItemView::SingleSelection);
        miSelectAll->setVisible(false);
        miSelectAll->setEnabled(false);
    }
    resize(DesignSize()); // a saved placement wins
    try {
        FormKeeper->Load();
    } catch (const std::exception &) {
        // Unreadable placement keeps the design size; it is written anew on close.
    }

    FAction = std::make_unique<TFtpAction>(fakList);
    CreateOperator();
    UpdateControls();
    FOpenFileName.clear();

    if (!m_browseMode && arguments.size() >= 2 && arguments[1] == QLatin1String("FTPWindow")
        && QFileInfo(arguments[0]).isFile()) {
        tbnConnectAction->setVisible(false);
        tbnConnectBreak->setVisible(false);
        // The main window that opened it hands down its lock; anyone else holding the project
        // (another window, a zandrel-cli run) keeps this window from working on its server.
        QString refusal;
        if (!m_projectLock.Adopt(arguments[0]) && !m_projectLock.Lock(arguments[0], refusal)) {
            QMessageBox::warning(this, windowTitle(), refusal);
            QTimer::singleShot(0, this, &QWidget::close);
            return;
        }
        TProject project;
        try {
            project.Load(arguments[0]);
            // Without a password argument the one stored in the project is the sensible one.
            const QString password
                = arguments.size() >= 3 ? arguments[2] : project.StoredPassword();
            ConfigureFromProject(project, password);
            SetLocalFolder(project.GetLocalPath());
            Refresh();
        } catch (const std::exception &error) {
            QMessageBox::warning(this, windowTitle(), QString::fromLocal8Bit(error.what()));
        }
    }
}

TfrmFtpWindow::~TfrmFtpWindow()
{
    try {
        FormKeeper->Save();
    } catch (const std::exception &error) {
        // Losing the placement must not stop the window from closing; the window is gone, so
        // the reason goes to standard error.
        qWarning("%s", error.what());
    }
    m_model.OnRename = nullptr;
    FOperator.reset();
    if (m_cursorSet)
        QApplication::restoreOverrideCursor();
    CleanTempFolder();
}

void TfrmFtpWindow::CreateOperator()
{
    FOperator = std::make_unique<TFtpOperator>();
    FOperator->OnBegin = [this](TFtpOperator *sender) { FtpBegin(sender); };
    FOperator->OnEnd = [this](TFtpOperator *sender) { FtpEnd(sender); };
    FOperator->OnClearList = [this](TFtpOperator *sender) { FtpClearList(sender); };
    FOperator->OnAddFile = [this](TFtpOperator *sender, std::unique_ptr<TFtpFileData> data) {
        FtpAddFile(sender, std::move(data));
    };
    FOperator->OnError
        = [this](TFtpOperator *sender, const QString &text) { FtpError(sender, text); };
    FOperator->OnUntrustedCertificate
        = [this](TFtpOperator *, const TCertificateInfo &info) { m_untrustedCertificate = info; };
    FOperator->OnStatus = [this](TFtpOperator *sender, const QString &text, int percent) {
        FtpStatus(sender, text, percent);
    };
    FOperator->OnAskReplace = [this](TFtpOperator *, const TFtpReplaceQuestion &question) {
        return AskReplaceFile(question, this);
    };
    FOperator->OnAskPassphrase
        = [this](TFtpOperator *, const QString &keyFile, QString &passphrase) {
              return AskForPassphrase(keyFile, passphrase, this);
          };
}

void TfrmFtpWindow::ConfigureFromProject(TProject &project, const QString &password)
{
    // A port that is no number is refused, not read as 21.
    quint16 port = 0;
    if (!ParsePort(project.Nodes(QStringLiteral("Port"))->AsString(), port))
        throw EStoreError(StoredPortRefusal(project.Nodes(QStringLiteral("Port"))->AsString()));
    FConnection.Items(QStringLiteral("Protocol"))->SetAsString(ProjectProtocol(project));
    FConnection.Items(QStringLiteral("ServerName"))
        ->SetAsString(project.Nodes(QStringLiteral("Host"))->AsString().trimmed());
    FConnection.Items(QStringLiteral("ServerPort"))
        ->SetAsString(project.Nodes(QStringLiteral("Port"))->AsString().trimmed());
    FConnection.Items(QStringLiteral("UserName"))
        ->SetAsString(project.Nodes(QStringLiteral("User"))->AsString());
    FConnection.Items(QStringLiteral("Password"))->SetAsString(password);
    FConnection.Items(QStringLiteral("InitialPath"))->SetAsString(project.GetRemotePath());
    FConnection.Items(QStringLiteral("UsePassive"))
        ->SetAsBoolean(project.Nodes(QStringLiteral("Passive"))->AsBoolean());
    FConnection.Items(QStringLiteral("UseFirewall"))
        ->SetAsBoolean(project.Nodes(QStringLiteral("Proxy"))->AsBoolean());
    FConnection.Items(QStringLiteral("Encryption"))->SetAsString(ProjectEncryption(project));
    FConnection.Items(QStringLiteral("TrustedCertificate"))
        ->SetAsString(project.Nodes(QStringLiteral("TrustedCertificate"))->AsString());
    // A server that offered TLS to the project and offers none now is refused, as there.
    FConnection.Items(QStringLiteral("ExpectTls"))->SetAsBoolean(ProjectExpectsTls(project));
    ApplyConnection();
}

void TfrmFtpWindow::ApplyConnection()
{
    TFtp &ftp = FOperator->Ftp();
    ftp.ServerName = FConnection.Items(QStringLiteral("ServerName"))->AsString();
    bool isNumber = false;
    const int port = FConnection.Items(QStringLiteral("ServerPort"))->AsString().toInt(&isNumber);
    ftp.Protocol = FConnection.Items(QStringLiteral("Protocol"))->AsString();
    ftp.ServerPort
        = isNumber && port > 0 && port <= 65535 ? quint16(port) : DefaultPort(ftp.Protocol);
    ftp.UserName = FConnection.Items(QStringLiteral("UserName"))->AsString();
    ftp.Password = FConnection.Items(QStringLiteral("Password"))->AsString();
    ftp.Passive = FConnection.Items(QStringLiteral("UsePassive"))->AsBoolean();
    ftp.Proxy = FConnection.Items(QStringLiteral("UseFirewall"))->AsBoolean() ? GetProxyString()
                                                                              : QString();
    ftp.Encryption = FConnection.Items(QStringLiteral("Encryption"))->AsString();
    ftp.TrustedFingerprint = FConnection.Items(QStringLiteral("TrustedCertificate"))->AsString();
    ftp.ExpectTls = FConnection.Items(QStringLiteral("ExpectTls"))->AsBoolean();
    FAction->Path = FConnection.Items(QStringLiteral("InitialPath"))->AsString();
    UpdateControls();
}

void TfrmFtpWindow::SetLocalFolder(const QString &folder)
{
    m_localFolder = folder;
    pdgDownload->SetDirectory(folder);
}

QString TfrmFtpWindow::TempFolder()
{
    if (!m_tempFolder) {
        // A fresh name that nobody can have made first, readable by this user only: a fixed
        // shared name let another user make it first, or read what was opened.
        auto folder = std::make_unique<QTemporaryDir>(IncludeTrailingSlash(GetTempDir())
                                                      + QStringLiteral("zandrel-open-XXXXXX"));
        if (!folder->isValid()
            || !QFile::setPermissions(folder->path(), QFileDevice::ReadOwner
                                                          | QFileDevice::WriteOwner
                                                          | QFileDevice::ExeOwner))
            return {};
        m_tempFolder = std::move(folder);
    }
    return m_tempFolder->path();
}

QString TfrmFtpWindow::ChosenFolder() const
{
    if (!FOperator || !FAction || !FOperator->Ftp().Connected() || FAction->Path.isEmpty())
        return {};
    const QList<int> rows = SelectedRows();
    if (rows.size() == 1 && m_model.Data(rows[0])->IsFolder)
        return IncludeTrailingSlash(FAction->Path) + m_model.Data(rows[0])->Name;
    return FAction->Path;
}

bool TfrmFtpWindow::DetailsView() const
{
    return m_views->currentWidget() == lvwFiles;
}

void TfrmFtpWindow::SetDetails(bool details)
{
    QWidget *view = details ? static_cast<QWidget *>(lvwFiles) : lvwFilesList;
    const bool hadFocus = m_views->currentWidget()->hasFocus();
    m_views->setCurrentWidget(view);
    if (hadFocus)
        view->setFocus();
}

bool TfrmFtpWindow::Editing() const
{
    for (QAbstractItemView *view : {static_cast<QAbstractItemView *>(lvwFiles),
                                    static_cast<QAbstractItemView *>(lvwFilesList)}) {
        if (static_cast<TEditTrackingDelegate *>(view->itemDelegate())->Editing())
            return true;
    }
    return false;
}

QAbstractItemView *TfrmFtpWindow::CurrentView() const
{
    return static_cast<QAbstractItemView *>(m_views->currentWidget());
}

QList<int> TfrmFtpWindow::SelectedRows() const
{
    QList<int> rows;
    for (const QModelIndex &index : lvwFiles->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TfrmFtpWindow::Run()
{
    FOperator->RunAction(FAction.get());
}

// Folder rows go to Folders, file rows to Items with their sizes.
void TfrmFtpWindow::RunOnRows(quint8 kind, const QList<int> &rows)
{
    FAction->Kind = kind;
    FAction->ClearItems();
    FAction->Folders.clear();
    for (int row : rows) {
        const TFtpFileData *data = m_model.Data(row);
        if (data->IsFolder)
            FAction->Folders.append(data->Name);
        else
            FAction->AddItem(data->Name, data->Size, data->Date);
    }
    Run();
}

void TfrmFtpWindow::Refresh()
{
    acnRefreshExecute();
}

void TfrmFtpWindow::FitColumns()
{
    const QFontMetrics metrics(lvwFiles->font());
    const int rows = m_model.rowCount();
    if (rows == 0)
        return;
    for (int column = 0; column < TFtpFileModel::ColumnCount; ++column) {
        int widest = metrics.horizontalAdvance(
            m_model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString());
        for (int row = 0; row < rows; ++row)
            widest = std::max(widest, metrics.horizontalAdvance(m_model.Text(row, column)));
        if (column != TFtpFileModel::colName) {
            lvwFiles->setColumnWidth(column, widest + 2 * metrics.averageCharWidth() + 8);
            continue;
        }
        // The list is as wide as its longest name (the name column stretches by itself): the
        // text, the icon and the margins the style puts around both.
        const int icon = lvwFilesList->iconSize().width();
        const int margin = lvwFilesList->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr,
                                                              lvwFilesList)
                           + 1;
        lvwFilesList->setGridSize(QSize(widest + icon + 4 * margin + metrics.averageCharWidth(),
                                        std::max(icon, metrics.height()) + 2 * margin));
    }
}

void TfrmFtpWindow::SortList()
{
    m_model.Sort(FSortColumn, FSortInverted);
    lvwFiles->header()->setSortIndicator(FSortColumn,
                                         FSortInverted ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void TfrmFtpWindow::lvwFilesColumnClick(int section)
{
    if (section == FSortColumn) {
        FSortInverted = !FSortInverted;
    } else {
        FSortColumn = section;
        FSortInverted = false;
    }
    SortList();
}

void TfrmFtpWindow::ShowStatusText(const QString &text)
{
    lblStatus->setText(text);
    pnlDialogStatus->setText(QLatin1Char(' ') + text);
}

void TfrmFtpWindow::UpdateStatusLine()
{
    if (!FOperator->Ftp().Connected()) {
        ShowStatusText(QStringLiteral("No connection"));
        return;
    }
    const QList<int> selected = SelectedRows();
    qint64 sum = 0;
    QString text;
    if (selected.isEmpty()) {
        for (int row = 0; row < m_model.rowCount(); ++row) {
            if (!m_model.Data(row)->IsFolder)
                sum += m_model.Data(row)->Size;
        }
        text = QString::number(m_model.rowCount()) + QStringLiteral(" object(s)");
    } else {
        for (int row : selected) {
            if (!m_model.Data(row)->IsFolder)
                sum += m_model.Data(row)->Size;
        }
        text = QString::number(selected.size()) + QStringLiteral(" object(s) selected");
    }
    if (sum > 0)
        text += QStringLiteral("   ") + FormatSize(sum);
    // A folder that looks empty, or short, says which lines of its listing were not read.
    if (selected.isEmpty() && !FOperator->ListingNote().isEmpty())
        text += QStringLiteral("   ") + FOperator->ListingNote();
    ShowStatusText(text);
}

void TfrmFtpWindow::UpdateCaption()
{
    QString caption = QString::fromLatin1(m_browseMode ? BrowseCaption : FtpWindowCaption);
    if (FOperator->Ftp().Connected())
        caption += (FOperator->Ftp().HostKeyFingerprint().isEmpty() ? QStringLiteral(" - ftp://")
                                                                    : QStringLiteral(" - sftp://"))
                   + FOperator->Ftp().ServerName + FAction->Path;
    setWindowTitle(caption);
}

void TfrmFtpWindow::UpdateControls()
{
    const bool idle = !FOperator || !FOperator->Busy();
    const bool configured = !FConnection.Items(QStringLiteral("ServerName"))->AsString().isEmpty()
                            && !FConnection.Items(QStringLiteral("UserName"))->AsString().isEmpty();
    const QList<int> rows = SelectedRows();
    tbnConnect->setEnabled(idle);
    acnUpper->setEnabled(idle && FAction && FAction->Path.size() > 1);
    acnRefresh->setEnabled(idle && configured);
    acnNewFolder->setEnabled(idle && configured);
    acnUpload->setEnabled(idle && configured);
    acnAbort->setEnabled(!idle);
    acnDownload->setEnabled(idle && !rows.isEmpty());
    acnDelete->setEnabled(idle && !rows.isEmpty());
    acnRename->setEnabled(idle && rows.size() == 1);
    pnlDialogStatus->setVisible(!idle);
    edtPath->setEnabled(idle && configured);
    if (m_browseMode) {
        const QString chosen = idle ? ChosenFolder() : QString();
        btnOK->setEnabled(!chosen.isEmpty());
        btnOK->setToolTip(chosen.isEmpty() ? QString() : QStringLiteral("Choose ") + chosen);
        // Long paths keep their ends; the tip has the whole path.
        btnOK->setText(chosen.isEmpty()
                           ? QStringLiteral("OK")
                           : QStringLiteral("Choose ")
                                 + btnOK->fontMetrics().elidedText(chosen, Qt::ElideMiddle, 280));
    }
}

void TfrmFtpWindow::ShowPopupMenu(const QPoint &position)
{
    const QList<int> rows = SelectedRows();
    const bool folderSelected = rows.size() == 1 && m_model.Data(rows[0])->IsFolder;
    miOpen->setVisible(!rows.isEmpty() && (!m_browseMode || folderSelected));
    miDownload->setVisible(!m_browseMode);
    miUpload->setVisible(!m_browseMode);
    miSelectAll->setVisible(!m_browseMode);
    miSelectAll->setEnabled(!m_browseMode);
    PopupMenu->popup(CurrentView()->viewport()->mapToGlobal(position));
}

// ---- opening files ----------------------------------------------------------------------

void TfrmFtpWindow::OpenDownloadedFile()
{
    const QString fileName = FOpenFileName;
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(fileName)))
        return;
    if (QMessageBox::question(
            this, windowTitle(),
            QStringLiteral("Not to manage automatically to open file. Do you want save file?"),
            QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return;
    const QString target = AskSaveFile(QFileInfo(fileName).fileName());
    if (target.isEmpty())
        return;
    QFile::remove(target);
    if (!QFile::copy(fileName, target))
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("The file could not be saved as ") + target);
}

void TfrmFtpWindow::CleanTempFolder()
{
    m_tempFolder.reset(); // removes the folder with everything in it
}

// ---- picker -----------------------------------------------------------------------------

bool BrowseFtpFolder(TProject &project, QString &path, QWidget *parent)
{
    BrowseMode = true;
    bool chosen = false;
    {
        TfrmFtpWindow window(parent);
        window.ConfigureFromProject(project, project.GetPassword());
        window.Refresh();
        if (window.exec() == QDialog::Accepted) {
            const QString folder = window.ChosenFolder();
            if (!folder.isEmpty()) {
                path = folder;
                chosen = true;
            }
        }
    }
    BrowseMode = false;
    return chosen;
}
