// The FTP window's connection settings dialog over its in-memory connection list.
#include "store/DataLib.h"
#include "store/Settings.h"
#include "ui/dialogs/EditLib.h"
#include "ui/dialogs/ProxyDlg.h"
#include "ui/ftpwindow/FtpWinOptions.h"

#include "tests/support/GuiTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <utility>
#include <vector>

using TPairs = std::vector<std::pair<QString, QString>>;

const TPairs SiteConnection = {{"ServerName", "ftp.example.org"},
                               {"ServerPort", "2121"},
                               {"UserName", "webmaster"},
                               {"Password", "s3cret"},
                               {"InitialPath", "/www"},
                               {"UsePassive", "1"},
                               {"UseFirewall", "0"},
                               {"Other", "kept"}};

static void Fill(TProperties &connection, const TPairs &pairs)
{
    for (const auto &[name, value] : pairs)
        connection.Items(name)->SetAsString(value);
}

static TPairs Contents(const TProperties &connection)
{
    TPairs pairs;
    for (int i = 0; i < connection.Count(); ++i)
        pairs.emplace_back(connection.At(i)->Name, connection.At(i)->Value);
    return pairs;
}

static void SelectAllAndType(QWidget *edit, const QString &text)
{
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, text);
}

class ConnectionDialogTest : public ::testing::Test
{
protected:
    void SetUp() override { QFile::remove(TSettings::DefaultFileName()); }
};

TEST_F(ConnectionDialogTest, ShowsTheConnectionAndCancelLeavesEveryKey)
{
    TProperties connection;
    Fill(connection, SiteConnection);
    QString name = "My site";
    bool proxyAnswered = false;

    TModalAnswer answer([&](QWidget *modal) {
        ASSERT_NE(qobject_cast<TfrmSettings *>(modal), nullptr);
        auto *dialog = static_cast<TfrmSettings *>(modal);
        auto *combo = dialog->cbxConnectionName;
        auto *server = dialog->edtServerName;
        auto *passive = dialog->cbxUsePassive;
        auto *firewall = dialog->cbxUseFirewall;
        EXPECT_EQ(combo->currentText(), "My site");
        EXPECT_EQ(server->text(), "ftp.example.org");
        EXPECT_EQ(dialog->edtServerPort->text(), "2121");
        EXPECT_EQ(dialog->edtUserName->text(), "webmaster");
        EXPECT_EQ(dialog->edtPassword->text(), "s3cret");
        EXPECT_EQ(dialog->edtInitinalPath->text(), "/www");
        EXPECT_TRUE(passive->isChecked());
        EXPECT_FALSE(firewall->isChecked());

        SelectAllAndType(server, "other.example.org");
        SelectAllAndType(combo, "Renamed");
        QTest::mouseClick(passive, Qt::LeftButton);
        QTest::mouseClick(firewall, Qt::LeftButton);
        EXPECT_TRUE(firewall->isChecked());

        // The firewall dialog saves its own settings at once.
        TModalAnswer proxyAnswer(
            [&](QWidget *proxyDialog) {
                ASSERT_NE(qobject_cast<TfrmProxy *>(proxyDialog), nullptr);
                EXPECT_EQ(proxyDialog->parentWidget(), modal);
                auto *host = Child<QLineEdit>(proxyDialog, "edtFtpProxyHost");
                auto *ok = Child<QPushButton>(proxyDialog, "btnOK");
                ASSERT_TRUE(host && ok);
                SelectAllAndType(host, "gate");
                QTest::mouseClick(ok, Qt::LeftButton);
                proxyAnswered = true;
            },
            modal);
        QTest::mouseClick(dialog->btnProxy, Qt::LeftButton);
        EXPECT_TRUE(proxyAnswer.Answered());
        EXPECT_EQ(TSettings().FtpProxyHost, "gate");
        QTest::mouseClick(dialog->Cancel, Qt::LeftButton);
    });
    EXPECT_FALSE(EditConnection(connection, name));
    EXPECT_TRUE(answer.Answered());
    EXPECT_TRUE(proxyAnswered);
    EXPECT_EQ(Contents(connection), SiteConnection);
    EXPECT_EQ(name, "My site");

    // Escape on an empty connection adds no keys to it.
    TProperties empty;
    TModalAnswer escape([](QWidget *modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    EXPECT_FALSE(EditConnection(empty, name));
    EXPECT_TRUE(escape.Answered());
    EXPECT_EQ(empty.Count(), 0);
}

TEST_F(ConnectionDialogTest, OkWritesTextsAsTypedAndTheSwitches)
{
    TProperties connection;
    Fill(connection,
         {{"UsePassive", "1"}, {"ServerPort", "21"}, {"Other", "kept"}, {"ExpectTls", "1"}});
    QString name = "Unchanged";

    TModalAnswer answer([&](QWidget *modal) {
        auto *dialog = static_cast<TfrmSettings *>(modal);
        auto *port = dialog->edtServerPort;
        EXPECT_EQ(dialog->edtServerName->text(), ""); // absent keys load empty
        EXPECT_TRUE(dialog->cbxUsePassive->isChecked());
        EXPECT_EQ(Encryption(dialog->cbxEncryption), "off"); // a connection from before TLS

        SelectAllAndType(dialog->cbxConnectionName, "Another name");
        QTest::keyClicks(dialog->edtServerName, "  ftp.example.org");
        SelectAllAndType(port, "2x1:21"); // the port takes digits only
        QTest::keyClick(port, Qt::Key_Up);
        QTest::keyClicks(dialog->edtUserName, "me ");
        QTest::keyClicks(dialog->edtPassword, " p w ");
        QTest::keyClicks(dialog->edtInitinalPath, " /www/ ");
        QTest::keyClick(dialog->cbxUsePassive, Qt::Key_Space);
        QTest::keyClick(dialog->cbxUseFirewall, Qt::Key_Space);
        QTest::keyClick(dialog->cbxEncryption, Qt::Key_Up); // implicit TLS
        QTest::keyClick(dialog->cbxEncryption, Qt::Key_Up); // TLS required
        // A port beyond 65535 is refused with a message and OK waits for a good one.
        const QString kept = port->text();
        SelectAllAndType(port, "99999");
        {
            TBoxAnswer box(QMessageBox::Ok);
            QTest::keyClick(dialog->edtInitinalPath, Qt::Key_Return);
            EXPECT_TRUE(box.Answer.Answered());
            EXPECT_EQ(box.Text, "Port must be a number from 1 to 65535");
        }
        EXPECT_TRUE(dialog->isVisible());
        SelectAllAndType(port, kept);
        QTest::keyClick(dialog->edtInitinalPath, Qt::Key_Return); // the default button
    });
    EXPECT_TRUE(EditConnection(connection, name));
    EXPECT_TRUE(answer.Answered());
    EXPECT_EQ(name, "Unchanged");
    const TPairs written = {{"ServerName", "  ftp.example.org"},
                            {"ServerPort", "2122"},
                            {"UserName", "me "},
                            {"Password", " p w "},
                            {"InitialPath", " /www/ "},
                            {"UsePassive", "0"},
                            {"UseFirewall", "1"},
                            {"Encryption", "require"},
                            {"Other", "kept"},
                            {"ExpectTls", "0"}}; // another server: what the old one offered goes
    for (const auto &[key, value] : written)
        EXPECT_EQ(connection.Items(key)->AsString(), value) << key.toStdString();
    EXPECT_EQ(connection.Count(), 10);
}
