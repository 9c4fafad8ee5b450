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
#include <QGroupBox>
#include <QLabel>
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

template <class W> static W *Child(QWidget *dialog, const char *name)
{
    W *child = dialog->findChild<W *>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
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
        EXPECT_EQ(modal->windowTitle(), "Connection settings");
        EXPECT_EQ(modal->size(), QSize(332, 373));
        EXPECT_EQ(modal->minimumSize(), modal->maximumSize());
        auto *combo = Child<QComboBox>(modal, "cbxConnectionName");
        auto *server = Child<QLineEdit>(modal, "edtServerName");
        auto *port = Child<TNaturalEdit>(modal, "edtServerPort");
        auto *user = Child<QLineEdit>(modal, "edtUserName");
        auto *password = Child<QLineEdit>(modal, "edtPassword");
        auto *path = Child<QLineEdit>(modal, "edtInitinalPath");
        auto *passive = Child<QCheckBox>(modal, "cbxUsePassive");
        auto *firewall = Child<QCheckBox>(modal, "cbxUseFirewall");
        auto *proxy = Child<QPushButton>(modal, "btnProxy");
        auto *cancel = Child<QPushButton>(modal, "Cancel");
        ASSERT_TRUE(combo && server && port && user && password && path && passive && firewall
                    && proxy && cancel);

        EXPECT_TRUE(combo->isEditable());
        EXPECT_EQ(combo->count(), 0);
        EXPECT_EQ(combo->currentText(), "My site");
        EXPECT_EQ(server->text(), "ftp.example.org");
        EXPECT_EQ(port->text(), "2121");
        EXPECT_EQ(user->text(), "webmaster");
        EXPECT_EQ(password->text(), "s3cret");
        EXPECT_EQ(password->echoMode(), QLineEdit::Normal); // shown, not masked
        EXPECT_EQ(path->text(), "/www");
        EXPECT_TRUE(passive->isChecked());
        EXPECT_FALSE(firewall->isChecked());
        EXPECT_EQ(passive->text(), "Use passive mode");
        EXPECT_EQ(firewall->text(), "Use firewall settings");
        EXPECT_EQ(proxy->text(), "Firewall settings");
        EXPECT_EQ(cancel->text(), "Cancel");

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
        QTest::mouseClick(proxy, Qt::LeftButton);
        EXPECT_TRUE(proxyAnswer.Answered());
        EXPECT_EQ(TSettings().FtpProxyHost, "gate");
        QTest::mouseClick(cancel, Qt::LeftButton);
    });
    EXPECT_FALSE(EditConnection(connection, name));
    EXPECT_TRUE(answer.Answered());
    EXPECT_TRUE(proxyAnswered);
    EXPECT_EQ(Contents(connection), SiteConnection);
    EXPECT_EQ(name, "My site");
}

TEST_F(ConnectionDialogTest, CancelAddsNoKeysToAnEmptyConnection)
{
    TProperties connection;
    QString name;
    TModalAnswer answer([](QWidget *modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    EXPECT_FALSE(EditConnection(connection, name));
    EXPECT_TRUE(answer.Answered());
    EXPECT_EQ(connection.Count(), 0);
}

TEST_F(ConnectionDialogTest, OkWritesTextsAsTypedAndTheSwitches)
{
    TProperties connection;
    Fill(connection, {{"UsePassive", "1"}, {"ServerPort", "21"}, {"Other", "kept"}});
    QString name = "Unchanged";

    TModalAnswer answer([&](QWidget *modal) {
        auto *combo = Child<QComboBox>(modal, "cbxConnectionName");
        auto *server = Child<QLineEdit>(modal, "edtServerName");
        auto *port = Child<TNaturalEdit>(modal, "edtServerPort");
        auto *user = Child<QLineEdit>(modal, "edtUserName");
        auto *password = Child<QLineEdit>(modal, "edtPassword");
        auto *path = Child<QLineEdit>(modal, "edtInitinalPath");
        auto *passive = Child<QCheckBox>(modal, "cbxUsePassive");
        auto *firewall = Child<QCheckBox>(modal, "cbxUseFirewall");
        auto *ok = Child<QPushButton>(modal, "btnOK");
        ASSERT_TRUE(combo && server && port && user && password && path && passive && firewall
                    && ok);
        EXPECT_TRUE(ok->isDefault());
        EXPECT_EQ(server->text(), ""); // absent keys load empty
        EXPECT_TRUE(passive->isChecked());

        SelectAllAndType(combo, "Another name");
        QTest::keyClicks(server, "  ftp.example.org");
        SelectAllAndType(port, "2x1:21"); // the port takes digits only
        QTest::keyClick(port, Qt::Key_Up);
        QTest::keyClicks(user, "me ");
        QTest::keyClicks(password, " p w ");
        QTest::keyClicks(path, " /www/ ");
        QTest::mouseClick(passive, Qt::LeftButton);
        QTest::mouseClick(firewall, Qt::LeftButton);
        QTest::keyClick(path, Qt::Key_Return); // the default button
    });
    EXPECT_TRUE(EditConnection(connection, name));
    EXPECT_TRUE(answer.Answered());
    EXPECT_EQ(name, "Unchanged");
    EXPECT_EQ(connection.Items("ServerName")->AsString(), "  ftp.example.org");
    EXPECT_EQ(connection.Items("ServerPort")->AsString(), "2122");
    EXPECT_EQ(connection.Items("UserName")->AsString(), "me ");
    EXPECT_EQ(connection.Items("Password")->AsString(), " p w ");
    EXPECT_EQ(connection.Items("InitialPath")->AsString(), " /www/ ");
    EXPECT_FALSE(connection.Items("UsePassive")->AsBoolean());
    EXPECT_TRUE(connection.Items("UseFirewall")->AsBoolean());
    EXPECT_EQ(connection.Items("Other")->AsString(), "kept");
    EXPECT_EQ(connection.Count(), 8);
}

TEST_F(ConnectionDialogTest, LayoutHasTheLabelsAndGroups)
{
    TfrmSettings dialog;
    QStringList labels;
    for (const QLabel *label : dialog.findChildren<QLabel *>())
        labels.append(label->text());
    EXPECT_EQ(labels, QStringList({"Connection name", "Server name", "Server port", "User name",
                                   "Password", "Initial path"}));
    QStringList groups;
    for (const QGroupBox *group : dialog.findChildren<QGroupBox *>())
        groups.append(group->title());
    EXPECT_EQ(groups, QStringList({" General settings ", " Additinal settings "}));
    // Each edit sits in its group.
    EXPECT_EQ(dialog.edtServerPort->parentWidget()->objectName(), "gbxGeneral");
    EXPECT_EQ(dialog.btnProxy->parentWidget()->objectName(), "gbxAdditional");
    EXPECT_EQ(dialog.Cancel->objectName(), "Cancel");
}
