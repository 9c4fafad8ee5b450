// The shared dialog parts and the small dialogs: window placement keeper, numeric edit, folder
// picker, firewall settings, masks editor and alert sounds.
#include "ui/dialogs/AlertSound.h"
#include "store/Settings.h"
#include "store/XMLStore.h"
#include "ui/dialogs/EditLib.h"
#include "ui/dialogs/FormKeeper.h"
#include "ui/dialogs/MasksEditor.h"
#include "ui/dialogs/PathDialog.h"
#include "ui/dialogs/ProxyDlg.h"
#include "ui/dialogs/Sounds.h"

#include "tests/support/GuiTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QSize DesignSize(300, 200);

// One run of the program's window: created at its design size, with its keeper and edits.
struct TKeptWindow
{
    TKeptWindow()
    {
        Window.setObjectName("frmMain");
        Window.resize(DesignSize);
        Keeper = new TFormKeeper(&Window);
        Keeper->ComponentsStore = true;
        Edit = new QLineEdit(&Window);
        Edit->setObjectName("edtHost");
    }
    QWidget Window;
    TFormKeeper *Keeper;
    QLineEdit *Edit;
};

void ExpectStored(std::initializer_list<std::pair<const char *, int>> values)
{
    const QSettings settings("morvate", "Zandrel");
    for (const auto &[name, value] : values)
        EXPECT_EQ(settings.value(QStringLiteral("Forms/frmMain/") + name).toInt(), value) << name;
}

void SelectAll(QWidget *edit)
{
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
}

} // namespace

TEST(FormKeeper, PlacementAndEditsComeBackAfterRestartsAndMinimisedKeepsThem)
{
    QSettings("morvate", "Zandrel").clear();
    {
        TKeptWindow run;
        run.Edit->setText(" ftp.example.org ");
        run.Keeper->OnSave = [](TFormKeeper *, TRegistryKey &key) { key.WriteBool("Details", 1); };
        run.Window.setGeometry(40, 50, 420, 310);
        run.Keeper->Save();
    }
    ExpectStored({{"Top", 50}, {"Left", 40}, {"Width", 420}, {"Height", 310}, {"WindowState", 0}});
    {
        TKeptWindow run;
        run.Keeper->OnLoad
            = [](TFormKeeper *, TRegistryKey &key) { EXPECT_TRUE(key.ReadBool("Details")); };
        run.Keeper->Load();
        EXPECT_EQ(run.Edit->text(), " ftp.example.org ");
        EXPECT_EQ(run.Window.geometry(), QRect(40, 50, 420, 310));
        run.Window.showMaximized();
        run.Keeper->Save();
    }
    ExpectStored({{"WindowState", 1}, {"Left", 40}, {"Width", 420}}); // the normal placement stays

    TKeptWindow run;
    run.Keeper->Load();
    EXPECT_TRUE(run.Window.isMaximized());
    run.Window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&run.Window));
    run.Window.showNormal();
    EXPECT_TRUE(WaitUntil([&] { return run.Window.pos() == QPoint(40, 50); }, 5000));
    EXPECT_EQ(run.Window.size(), QSize(420, 310));
    run.Window.setGeometry(500, 400, 100, 100);
    run.Window.setWindowState(Qt::WindowMinimized);
    run.Keeper->Save();
    ExpectStored({{"Top", 50}, {"Left", 40}, {"Width", 420}, {"WindowState", 1}});
    QSettings("morvate", "Zandrel").setValue("Forms/frmMain/Top", "high");
    EXPECT_EQ(ErrorOf<EStoreError>([&] { run.Keeper->Load(); }), "Invalid data type for 'Top'");
}

TEST(NaturalEdit, TakesTypedDigitsKeepsOtherTextAndStepsWithinItsBounds)
{
    TNaturalEdit edit;
    const auto retype = [&](const char *text) {
        SelectAll(&edit); // shortcuts still work
        QTest::keyClicks(&edit, text);
    };
    retype("1a2 b-3.");
    EXPECT_EQ(edit.text(), "123");
    retype("99999999999"); // the text stays; not an int, so 0
    EXPECT_EQ(edit.Value(), 0);
    EXPECT_EQ(edit.text(), "99999999999");
    edit.SetMinValue(5); // the text was below the new minimum
    EXPECT_EQ(edit.text(), "5");
    // A paste is not filtered, reads as the minimum and survives leaving the edit.
    QApplication::clipboard()->setText("12a");
    SelectAll(&edit);
    QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
    edit.clearFocus();
    QApplication::processEvents();
    EXPECT_EQ(edit.text(), "12a");
    EXPECT_EQ(edit.Value(), 5);

    edit.SetMinValue(75);
    edit.SetMaxValue(100);
    retype("250");
    EXPECT_EQ(edit.Value(), 100);
    const std::pair<Qt::Key, const char *> steps[] = {
        {Qt::Key_Up, "250"},      {Qt::Key_Down, "99"},     {Qt::Key_PageUp, "100"},
        {Qt::Key_PageDown, "90"}, {Qt::Key_PageDown, "80"}, {Qt::Key_PageDown, "75"},
        {Qt::Key_Down, "75"},     {Qt::Key_Up, "76"},
    };
    for (const auto &[key, text] : steps) {
        QTest::keyClick(&edit, key);
        EXPECT_EQ(edit.text(), text);
    }
}

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

TEST(Firewall, OkStoresTheProxyWithPortFallbacksAndCancelWritesNothing)
{
    TSettings stored;
    stored.FtpProxyPort = 2121;
    stored.SocksPort = 1081;
    stored.Save();
    QStringList loaded;
    TModalAnswer answer([&](QWidget *modal) {
        auto *ftpPort = Child<QLineEdit>(modal, "edtFtpProxyPort");
        auto *socksHost = Child<QLineEdit>(modal, "edtSocksProxyHost");
        auto *socksPort = Child<QLineEdit>(modal, "edtSocksProxyPort");
        auto *socks = Child<QRadioButton>(modal, "rbnSocksProxy");
        loaded << ftpPort->text() << socksPort->text();
        EXPECT_FALSE(socksPort->isEnabled());
        SelectAll(ftpPort);
        QTest::keyClicks(ftpPort, "a9b"); // letters do not appear
        EXPECT_EQ(ftpPort->text(), "9");
        QTest::keyClick(ftpPort, Qt::Key_Backspace); // an empty port falls back to the default
        // A radio button reacts to clicks on its indicator and text only.
        QTest::mouseClick(socks, Qt::LeftButton, {}, QPoint(6, socks->height() / 2));
        EXPECT_FALSE(ftpPort->isEnabled());
        SelectAll(socksHost);
        QTest::keyClicks(socksHost, "  proxy2 ");
        QApplication::clipboard()->setText("2x"); // a paste is not filtered
        SelectAll(socksPort);
        QTest::keyClick(socksPort, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(socksPort->text(), "2x");
        QTest::keyClick(socksPort, Qt::Key_Return); // the default button
    });
    EditFirewallSettings();
    EXPECT_EQ(loaded, QStringList({"2121", "1081"}));
    EXPECT_EQ(TSettings().FtpProxyPort, 21);
    EXPECT_EQ(GetProxyString(), "socks=  proxy2 :1080");

    const QByteArray before = ReadWholeFile(TSettings::DefaultFileName());
    TModalAnswer cancel([&](QWidget *modal) {
        QTest::keyClicks(Child<QLineEdit>(modal, "edtSocksProxyHost"), "changed");
        QTest::mouseClick(Child<QPushButton>(modal, "btnCancel"), Qt::LeftButton);
    });
    EditFirewallSettings();
    EXPECT_TRUE(answer.Answered() && cancel.Answered());
    EXPECT_EQ(ReadWholeFile(TSettings::DefaultFileName()), before);
}

TEST(MasksEditor, EditsInPlaceAndWritesBackSortedWithoutBlankRows)
{
    QStringList masks{"*.txt", " *.htm", "*.Css", "*.pl"};
    QStringList shown;
    TModalAnswer drive([&](QWidget *modal) {
        auto *dialog = qobject_cast<TfrmMasksEditor *>(modal);
        ASSERT_TRUE(dialog);
        QListWidget *list = dialog->lvwMasks;
        // Types over the in-place editor (a null text keeps it); Enter ends the edit only.
        const auto editInPlace = [&](const QString &text) {
            QLineEdit *editor = nullptr;
            ASSERT_TRUE(WaitUntil([&] {
                for (QLineEdit *candidate : list->viewport()->findChildren<QLineEdit *>())
                    editor = candidate->isVisible() ? candidate : editor;
                return editor != nullptr;
            }));
            shown << editor->text();
            if (!text.isNull()) {
                editor->selectAll();
                QTest::keyClicks(editor, text);
            }
            QTest::keyClick(editor, Qt::Key_Return);
            QTest::qWait(50);
            EXPECT_TRUE(dialog->isVisible());
        };
        QTest::mouseClick(dialog->btnAdd, Qt::LeftButton);
        editInPlace(QString());
        list->setCurrentItem(list->findItems("*.pl", Qt::MatchExactly).value(0));
        QTest::keyClick(list, Qt::Key_F2);
        editInPlace("   ");                    // a blank row is dropped on OK
        QTest::keyClick(list, Qt::Key_Return); // OK
    });
    ASSERT_TRUE(EditMasks(masks, nullptr, "ASCII Files"));
    EXPECT_EQ(shown, QStringList({"*.", "*.pl"}));
    EXPECT_EQ(masks, QStringList({" *.htm", "*.", "*.Css", "*.txt"}));

    TModalAnswer cancel([](QWidget *modal) {
        QTest::mouseClick(qobject_cast<TfrmMasksEditor *>(modal)->btnAdd, Qt::LeftButton);
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    EXPECT_FALSE(EditMasks(masks, nullptr, "Executable Files"));
    EXPECT_EQ(masks, QStringList({" *.htm", "*.", "*.Css", "*.txt"}));
}

TEST(SoundsDialog, WarnsOfAMissingFileAndSavesOnOkWithTheNamesKeptWhenTurnedOff)
{
    int beeps = 0;
    AlertBeep = [&beeps] { ++beeps; };
    QTemporaryDir folder;
    const QString done = folder.path() + "/done.wav";
    QString warning;
    TModalAnswer drive([&](QWidget *modal) {
        auto *dialog = qobject_cast<TfrmAlertSounds *>(modal);
        ASSERT_TRUE(dialog);
        QTest::keyClick(dialog->cbxEnable, Qt::Key_Space);
        dialog->AskSoundFile = [&](const QString &start) {
            EXPECT_EQ(start, SoundsFolder()); // both empty
            return done;
        };
        QTest::mouseClick(dialog->btnSelectComplete, Qt::LeftButton);
        QTest::keyClicks(dialog->edtError, "/no/such.wav");
        TBoxAnswer ok(QMessageBox::Ok);
        QTest::mouseClick(dialog->btnTestError, Qt::LeftButton);
        warning = ok.Text;
        QTest::keyClick(dialog->cbxEnable, Qt::Key_Space);
        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
    });
    EditAlertSounds();
    EXPECT_EQ(warning, "Sound file is not exists. Will be used default sound.");
    EXPECT_EQ(beeps, 1);
    const TSettings settings;
    EXPECT_FALSE(settings.SoundEnabled);
    EXPECT_EQ(QStringList({settings.CompleteSound, settings.ErrorSound}),
              QStringList({done, "/no/such.wav"}));
    AlertBeep = nullptr;
}
