#include "ui/dialogs/Options.h"

#include "engine/FileLib.h"
#include "store/PrjCls.h"
#include "store/ProjectOptions.h"
#include "store/ShellLib.h"
#include "store/StringLib.h"
#include "ui/dialogs/EditLib.h"
#include "ui/dialogs/PathDialog.h"
#include "ui/dialogs/ProxyDlg.h"
#include "ui/ftpwindow/FtpWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {
template <class W> W *Named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel *NewLabel(const QString &text, QWidget *buddy, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

TNaturalEdit *NewNumberEdit(const char *name, TNumberField field, QWidget *parent)
{
    auto *edit = Named(new TNaturalEdit(parent), name);
    edit->SetMaxLength(field.Digits);
    edit->SetMinValue(field.Min);
    edit->setMaximumWidth(edit->sizeHint().width());
    return edit;
}

// A local path as a relative name of the site: "/" becomes "\".
QString RelativeName(const QString &path)
{
    QString name = path;
    return name.replace(u'/', u'\\');
}

// `path` after the source folder and its "/", or empty when it lies outside that folder.
QString InsideSource(const QString &source, const QString &path)
{
    const QString prefix = IncludeTrailingSlash(source);
    if (source.isEmpty() || !StartsWith(prefix, path, true))
        return {};
    return path.mid(prefix.size());
}
} // namespace

TfrmOptions::TfrmOptions(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("Project Options"));

    PageControl = Named(new QTabWidget(this), "PageControl");
    tshMain = NewMainPage();
    tshIgnoreList = NewIgnorePage();
    tshSettings = NewSettingsPage();
    PageControl->addTab(tshMain, QStringLiteral("M&ain"));
    PageControl->addTab(tshIgnoreList, QStringLiteral("&Ignore List"));
    PageControl->addTab(tshSettings, QStringLiteral("&Settings"));

    QDialogButtonBox *buttons = NewOkCancelButtons(this, btnOK, btnCancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &TfrmOptions::btnOKClick);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(PageControl, 1);
    layout->addWidget(buttons);
    resize(sizeHint().expandedTo(QSize(520, 0)));

    // Enter and Esc act for the whole form, whichever control has the focus.
    PreviewKeys(this);
}

QWidget *TfrmOptions::NewMainPage()
{
    auto *page = Named(new QWidget(PageControl), "tshMain");

    auto *local = Named(
        new QGroupBox(QStringLiteral(" Local folder for uploading to server "), page), "gbxLocal");
    edtPath = Named(new QLineEdit(local), "edtPath");
    btnBrowse = Named(new QPushButton(QStringLiteral("..."), local), "btnBrowse");
    btnBrowse->setToolTip(QStringLiteral("Select the path for uploading"));
    btnBrowse->setMaximumWidth(btnBrowse->fontMetrics().horizontalAdvance(QStringLiteral("..."))
                               + 24);
    cbxIncludeSubDirs
        = Named(new QCheckBox(QStringLiteral("Include s&ubfolders"), local), "cbxIncludeSubDirs");
    auto *localGrid = new QGridLayout(local);
    localGrid->addWidget(NewLabel(QStringLiteral("&Path"), edtPath, local), 0, 0);
    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(edtPath, 1);
    pathRow->addWidget(btnBrowse);
    localGrid->addLayout(pathRow, 0, 1);
    localGrid->addWidget(cbxIncludeSubDirs, 1, 1);
    localGrid->setColumnStretch(1, 1);

    auto *server = Named(new QGroupBox(QStringLiteral(" Target FTP Server "), page), "gbxServer");
    cbxProtocol = Named(new QComboBox(server), "cbxProtocol");
    cbxProtocol->addItem(QStringLiteral("FTP"), QStringLiteral("ftp"));
    cbxProtocol->addItem(QStringLiteral("SFTP (SSH)"), QStringLiteral("sftp"));
    edtHost = Named(new QLineEdit(server), "edtHost");
    edtPort = Named(new QLineEdit(server), "edtPort");
    edtPort->setMaxLength(6);
    edtPort->setMaximumWidth(edtPort->fontMetrics().horizontalAdvance(QStringLiteral("0000000"))
                             + 16);
    edtUser = Named(new QLineEdit(server), "edtUser");
    edtPass = Named(new QLineEdit(server), "edtPass");
    edtPass->setEchoMode(QLineEdit::Password);
    edtInitDir = Named(new QLineEdit(server), "edtInitDir");
    btnFtpBrowse = Named(new QPushButton(QStringLiteral("&Browse..."), server), "btnFtpBrowse");
    cbxPassive = Named(new QCheckBox(QStringLiteral("Use passi&ve mode"), server), "cbxPassive");
    cbxEncryption = NewEncryptionBox(server, "cbxEncryption");
    cbxProxy = Named(new QCheckBox(QStringLiteral("Use &firewall settings"), server), "cbxProxy");
    btnFirewallSettings = Named(new QPushButton(QStringLiteral("Firewall Se&ttings..."), server),
                                "btnFirewallSettings");

    auto *serverGrid = new QGridLayout(server);
    serverGrid->addWidget(NewLabel(QStringLiteral("Proto&col"), cbxProtocol, server), 0, 0);
    serverGrid->addWidget(cbxProtocol, 0, 1, Qt::AlignLeft);
    serverGrid->addWidget(NewLabel(QStringLiteral("H&ost"), edtHost, server), 1, 0);
    auto *hostRow = new QHBoxLayout;
    hostRow->addWidget(edtHost, 1);
    hostRow->addWidget(NewLabel(QStringLiteral("Po&rt"), edtPort, server));
    hostRow->addWidget(edtPort);
    serverGrid->addLayout(hostRow, 1, 1, 1, 2);
    serverGrid->addWidget(NewLabel(QStringLiteral("&Login"), edtUser, server), 2, 0);
    serverGrid->addWidget(edtUser, 2, 1, 1, 2);
    serverGrid->addWidget(NewLabel(QStringLiteral("Pass&word"), edtPass, server), 3, 0);
    serverGrid->addWidget(edtPass, 3, 1, 1, 2);
    serverGrid->addWidget(NewLabel(QStringLiteral("Pat&h"), edtInitDir, server), 4, 0);
    serverGrid->addWidget(edtInitDir, 4, 1);
    serverGrid->addWidget(btnFtpBrowse, 4, 2);
    serverGrid->addWidget(cbxPassive, 5, 1, 1, 2);
    serverGrid->addWidget(cbxProxy, 6, 1);
    serverGrid->addWidget(btnFirewallSettings, 6, 2);
    serverGrid->addWidget(NewLabel(QStringLiteral("&Encryption"), cbxEncryption, server), 7, 0);
    serverGrid->addWidget(cbxEncryption, 7, 1, 1, 2);
    serverGrid->setColumnStretch(1, 1);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(local);
    layout->addWidget(server);
    layout->addStretch();

    setTabOrder(edtPath, btnBrowse);
    setTabOrder(btnBrowse, cbxIncludeSubDirs);
    setTabOrder(cbxIncludeSubDirs, cbxProtocol);
    setTabOrder(cbxProtocol, edtHost);
    setTabOrder(edtHost, edtPort);
    setTabOrder(edtPort, edtUser);
    setTabOrder(edtUser, edtPass);
    setTabOrder(edtPass, edtInitDir);
    setTabOrder(edtInitDir, btnFtpBrowse);
    setTabOrder(btnFtpBrowse, cbxPassive);
    setTabOrder(cbxPassive, cbxProxy);
    setTabOrder(cbxProxy, btnFirewallSettings);
    setTabOrder(btnFirewallSettings, cbxEncryption);

    connect(btnBrowse, &QPushButton::clicked, this, &TfrmOptions::btnBrowseClick);
    connect(btnFtpBrowse, &QPushButton::clicked, this, &TfrmOptions::btnFtpBrowseClick);
    connect(btnFirewallSettings, &QPushButton::clicked, this,
            [this] { EditFirewallSettings(this, Sftp()); });
    connect(cbxProtocol, &QComboBox::currentIndexChanged, this, &TfrmOptions::ProtocolChanged);
    connect(edtHost, &QLineEdit::textChanged, this, &TfrmOptions::UpdateControls);
    connect(edtUser, &QLineEdit::textChanged, this, &TfrmOptions::UpdateControls);
    connect(cbxProxy, &QCheckBox::toggled, this, &TfrmOptions::UpdateControls);
    return page;
}

QWidget *TfrmOptions::NewIgnorePage()
{
    auto *page = Named(new QWidget(PageControl), "tshIgnoreList");
    lvwIgnore = Named(new QListWidget(page), "lvwIgnore");
    lvwIgnore->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvwIgnore->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvwIgnore->setItemDelegate(new TEditTrackingDelegate(lvwIgnore));
    lvwIgnore->setSortingEnabled(true);
    lvwIgnore->setContextMenuPolicy(Qt::CustomContextMenu);
    lvwIgnore->setAccessibleName(QStringLiteral("Mask"));

    const auto newButton
        = [page](const char *name, const QString &text) { return NewSideButton(page, name, text); };
    btnAddIgnoreFile = newButton("btnAddIgnoreFile", QStringLiteral("Add &File..."));
    btnAddIgnoreMask = newButton("btnAddIgnoreMask", QStringLiteral("Add &Mask"));
    btnAddIgnoreDir = newButton("btnAddIgnoreDir", QStringLiteral("Add &Dir..."));
    btnEditIgnore = newButton("btnEditIgnore", QStringLiteral("&Edit"));
    btnDeleteIgnore = newButton("btnDeleteIgnore", QStringLiteral("De&lete"));

    pmnIgnore = Named(new QMenu(this), "pmnIgnore");
    // Widget shortcuts: they act while the list has the focus, not while a caption is edited.
    const auto addMenuAction
        = [this](const char *name, const QString &text, const QKeySequence &key) {
              QAction *action = pmnIgnore->addAction(text);
              action->setObjectName(QString::fromLatin1(name));
              action->setShortcut(key);
              action->setShortcutContext(Qt::WidgetShortcut);
              lvwIgnore->addAction(action);
              return action;
          };
    QAction *edit = addMenuAction("miEditIgnore", QStringLiteral("Edit"), Qt::Key_F2);
    QAction *remove = addMenuAction("miDeleteIgnore", QStringLiteral("Delete"), Qt::Key_Delete);
    QAction *selectAll
        = addMenuAction("miSelectAllIgnore", QStringLiteral("Select All"), QKeySequence::SelectAll);
    pmnIgnore->setDefaultAction(edit);

    auto *buttons = new QVBoxLayout;
    for (QPushButton *button :
         {btnAddIgnoreFile, btnAddIgnoreMask, btnAddIgnoreDir, btnEditIgnore, btnDeleteIgnore})
        buttons->addWidget(button);
    buttons->addStretch();
    auto *layout = new QHBoxLayout(page);
    layout->addWidget(lvwIgnore, 1);
    layout->addLayout(buttons);

    connect(btnAddIgnoreFile, &QPushButton::clicked, this, &TfrmOptions::btnAddIgnoreFileClick);
    connect(btnAddIgnoreMask, &QPushButton::clicked, this, &TfrmOptions::btnAddIgnoreMaskClick);
    connect(btnAddIgnoreDir, &QPushButton::clicked, this, &TfrmOptions::btnAddIgnoreDirClick);
    connect(btnEditIgnore, &QPushButton::clicked, this, &TfrmOptions::btnEditIgnoreClick);
    connect(btnDeleteIgnore, &QPushButton::clicked, this, &TfrmOptions::btnDeleteIgnoreClick);
    connect(edit, &QAction::triggered, this, &TfrmOptions::btnEditIgnoreClick);
    connect(remove, &QAction::triggered, this, &TfrmOptions::btnDeleteIgnoreClick);
    connect(selectAll, &QAction::triggered, lvwIgnore, &QListWidget::selectAll);
    connect(lvwIgnore, &QListWidget::itemDoubleClicked, this, &TfrmOptions::btnEditIgnoreClick);
    connect(lvwIgnore, &QListWidget::itemSelectionChanged, this, &TfrmOptions::UpdateControls);
    connect(lvwIgnore, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        if (!lvwIgnore->selectedItems().isEmpty())
            pmnIgnore->popup(lvwIgnore->viewport()->mapToGlobal(at));
    });
    return page;
}

QWidget *TfrmOptions::NewSettingsPage()
{
    auto *page = Named(new QWidget(PageControl), "tshSettings");
    edtTimeout = NewNumberEdit("edtTimeout", TimeoutField, page);
    edtConnections = Named(new QSpinBox(page), "edtConnections");
    edtConnections->setRange(1, MaxConnections);
    edtConnections->setToolTip(
        QStringLiteral("How many connections an upload, a compare, a removal or a download may "
                       "open to the server at once"));
    cbxSafeUpload
        = Named(new QCheckBox(QStringLiteral("Use the safe &uploading for files more than"), page),
                "cbxSafeUpload");
    edtSafeUploadSize = NewNumberEdit("edtSafeUploadSize", SafeUploadSizeField, page);
    cbxProtectServerChanges
        = Named(new QCheckBox(QStringLiteral("Protect &changes made on the server"), page),
                "cbxProtectServerChanges");
    cbxProtectServerChanges->setToolTip(
        QStringLiteral("An upload does not replace a file that was changed on the server since "
                       "its last upload without asking"));
    cbxSetPermission
        = Named(new QCheckBox(QStringLiteral("Set the 755 &permission for executable files"), page),
                "cbxSetPermission");
    cbxCheckSize
        = Named(new QCheckBox(QStringLiteral("Check the si&ze of binary files when compare"), page),
                "cbxCheckSize");
    cbxIgnoreHiddenFiles = Named(new QCheckBox(QStringLiteral("Ignore the &hidden files"), page),
                                 "cbxIgnoreHiddenFiles");
    cbxSaveLog = Named(new QCheckBox(QStringLiteral("Save &log to file"), page), "cbxSaveLog");
    edtLogFile = Named(new QLineEdit(page), "edtLogFile");
    ShowButtonFaceWhenDisabled(edtLogFile);
    btnBrowseLogFile = NewSideButton(page, "btnBrowseLogFile", QStringLiteral("&Browse"));
    // The caption stops before the number: the size edit stands in its place.
    cbxMaxLogSize
        = Named(new QCheckBox(QStringLiteral("T&runcate the log file if more than"), page),
                "cbxMaxLogSize");
    edtMaxLogSize = NewNumberEdit("edtMaxLogSize", MaxLogSizeField, page);
    lblMaxLogSizeKB = Named(new QLabel(QStringLiteral("KB"), page), "lblMaxLogSizeKB");

    const auto row = [](std::initializer_list<QWidget *> widgets) {
        auto *line = new QHBoxLayout;
        for (QWidget *widget : widgets)
            line->addWidget(widget);
        line->addStretch();
        return line;
    };
    auto *layout = new QVBoxLayout(page);
    layout->addLayout(row({NewLabel(QStringLiteral("Ti&meout of FTP connection"), edtTimeout, page),
                           edtTimeout, new QLabel(QStringLiteral("second(s)"), page)}));
    layout->addLayout(
        row({NewLabel(QStringLiteral("Simultaneous co&nnections"), edtConnections, page),
             edtConnections}));
    layout->addLayout(
        row({cbxSafeUpload, edtSafeUploadSize, new QLabel(QStringLiteral("KB"), page)}));
    layout->addWidget(cbxProtectServerChanges);
    layout->addWidget(cbxSetPermission);
    layout->addWidget(cbxCheckSize);
    layout->addWidget(cbxIgnoreHiddenFiles);
    layout->addSpacing(8);
    layout->addWidget(cbxSaveLog);
    auto *logFile = new QHBoxLayout;
    logFile->setContentsMargins(20, 0, 0, 0);
    logFile->addWidget(edtLogFile, 1);
    logFile->addWidget(btnBrowseLogFile);
    layout->addLayout(logFile);
    QHBoxLayout *maxLogSize = row({cbxMaxLogSize, edtMaxLogSize, lblMaxLogSizeKB});
    maxLogSize->setContentsMargins(20, 0, 0, 0);
    layout->addLayout(maxLogSize);
    layout->addStretch();

    connect(btnBrowseLogFile, &QPushButton::clicked, this, &TfrmOptions::btnBrowseLogFileClick);
    connect(cbxSafeUpload, &QCheckBox::toggled, this, &TfrmOptions::UpdateControls);
    connect(cbxSaveLog, &QCheckBox::toggled, this, &TfrmOptions::UpdateControls);
    return page;
}

bool TfrmOptions::Execute(TProject &project)
{
    m_project = &project;
    LoadFromProject();
    UpdateControls();
    const bool confirmed = exec() == QDialog::Accepted;
    if (confirmed)
        SaveToProject();
    m_project = nullptr;
    return confirmed;
}

void TfrmOptions::LoadFromProject()
{
    TProjectOptions options;
    options.Load(*m_project);
    edtPath->setText(options.Path);
    edtPath->setCursorPosition(0); // a long path shows where it starts
    cbxIncludeSubDirs->setChecked(options.IncSubDirs);
    edtHost->setText(options.Host);
    edtUser->setText(options.User);
    edtPass->setText(options.Pass);
    edtInitDir->setText(options.RemotePath);
    edtPort->setText(options.Port);
    edtTimeout->SetText(options.Timeout);
    edtConnections->setValue(options.Connections);
    cbxPassive->setChecked(options.Passive);
    SetEncryption(cbxEncryption, options.Encryption);
    {
        // Loading is no switch: the stored port stays as it is.
        const QSignalBlocker quiet(cbxProtocol);
        cbxProtocol->setCurrentIndex(qMax(0, cbxProtocol->findData(options.Protocol)));
    }
    cbxProxy->setChecked(options.Proxy);
    cbxSaveLog->setChecked(options.SaveLog);
    edtLogFile->setText(options.LogFile);
    cbxMaxLogSize->setChecked(options.CheckLogSize);
    edtMaxLogSize->SetValue(options.MaxLogSize);
    cbxSafeUpload->setChecked(options.SafeUpload);
    edtSafeUploadSize->SetValue(options.SafeUploadSize);
    cbxProtectServerChanges->setChecked(options.ProtectServerChanges);
    cbxSetPermission->setChecked(options.SetPermission);
    cbxCheckSize->setChecked(options.CheckSize);
    cbxIgnoreHiddenFiles->setChecked(options.IgnoreHiddenFiles);

    lvwIgnore->clear();
    for (const QString &mask : std::as_const(options.Ignore))
        AddIgnoreItem(mask);
    if (lvwIgnore->count() > 0) {
        lvwIgnore->clearSelection();
        lvwIgnore->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
    }
}

TProjectOptions TfrmOptions::ControlsToOptions() const
{
    TProjectOptions options;
    options.Path = edtPath->text();
    options.IncSubDirs = cbxIncludeSubDirs->isChecked();
    options.Host = edtHost->text();
    options.User = edtUser->text();
    options.Pass = edtPass->text();
    options.RemotePath = edtInitDir->text();
    options.Port = edtPort->text();
    options.Timeout = edtTimeout->text();
    options.Connections = edtConnections->value();
    options.Passive = cbxPassive->isChecked();
    options.Encryption = Encryption(cbxEncryption);
    options.Protocol = cbxProtocol->currentData().toString();
    options.Proxy = cbxProxy->isChecked();
    options.SaveLog = cbxSaveLog->isChecked();
    options.LogFile = edtLogFile->text();
    options.CheckLogSize = cbxMaxLogSize->isChecked();
    options.MaxLogSize = edtMaxLogSize->Value();
    options.SafeUpload = cbxSafeUpload->isChecked();
    options.SafeUploadSize = edtSafeUploadSize->Value();
    options.ProtectServerChanges = cbxProtectServerChanges->isChecked();
    options.SetPermission = cbxSetPermission->isChecked();
    options.CheckSize = cbxCheckSize->isChecked();
    options.IgnoreHiddenFiles = cbxIgnoreHiddenFiles->isChecked();
    for (int row = 0; row < lvwIgnore->count(); ++row)
        options.Ignore.append(lvwIgnore->item(row)->text());
    return options;
}

void TfrmOptions::SaveToProject()
{
    ControlsToOptions().Save(*m_project);
}

bool TfrmOptions::Sftp() const
{
    return cbxProtocol->currentData().toString() == QLatin1String("sftp");
}

void TfrmOptions::ProtocolChanged()
{
    // A port that holds the other protocol's default moves to this one's; any other stays.
    const quint16 now = DefaultPort(cbxProtocol->currentData().toString());
    const quint16 other = now == 22 ? 21 : 22;
    if (TrimBlanks(edtPort->text()) == QString::number(other))
        edtPort->setText(QString::number(now));
    UpdateControls();
}

void TfrmOptions::UpdateControls()
{
    btnFtpBrowse->setEnabled(!edtHost->text().isEmpty() && !edtUser->text().isEmpty());
    // Passive mode and TLS are FTP's own; a SOCKS proxy serves both protocols.
    cbxPassive->setEnabled(!Sftp());
    cbxEncryption->setEnabled(!Sftp());
    const bool selected = !lvwIgnore->selectedItems().isEmpty();
    btnEditIgnore->setEnabled(selected);
    btnDeleteIgnore->setEnabled(selected);
    btnFirewallSettings->setEnabled(cbxProxy->isChecked());
    const bool saveLog = cbxSaveLog->isChecked();
    for (QWidget *control : std::initializer_list<QWidget *>{
             edtLogFile, btnBrowseLogFile, cbxMaxLogSize, edtMaxLogSize, lblMaxLogSizeKB})
        control->setEnabled(saveLog);
}

void TfrmOptions::AddIgnoreItem(const QString &text)
{
    QListWidgetItem *item = nullptr;
    for (int row = 0; row < lvwIgnore->count() && !item; ++row) {
        if (SameTextAscii(lvwIgnore->item(row)->text(), text))
            item = lvwIgnore->item(row);
    }
    if (!item) {
        item = new TSortedTextItem(text);
        lvwIgnore->addItem(item);
    }
    lvwIgnore->clearSelection();
    lvwIgnore->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
    lvwIgnore->scrollToItem(item);
}

bool TfrmOptions::EditingIgnoreRow() const
{
    return static_cast<TEditTrackingDelegate *>(lvwIgnore->itemDelegate())->Editing();
}

void TfrmOptions::btnBrowseClick()
{
    TPathDialog picker(this);
    picker.SetTitle(QStringLiteral("Select the path for uploading"));
    // Without a desktop folder the picker could not open at all: root it at the file system.
    picker.SetRootItem(QFileInfo(GetCommonDesktopFolder()).isDir() ? TPathDialog::riDesktop
                                                                   : TPathDialog::riMyComputer);
    const QString path = edtPath->text();
    picker.SetDirectory(TrimBlanks(path).isEmpty() ? GetPersonalFolder() : path);
    if (picker.Execute())
        edtPath->setText(picker.Directory());
}

void TfrmOptions::btnFtpBrowseClick()
{
    quint16 port = 0;
    if (!ParsePort(edtPort->text(), port, DefaultPort(cbxProtocol->currentData().toString()))) {
        QMessageBox::warning(this, windowTitle(), QString::fromLatin1(PortRefusal));
        edtPort->setFocus();
        return;
    }
    // The server and login as typed so far; the edited project stays untouched.
    TProject probe;
    probe.InitDefaults();
    ControlsToOptions().Save(probe);
    if (!probe.AskPassword())
        return;
    QString folder = edtInitDir->text();
    if (BrowseFtpFolder(probe, folder, this))
        edtInitDir->setText(folder);
}

void TfrmOptions::btnBrowseLogFileClick()
{
    QFileDialog dialog(this, QString(), edtLogFile->text(),
                       QStringLiteral("Text Files (*.txt);;All Files (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    if (!edtLogFile->text().isEmpty())
        dialog.selectFile(edtLogFile->text());
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        edtLogFile->setText(dialog.selectedFiles().constFirst());
}

void TfrmOptions::btnAddIgnoreFileClick()
{
    const QStringList files = QFileDialog::getOpenFileNames(
        this, QStringLiteral("Add file"), edtPath->text(), QStringLiteral("All Files (*)"));
    const QString source = edtPath->text();
    for (const QString &file : files) {
        const QString inside = InsideSource(source, file);
        AddIgnoreItem(inside.isEmpty() ? QFileInfo(file).fileName() : RelativeName(inside));
    }
    if (!files.isEmpty())
        lvwIgnore->setFocus();
}

void TfrmOptions::btnAddIgnoreDirClick()
{
    const QString source = edtPath->text();
    const QString folder
        = QFileDialog::getExistingDirectory(this, QStringLiteral("Select directory"), source);
    if (folder.isEmpty()
        || SameTextAscii(IncludeTrailingSlash(folder), IncludeTrailingSlash(source)))
        return;
    QString name;
    if (source.isEmpty())
        name = folder;
    else {
        name = InsideSource(source, folder);
        // A folder outside the site is named alone, as a file outside it is.
        if (name.isEmpty())
            name = QFileInfo(folder).fileName();
    }
    AddIgnoreItem(RelativeName(name) + QStringLiteral("\\*"));
    lvwIgnore->setFocus();
}

void TfrmOptions::btnAddIgnoreMaskClick()
{
    AddIgnoreItem(QStringLiteral("--------"));
    lvwIgnore->setFocus();
    lvwIgnore->editItem(lvwIgnore->currentItem());
}

void TfrmOptions::btnEditIgnoreClick()
{
    EditFirstSelectedRow(lvwIgnore);
}

void TfrmOptions::btnDeleteIgnoreClick()
{
    if (DeleteSelectedRows(lvwIgnore, this))
        UpdateControls();
}

void TfrmOptions::btnOKClick()
{
    TProjectOptions options = ControlsToOptions();
    QString message;
    const TOptionsField refused = CheckProjectOptions(options, message);
    edtPath->setText(options.Path);
    edtPath->setCursorPosition(0); // a long path shows where it starts
    edtHost->setText(options.Host);
    edtUser->setText(options.User);
    if (refused == TOptionsField::None) {
        accept();
        return;
    }
    QMessageBox::warning(this, windowTitle(), message);
    PageControl->setCurrentWidget(tshMain);
    switch (refused) {
    case TOptionsField::Path:
        edtPath->setFocus();
        break;
    case TOptionsField::Host:
        edtHost->setFocus();
        break;
    case TOptionsField::Port:
        edtPort->setFocus();
        edtPort->selectAll();
        break;
    default:
        edtUser->setFocus();
        break;
    }
}

bool TfrmOptions::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    if (watched == edtPort && IsDroppedByDigitFilter(*key))
        return true;
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    const bool escape = key->key() == Qt::Key_Escape;
    if (!enter && !escape)
        return QDialog::eventFilter(watched, event);
    // An open caption editor hands these on after taking them: they end the edit only.
    if (EditingIgnoreRow())
        return true;
    if (enter)
        btnOKClick();
    else
        reject();
    return true;
}
