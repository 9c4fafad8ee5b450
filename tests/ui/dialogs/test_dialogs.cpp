// The shared dialog parts: window placement keeper, numeric edit, folder picker and the
// firewall settings dialog.
#include "store/Settings.h"
#include "store/XMLStore.h"
#include "ui/dialogs/EditLib.h"
#include "ui/dialogs/FormKeeper.h"
#include "ui/dialogs/PathDialog.h"
#include "ui/dialogs/ProxyDlg.h"

#include "tests/support/GuiTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// ---------------------------------------------------------------------------------------
// TFormKeeper

const QSize DesignSize(300, 200);

// One run of the program's window: created at its design size, with its keeper.
struct TKeptWindow
{
    explicit TKeptWindow(const QString &name = QStringLiteral("frmMain"))
        : Window(std::make_unique<QWidget>())
    {
        Window->setObjectName(name);
        Window->resize(DesignSize);
        Keeper = new TFormKeeper(Window.get());
    }
    std::unique_ptr<QWidget> Window;
    TFormKeeper *Keeper;
};

class FormKeeperTest : public ::testing::Test
{
protected:
    void SetUp() override { QSettings("morvate", "Zandrel").clear(); }
    static QVariant Stored(const QString &name, const QString &form = QStringLiteral("frmMain"))
    {
        QSettings settings("morvate", "Zandrel");
        return settings.value("Forms/" + form + "/" + name);
    }
    static void ExpectStored(std::initializer_list<std::pair<const char *, int>> values)
    {
        for (const auto &[name, value] : values)
            EXPECT_EQ(Stored(name).toInt(), value) << name;
    }
    static void Store(const QString &name, const QVariant &value)
    {
        QSettings("morvate", "Zandrel").setValue("Forms/frmMain/" + name, value);
    }
};

TEST_F(FormKeeperTest, NormalPlacementComesBackAfterARestart)
{
    {
        TKeptWindow run;
        run.Keeper->Load();
        run.Window->move(40, 50);
        run.Window->resize(420, 310);
        run.Window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(run.Window.get()));
        run.Keeper->Save();
    }
    ExpectStored({{"Top", 50}, {"Left", 40}, {"Width", 420}, {"Height", 310}, {"WindowState", 0}});

    TKeptWindow next;
    next.Keeper->Load();
    next.Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(next.Window.get()));
    EXPECT_EQ(next.Window->pos(), QPoint(40, 50));
    EXPECT_EQ(next.Window->size(), QSize(420, 310));
    EXPECT_FALSE(next.Window->isMaximized());
}

TEST_F(FormKeeperTest, MaximisedWindowReopensMaximisedOverTheEarlierNormalPlacement)
{
    {
        TKeptWindow run;
        run.Window->setGeometry(60, 70, 350, 250);
        run.Keeper->Save();
    }
    {
        TKeptWindow run;
        run.Keeper->Load();
        run.Window->showMaximized();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(run.Window.get()));
        run.Keeper->Save();
    }
    ExpectStored({{"WindowState", 1}, {"Left", 60}, {"Width", 350}}); // the normal placement stays

    TKeptWindow next;
    next.Keeper->Load();
    EXPECT_TRUE(next.Window->isMaximized());
    next.Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(next.Window.get()));
    EXPECT_TRUE(next.Window->isMaximized());
    next.Window->showNormal();
    EXPECT_TRUE(WaitUntil([&] { return next.Window->pos() == QPoint(60, 70); }, 5000))
        << next.Window->x() << "," << next.Window->y();
    EXPECT_EQ(next.Window->size(), QSize(350, 250));
}

TEST_F(FormKeeperTest, MinimisedWindowLeavesTheStoredPlacementButRunsOnSave)
{
    {
        TKeptWindow run;
        run.Window->setGeometry(10, 20, 330, 230);
        run.Keeper->Save();
    }
    TKeptWindow run;
    run.Window->setGeometry(500, 400, 100, 100);
    run.Window->setWindowState(Qt::WindowMinimized);
    int saves = 0;
    run.Keeper->OnSave = [&](TFormKeeper *sender, TRegistryKey &key) {
        EXPECT_EQ(sender, run.Keeper);
        key.WriteBool("Details", true);
        ++saves;
    };
    run.Keeper->Save();
    EXPECT_EQ(saves, 1);
    ExpectStored({{"Top", 20}, {"Left", 10}, {"Width", 330}, {"WindowState", 0}, {"Details", 1}});
}

TEST_F(FormKeeperTest, UnknownWindowStateIsIgnoredAndEachCoordinateStandsAlone)
{
    Store("WindowState", 2);
    TKeptWindow run;
    run.Window->setWindowState(Qt::WindowMaximized);
    run.Keeper->Load();
    EXPECT_TRUE(run.Window->isMaximized()); // 2 changes nothing
    EXPECT_FALSE(run.Window->isMinimized());
    Store("WindowState", 0);
    run.Keeper->Load();
    EXPECT_FALSE(run.Window->isMaximized());

    Store("WindowState", 2);
    Store("Width", 480);
    Store("Top", 33);
    TKeptWindow next;
    next.Window->move(5, 6);
    next.Keeper->Load();
    EXPECT_EQ(next.Window->windowState(), Qt::WindowNoState);
    EXPECT_EQ(next.Window->size(), QSize(480, DesignSize.height()));
    EXPECT_EQ(next.Window->pos(), QPoint(5, 33));
}

TEST_F(FormKeeperTest, OnLoadRunsFirstAndSeesTheDesignSize)
{
    Store("Width", 640);
    Store("Height", 480);
    Store("FoldersWidth", 123);
    TKeptWindow run;
    QSize seen;
    int folders = 0;
    run.Keeper->OnLoad = [&](TFormKeeper *sender, TRegistryKey &key) {
        seen = sender->Window()->size();
        folders = key.ReadInteger("FoldersWidth");
        EXPECT_FALSE(key.ValueExists("Details"));
    };
    run.Keeper->Load();
    EXPECT_EQ(seen, DesignSize);
    EXPECT_EQ(folders, 123);
    EXPECT_EQ(run.Window->size(), QSize(640, 480));
}

TEST_F(FormKeeperTest, FormNameComponentsAndRegistryErrors)
{
    TKeptWindow run(QStringLiteral("frmFtpWindow"));
    run.Keeper->FormName = "FTPDialog";
    run.Keeper->FormStore = false;
    run.Keeper->ComponentsStore = true;
    auto *edit = new QLineEdit(run.Window.get());
    edit->setObjectName("edtHost");
    edit->setText(" ftp.example.org ");
    new QSpinBox(run.Window.get()); // its inner edit is not the window's own
    auto *unnamed = new QLineEdit(run.Window.get());
    unnamed->setText("unnamed");
    run.Keeper->Save();

    EXPECT_EQ(Stored("edtHost.Text", "FTPDialog").toString(), " ftp.example.org ");
    EXPECT_FALSE(Stored("Top", "FTPDialog").isValid()); // FormStore off
    QSettings settings("morvate", "Zandrel");
    settings.beginGroup("Forms/FTPDialog");
    EXPECT_EQ(settings.childKeys(), QStringList{"edtHost.Text"});
    settings.endGroup();

    edit->setText("changed");
    run.Keeper->Load();
    EXPECT_EQ(edit->text(), " ftp.example.org ");
    run.Keeper->FormName = "frmOther"; // an absent value gives an empty text
    run.Keeper->Load();
    EXPECT_EQ(edit->text(), "");

    // Nothing stored keeps the design placement; the stored value of the wrong type and an unusable
    // key reach the caller.
    Store("Top", "high");
    TKeptWindow main;
    main.Window->move(17, 23);
    main.Keeper->FormName = "frmNever";
    main.Keeper->Load();
    EXPECT_EQ(main.Window->geometry(), QRect(QPoint(17, 23), DesignSize));
    EXPECT_EQ(main.Window->windowState(), Qt::WindowNoState);
    main.Keeper->FormName = "frmMain";
    EXPECT_EQ(ErrorOf<EStoreError>([&] { main.Keeper->Load(); }), "Invalid data type for 'Top'");
    main.Keeper->RegistryAddress.Root = hkeyLocalMachine;
    EXPECT_FALSE(ErrorOf<EStoreError>([&] { main.Keeper->Save(); }).isEmpty());
}

// ---------------------------------------------------------------------------------------
// TNaturalEdit

// Shows what the arrows would do.
class TExposedNaturalEdit : public TNaturalEdit
{
public:
    using TNaturalEdit::stepEnabled;
    QLineEdit *Edit() const { return lineEdit(); }
};

TEST(NaturalEdit, StartsAtZeroAndTakesOnlyTypedDigits)
{
    TExposedNaturalEdit edit;
    QSignalSpy changes(&edit, &TNaturalEdit::TextChanged);

    QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier); // shortcuts still work
    QTest::keyClicks(&edit, "1a2 b-3.");
    EXPECT_EQ(edit.text(), "123");
    EXPECT_EQ(edit.Value(), 123);
    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.text(), "12");
    QTest::keyClick(&edit, Qt::Key_Home);
    QTest::keyClick(&edit, Qt::Key_Delete);
    EXPECT_EQ(edit.text(), "2");
    EXPECT_FALSE(changes.isEmpty());
    EXPECT_EQ(changes.last().at(0).toString(), "2");

    // Typing the text out of range keeps it; only the value is clamped.
    QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(&edit, "99999999999");
    EXPECT_EQ(edit.text(), "99999999999");
    EXPECT_EQ(edit.Value(), 0); // not an int, so 0
}

TEST(NaturalEdit, PastedTextIsKeptAndReadsAsTheMinimum)
{
    TExposedNaturalEdit edit;
    edit.SetMinValue(5);
    EXPECT_EQ(edit.text(), "5"); // 0 was below the new minimum
    QApplication::clipboard()->setText("12a");
    QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit.text(), "12a");
    EXPECT_EQ(edit.Value(), 5);
    edit.SetMinValue(0);
    EXPECT_EQ(edit.Value(), 0);
    edit.SetText("-7");
    EXPECT_EQ(edit.Value(), 0);
    // Leaving the edit does not rewrite what was pasted.
    edit.clearFocus();
    QApplication::processEvents();
    EXPECT_EQ(edit.text(), "-7");
}

TEST(NaturalEdit, ArrowsStepWithinTheBoundsAndSettersPullTheTextIn)
{
    TExposedNaturalEdit edit;
    edit.SetMaxValue(100);
    QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(&edit, "250");
    EXPECT_EQ(edit.Value(), 100);
    EXPECT_EQ(edit.stepEnabled(), QAbstractSpinBox::StepDownEnabled);
    QTest::keyClick(&edit, Qt::Key_Up);
    EXPECT_EQ(edit.text(), "250"); // up does nothing at the maximum
    QTest::keyClick(&edit, Qt::Key_Down);
    EXPECT_EQ(edit.text(), "99");
    QTest::keyClick(&edit, Qt::Key_Up);
    EXPECT_EQ(edit.text(), "100");

    edit.SetValue(1);
    QTest::keyClick(&edit, Qt::Key_Down);
    EXPECT_EQ(edit.text(), "0");
    EXPECT_EQ(edit.stepEnabled(), QAbstractSpinBox::StepUpEnabled);
    QTest::keyClick(&edit, Qt::Key_Down);
    EXPECT_EQ(edit.text(), "0");

    // The caret stays where it was when the text is rewritten.
    edit.SetValue(19);
    edit.Edit()->setCursorPosition(1);
    edit.stepBy(1);
    EXPECT_EQ(edit.text(), "20");
    EXPECT_EQ(edit.Edit()->cursorPosition(), 1);

    edit.setReadOnly(true);
    EXPECT_EQ(edit.stepEnabled(), QAbstractSpinBox::StepNone);

    // Bound setters pull the text in, but SetValue writes as is.
    edit.SetMinValue(0);
    edit.SetMaxValue(2147483647);
    edit.SetValue(50);
    edit.SetMaxValue(20);
    EXPECT_EQ(edit.text(), "20");
    edit.SetMinValue(30);
    EXPECT_EQ(edit.text(), "30");
    edit.SetMaxValue(1000);
    edit.SetMinValue(10);
    EXPECT_EQ(edit.text(), "30"); // within the new bounds: unchanged
    edit.SetValue(5000);
    EXPECT_EQ(edit.text(), "5000");
    EXPECT_EQ(edit.Value(), 1000);
}

// ---------------------------------------------------------------------------------------
// TPathDialog

TEST(PathDialog, DirectoryLosesOneTrailingSlashAndEmptyIsTheCurrentFolder)
{
    TPathDialog picker;
    const std::pair<QString, QString> cases[] = {{"/tmp/site/", "/tmp/site"},
                                                 {"/", "/"},
                                                 {"/srv//", "/srv/"},
                                                 {"relative", "relative"},
                                                 {"", QDir::currentPath()}};
    for (const auto &[set, got] : cases) {
        picker.SetDirectory(set);
        EXPECT_EQ(picker.Directory(), got) << set.toStdString();
    }
}

class PathDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_root.isValid());
        ASSERT_TRUE(QDir(m_root.path()).mkpath("site/images"));
        ASSERT_TRUE(QDir(m_root.path()).mkpath("other"));
    }
    QString Path(const QString &name) const { return m_root.path() + "/" + name; }
    static QPushButton *Button(QWidget *dialog, QDialogButtonBox::StandardButton which)
    {
        auto *box = dialog->findChild<QDialogButtonBox *>();
        return box ? box->button(which) : nullptr;
    }

private:
    QTemporaryDir m_root;
};

TEST_F(PathDialogTest, ConfirmedFolderBecomesTheDirectory)
{
    QWidget owner;
    auto *inner = new QWidget(&owner);
    TPathDialog picker(inner);
    picker.SetTitle("Local folder of the site");
    picker.SetDirectory(Path("site"));
    picker.SetShowStatus(true);
    picker.SetStatusText("Pick the site's folder");
    int shows = 0;
    QStringList selections;
    QObject::connect(&picker, &TPathDialog::OnShow, [&] { ++shows; });
    QObject::connect(&picker, &TPathDialog::OnSelect,
                     [&](const QString &path) { selections.append(path); });

    TModalAnswer answer([&](QWidget *modal) {
        ASSERT_EQ(modal, picker.Dialog());
        EXPECT_EQ(modal->parentWidget(), &owner); // the owner's window
        EXPECT_EQ(modal->windowTitle(), "Local folder of the site");
        auto *status = modal->findChild<QLabel *>("StatusText");
        ASSERT_NE(status, nullptr);
        EXPECT_EQ(status->text(), "Pick the site's folder");
        picker.SetStatusText("Now the other one");
        EXPECT_EQ(status->text(), "Now the other one");

        picker.SetDirectory(Path("other") + "/"); // moves the selection
        EXPECT_EQ(picker.Dialog()->selectedFiles().value(0), Path("other"));
        QPushButton *choose = Button(modal, QDialogButtonBox::Open);
        ASSERT_NE(choose, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return choose->isEnabled(); }, 5000));
        QTest::mouseClick(choose, Qt::LeftButton);
    });
    EXPECT_TRUE(picker.Execute());
    EXPECT_TRUE(answer.Answered());
    EXPECT_EQ(picker.Directory(), Path("other"));
    EXPECT_EQ(picker.Dialog(), nullptr);
    EXPECT_EQ(shows, 1);
    ASSERT_FALSE(selections.isEmpty());
    EXPECT_EQ(selections.first(), Path("site"));
    EXPECT_TRUE(selections.contains(Path("other")));
}

TEST_F(PathDialogTest, CancelLeavesTheDirectory)
{
    TPathDialog picker;
    picker.SetDirectory(Path("site/images"));
    TModalAnswer answer([&](QWidget *modal) {
        EXPECT_EQ(modal->parentWidget(), nullptr);
        EXPECT_EQ(modal->findChild<QLabel *>("StatusText"), nullptr); // ShowStatus off
        picker.SetDirectory(Path("other"));
        QPushButton *cancel = Button(modal, QDialogButtonBox::Cancel);
        ASSERT_NE(cancel, nullptr);
        QTest::mouseClick(cancel, Qt::LeftButton);
    });
    EXPECT_FALSE(picker.Execute());
    EXPECT_TRUE(answer.Answered());
    // A Directory set while open is kept: only a confirmed pick replaces it.
    EXPECT_EQ(picker.Directory(), Path("other"));

    TModalAnswer escape([&](QWidget *modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    EXPECT_FALSE(picker.Execute());
    EXPECT_TRUE(escape.Answered());
    EXPECT_EQ(picker.Directory(), Path("other"));
}

TEST_F(PathDialogTest, DesktopRootStartsAtTheDesktopAndFailsWithoutOne)
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QDir(desktop).removeRecursively();
    TPathDialog picker;
    picker.SetRootItem(TPathDialog::riDesktop);
    EXPECT_FALSE(picker.Execute()); // no desktop folder: no dialog at all
    EXPECT_EQ(picker.Directory(), "");

    ASSERT_TRUE(QDir().mkpath(desktop));
    QString shownAt;
    TModalAnswer answer([&](QWidget *modal) {
        shownAt = picker.Dialog()->directory().absolutePath();
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    EXPECT_FALSE(picker.Execute());
    EXPECT_TRUE(answer.Answered());
    EXPECT_EQ(shownAt, QDir(desktop).absolutePath());
}

// ---------------------------------------------------------------------------------------
// TfrmProxy

class FirewallTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QFile::remove(TSettings::DefaultFileName());
        TSettings settings;
        settings.ProxyType = ptFTP;
        settings.FtpProxyHost = "fw";
        settings.FtpProxyPort = 2121;
        settings.SocksHost = "proxy1";
        settings.SocksPort = 1081;
        settings.Save();
    }
    static void SelectAll(QWidget *edit) { QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier); }
    // On the indicator: a radio button reacts to clicks on its indicator and text only.
    static void Click(QRadioButton *radio)
    {
        QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(6, radio->height() / 2));
    }
};

TEST_F(FirewallTest, OkStoresBothProxiesAndFallsBackForPortsThatAreNotNumbers)
{
    TModalAnswer answer([&](QWidget *modal) {
        ASSERT_NE(qobject_cast<TfrmProxy *>(modal), nullptr);
        auto *ftp = Child<QRadioButton>(modal, "rbnFtpProxy");
        auto *socks = Child<QRadioButton>(modal, "rbnSocksProxy");
        auto *ftpHost = Child<QLineEdit>(modal, "edtFtpProxyHost");
        auto *ftpPort = Child<QLineEdit>(modal, "edtFtpProxyPort");
        auto *socksHost = Child<QLineEdit>(modal, "edtSocksProxyHost");
        auto *socksPort = Child<QLineEdit>(modal, "edtSocksProxyPort");
        auto *ok = Child<QPushButton>(modal, "btnOK");
        ASSERT_TRUE(ftp && socks && ftpHost && ftpPort && socksHost && socksPort && ok);

        // Loaded: the FTP proxy selected, the SOCKS edits off and grey.
        EXPECT_TRUE(ftp->isChecked());
        EXPECT_EQ(ftpHost->text(), "fw");
        EXPECT_EQ(ftpPort->text(), "2121");
        EXPECT_EQ(socksHost->text(), "proxy1");
        EXPECT_EQ(socksPort->text(), "1081");
        EXPECT_TRUE(ftpHost->isEnabled() && ftpPort->isEnabled());
        EXPECT_FALSE(socksHost->isEnabled() || socksPort->isEnabled());

        // Letters typed into a port do not appear; Backspace works.
        QTest::keyClick(ftpPort, Qt::Key_End);
        QTest::keyClicks(ftpPort, "a9b");
        EXPECT_EQ(ftpPort->text(), "21219");
        QTest::keyClick(ftpPort, Qt::Key_Backspace);
        EXPECT_EQ(ftpPort->text(), "2121");
        SelectAll(ftpPort);
        QTest::keyClick(ftpPort, Qt::Key_Backspace);
        EXPECT_EQ(ftpPort->text(), "");

        Click(socks);
        EXPECT_TRUE(socks->isChecked());
        EXPECT_FALSE(ftpHost->isEnabled() || ftpPort->isEnabled());
        EXPECT_TRUE(socksHost->isEnabled() && socksPort->isEnabled());
        SelectAll(socksHost);
        QTest::keyClicks(socksHost, "  proxy2 ");
        // A paste is not filtered.
        QApplication::clipboard()->setText("2x");
        SelectAll(socksPort);
        QTest::keyClick(socksPort, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(socksPort->text(), "2x");
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    EditFirewallSettings();
    EXPECT_TRUE(answer.Answered());

    TSettings stored;
    EXPECT_EQ(stored.ProxyType, ptSocks);
    EXPECT_EQ(stored.FtpProxyHost, "fw");
    EXPECT_EQ(stored.FtpProxyPort, 21);
    EXPECT_EQ(stored.SocksHost, "  proxy2 ");
    EXPECT_EQ(stored.SocksPort, 1080);
    EXPECT_EQ(GetProxyString(), "socks=  proxy2 :1080");
}

TEST_F(FirewallTest, SocksSelectionLoadsAndEnterConfirms)
{
    {
        TSettings settings;
        settings.ProxyType = ptSocks;
        settings.Save();
    }
    TModalAnswer answer([&](QWidget *modal) {
        auto *ftp = Child<QRadioButton>(modal, "rbnFtpProxy");
        auto *socksPort = Child<QLineEdit>(modal, "edtSocksProxyPort");
        auto *ftpHost = Child<QLineEdit>(modal, "edtFtpProxyHost");
        ASSERT_TRUE(ftp && socksPort && ftpHost);
        EXPECT_FALSE(ftp->isChecked());
        EXPECT_FALSE(ftpHost->isEnabled());
        EXPECT_TRUE(socksPort->isEnabled());
        Click(ftp);
        EXPECT_TRUE(ftpHost->isEnabled());
        EXPECT_FALSE(socksPort->isEnabled());
        SelectAll(ftpHost);
        QTest::keyClicks(ftpHost, "gate");
        QTest::keyClick(ftpHost, Qt::Key_Return); // the default button
    });
    EditFirewallSettings();
    EXPECT_TRUE(answer.Answered());
    EXPECT_EQ(TSettings().ProxyType, ptFTP);
    EXPECT_EQ(GetProxyString(), "ftp=ftp://gate:2121");
}

TEST_F(FirewallTest, CancelWritesNothing)
{
    const QByteArray before = ReadWholeFile(TSettings::DefaultFileName());
    TModalAnswer answer([&](QWidget *modal) {
        auto *host = Child<QLineEdit>(modal, "edtFtpProxyHost");
        auto *socks = Child<QRadioButton>(modal, "rbnSocksProxy");
        auto *cancel = Child<QPushButton>(modal, "btnCancel");
        ASSERT_TRUE(host && socks && cancel);
        QTest::keyClicks(host, "changed");
        Click(socks);
        QTest::mouseClick(cancel, Qt::LeftButton);
    });
    EditFirewallSettings();
    EXPECT_TRUE(answer.Answered());
    EXPECT_EQ(ReadWholeFile(TSettings::DefaultFileName()), before);

    // No settings file yet: cancelling does not create one.
    QFile::remove(TSettings::DefaultFileName());
    TModalAnswer escape([&](QWidget *modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    EditFirewallSettings();
    EXPECT_TRUE(escape.Answered());
    EXPECT_FALSE(QFile::exists(TSettings::DefaultFileName()));
}
