// The masks editor, the password prompt and the sounds dialog, driven through their controls.
#include "engine/AlertSound.h"
#include "store/PrjCls.h"
#include "store/Settings.h"
#include "tests/support/GuiTestSupport.h"
#include "tests/support/TestSupport.h"
#include "ui/dialogs/MasksEditor.h"
#include "ui/dialogs/PassDlg.h"
#include "ui/dialogs/Sounds.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QStringList Rows(QListWidget *list)
{
    QStringList rows;
    for (int row = 0; row < list->count(); ++row)
        rows << list->item(row)->text();
    return rows;
}

// The open in-place editor of `list`, once it shows.
QLineEdit *OpenEditor(QListWidget *list)
{
    QLineEdit *editor = nullptr;
    WaitUntil([&] {
        editor = nullptr;
        for (QLineEdit *candidate : list->viewport()->findChildren<QLineEdit *>()) {
            if (candidate->isVisible())
                editor = candidate;
        }
        return editor != nullptr;
    });
    return editor;
}

void Retype(QLineEdit *editor, const QString &text)
{
    editor->selectAll();
    QTest::keyClick(editor, Qt::Key_Backspace);
    QTest::keyClicks(editor, text);
}

} // namespace

TEST(MasksEditor, EditsInPlaceAndWritesBackSortedWithoutBlankRows)
{
    QStringList masks{"*.txt", " *.htm", "*.Css", "*.pl"};
    bool sawEnterKeepOpen = false;
    QStringList shownFirst;
    TModalAnswer drive([&](QWidget *modal) {
        auto *editor = qobject_cast<TfrmMasksEditor *>(modal);
        ASSERT_TRUE(editor);
        QListWidget *list = editor->lvwMasks;
        shownFirst = Rows(list);

        // Append: a "*." row opens for editing; Enter ends the edit, not the dialog.
        QTest::mouseClick(editor->btnAdd, Qt::LeftButton);
        QLineEdit *line = OpenEditor(list);
        ASSERT_TRUE(line);
        EXPECT_EQ(line->text(), "*.");
        QTest::keyClick(line, Qt::Key_Return);
        QTest::qWait(50);
        sawEnterKeepOpen = editor->isVisible();

        // F2 on "*.pl" and blanks only: dropped on OK.
        list->setCurrentRow(int(Rows(list).indexOf(QStringLiteral("*.pl"))),
                            QItemSelectionModel::ClearAndSelect);
        QTest::keyClick(list, Qt::Key_F2);
        line = OpenEditor(list);
        ASSERT_TRUE(line);
        Retype(line, "   ");
        QTest::keyClick(line, Qt::Key_Return);
        QTest::qWait(50);
        ASSERT_TRUE(editor->isVisible());

        // Delete "*.txt" after the question; the row at its place is selected next.
        const int at = int(Rows(list).indexOf(QStringLiteral("*.txt")));
        list->setCurrentRow(at, QItemSelectionModel::ClearAndSelect);
        {
            TBoxAnswer yes(QMessageBox::Yes);
            QTest::keyClick(list, Qt::Key_Delete);
            EXPECT_EQ(yes.Text, "Remove selected?");
        }
        EXPECT_FALSE(Rows(list).contains(QStringLiteral("*.txt")));
        EXPECT_EQ(list->currentRow(), std::min(at, list->count() - 1));
        QTest::keyClick(list, Qt::Key_Return); // OK
    });
    ASSERT_TRUE(EditMasks(masks, nullptr, "ASCII Files"));
    EXPECT_EQ(shownFirst, QStringList({" *.htm", "*.Css", "*.pl", "*.txt"}));
    EXPECT_TRUE(sawEnterKeepOpen);
    EXPECT_EQ(masks, QStringList({" *.htm", "*.", "*.Css"}));

    // Escape cancels and leaves the list as it was.
    TModalAnswer cancel([](QWidget *modal) {
        auto *editor = qobject_cast<TfrmMasksEditor *>(modal);
        ASSERT_TRUE(editor);
        QTest::mouseClick(editor->btnSelectAll, Qt::LeftButton);
        {
            TBoxAnswer yes(QMessageBox::Yes);
            QTest::mouseClick(editor->btnDelete, Qt::LeftButton);
        }
        EXPECT_EQ(editor->lvwMasks->count(), 0);
        EXPECT_FALSE(editor->btnEdit->isEnabled());
        QTest::keyClick(editor->lvwMasks, Qt::Key_Escape);
    });
    EXPECT_FALSE(EditMasks(masks, nullptr, "Executable Files"));
    EXPECT_EQ(masks, QStringList({" *.htm", "*.", "*.Css"}));
}

TEST(PasswordDialog, TheTypedPasswordReachesTheProjectAndCancelLeavesItUnknown)
{
    TProject::PasswordPrompt = [](QString &password) { return AskForPassword(password); };
    TProject::CommandLineArguments = {};
    TProject project;
    project.InitDefaults();

    TModalAnswer cancel([](QWidget *modal) {
        auto *dialog = qobject_cast<TfrmPasswordDlg *>(modal);
        ASSERT_TRUE(dialog);
        QTest::keyClicks(dialog->edtPassword, "never");
        QTest::keyClick(dialog->edtPassword, Qt::Key_Escape);
    });
    EXPECT_FALSE(project.AskPassword());
    EXPECT_FALSE(project.PasswordKnown);

    bool masked = false;
    TModalAnswer type([&](QWidget *modal) {
        auto *dialog = qobject_cast<TfrmPasswordDlg *>(modal);
        ASSERT_TRUE(dialog);
        masked = dialog->edtPassword->echoMode() == QLineEdit::Password;
        EXPECT_TRUE(WaitUntil([dialog] { return dialog->edtPassword->hasFocus(); }));
        QTest::keyClicks(QApplication::focusWidget(), "s3cret pass");
        QTest::keyClick(dialog->edtPassword, Qt::Key_Return);
    });
    ASSERT_TRUE(project.AskPassword());
    EXPECT_EQ(project.GetPassword(), "s3cret pass");
    EXPECT_TRUE(project.PasswordKnown);
    EXPECT_TRUE(masked);
    TProject::PasswordPrompt = nullptr;
}

TEST(SoundsDialog, PicksFromTheRightFolderTestsFilesAndSavesOnlyOnOk)
{
    int beeps = 0;
    AlertBeep = [&beeps] { ++beeps; };
    QTemporaryDir folder;
    const QString done = folder.path() + "/done.wav";
    WriteWholeFile(done, "not really a wave");

    QStringList starts;
    QString missingWarning;
    TModalAnswer drive([&](QWidget *modal) {
        auto *dialog = qobject_cast<TfrmAlertSounds *>(modal);
        ASSERT_TRUE(dialog);
        EXPECT_FALSE(dialog->edtComplete->isEnabled());
        QTest::keyClick(dialog->cbxEnable, Qt::Key_Space);
        EXPECT_TRUE(dialog->edtComplete->isEnabled());
        EXPECT_TRUE(dialog->btnTestError->isEnabled());
        dialog->AskSoundFile = [&](const QString &start) {
            starts << start;
            return starts.size() == 1 ? done : QString();
        };
        QTest::mouseClick(dialog->btnSelectComplete, Qt::LeftButton); // both empty
        QTest::mouseClick(dialog->btnSelectError, Qt::LeftButton);    // beside the other one
        QTest::mouseClick(dialog->btnSelectComplete, Qt::LeftButton); // its own file
        QTest::keyClicks(dialog->edtError, "/no/such.wav");
        {
            TBoxAnswer ok(QMessageBox::Ok);
            QTest::mouseClick(dialog->btnTestError, Qt::LeftButton);
            missingWarning = ok.Text;
        }
        // Off again: the names stay, shown disabled, and are stored.
        QTest::keyClick(dialog->cbxEnable, Qt::Key_Space);
        EXPECT_FALSE(dialog->edtError->isEnabled());
        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
    });
    EditAlertSounds();
    EXPECT_EQ(starts, QStringList({SoundsFolder(), folder.path(), done}));
    EXPECT_EQ(missingWarning, "Sound file is not exists. Will be used default sound.");
    EXPECT_EQ(beeps, 1);
    {
        TSettings settings;
        EXPECT_FALSE(settings.SoundEnabled);
        EXPECT_EQ(settings.CompleteSound, done);
        EXPECT_EQ(settings.ErrorSound, "/no/such.wav");
    }

    // Cancel writes nothing, whatever was changed.
    const QByteArray before = ReadWholeFile(TSettings::DefaultFileName());
    TModalAnswer cancel([](QWidget *modal) {
        auto *dialog = qobject_cast<TfrmAlertSounds *>(modal);
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->edtError->text(), "/no/such.wav");
        QTest::keyClick(dialog->cbxEnable, Qt::Key_Space);
        dialog->edtComplete->clear();
        QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
    });
    EditAlertSounds();
    EXPECT_EQ(ReadWholeFile(TSettings::DefaultFileName()), before);

    // An empty name played gives the default beep.
    PlayAlertSound(QString());
    EXPECT_EQ(beeps, 2);
    AlertBeep = nullptr;
}
