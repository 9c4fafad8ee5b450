// The FTP window's connection settings dialog over its in-memory connection list.
#include "store/DataLib.h"
#include "ui/dialogs/EditLib.h"
#include "ui/ftpwindow/FtpWinOptions.h"

#include "tests/support/GuiTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <utility>
#include <vector>

namespace {

using TPairs = std::vector<std::pair<QString, QString>>;

void SelectAllAndType(QWidget *edit, const QString &text)
{
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, text);
}

} // namespace

// Cancel leaves every key as it was; OK writes the texts as typed and the switches, once the
// port is a number a server can have.
TEST(ConnectionDialog, CancelKeepsEveryKeyAndOkWritesWhatWasTyped)
{
    const TPairs site = {{"ServerName", "ftp.example.org"},
                         {"ServerPort", "2121"},
                         {"Password", "s3cret"},
                         {"UsePassive", "1"},
                         {"Other", "kept"}};
    TProperties connection;
    for (const auto &[name, value] : site)
        connection.Items(name)->SetAsString(value);
    TModalAnswer cancel([&](QWidget *modal) {
        auto *dialog = qobject_cast<TfrmSettings *>(modal);
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->edtPassword->text(), "s3cret");
        // Every label has a key to its field.
        for (QLabel *label : dialog->findChildren<QLabel *>())
            EXPECT_TRUE(label->buddy() && label->text().contains('&'))
                << label->text().toStdString();
        SelectAllAndType(dialog->edtServerName, "other.example.org");
        QTest::mouseClick(dialog->cbxUsePassive, Qt::LeftButton);
        QTest::mouseClick(dialog->Cancel, Qt::LeftButton);
    });
    EXPECT_TRUE(!EditConnection(connection) && cancel.Answered());
    for (const auto &[key, value] : site)
        EXPECT_EQ(connection.Items(key)->AsString(), value) << key.toStdString();
    EXPECT_EQ(connection.Count(), int(site.size()));

    TProperties fresh;
    for (const auto &[key, value] :
         TPairs{{"UsePassive", "1"}, {"ServerPort", "21"}, {"Other", "kept"}, {"ExpectTls", "1"}})
        fresh.Items(key)->SetAsString(value);
    TModalAnswer ok([&](QWidget *modal) {
        auto *dialog = static_cast<TfrmSettings *>(modal);
        auto *port = dialog->edtServerPort;
        EXPECT_EQ(Encryption(dialog->cbxEncryption), "off"); // a connection from before TLS
        // SFTP: the default port follows, FTP's own switches are off, a SOCKS proxy still serves.
        for (const auto key : {Qt::Key_Down, Qt::Key_Up}) {
            QTest::keyClick(dialog->cbxProtocol, key);
            EXPECT_EQ(port->text(), key == Qt::Key_Down ? "22" : "21");
            EXPECT_EQ(dialog->cbxUsePassive->isEnabled(), key == Qt::Key_Up);
            EXPECT_EQ(dialog->cbxEncryption->isEnabled(), key == Qt::Key_Up);
            EXPECT_TRUE(dialog->cbxUseFirewall->isEnabled());
        }
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
        QTest::keyClick(dialog->cbxProtocol, Qt::Key_Down);       // a port of its own stays
        QTest::keyClick(dialog->edtInitinalPath, Qt::Key_Return); // the default button
    });
    EXPECT_TRUE(EditConnection(fresh) && ok.Answered());
    // Another server: what the old one offered (ExpectTls) goes.
    const QStringList written{"ServerName",  "  ftp.example.org",
                              "ServerPort",  "2122",
                              "UserName",    "me ",
                              "Password",    " p w ",
                              "InitialPath", " /www/ ",
                              "UsePassive",  "0",
                              "UseFirewall", "1",
                              "Encryption",  "require",
                              "Other",       "kept",
                              "ExpectTls",   "0",
                              "Protocol",    "sftp"};
    for (int i = 0; i < written.size(); i += 2)
        EXPECT_EQ(fresh.Items(written[i])->AsString(), written[i + 1]) << written[i].toStdString();
    EXPECT_EQ(fresh.Count(), 11);
}
