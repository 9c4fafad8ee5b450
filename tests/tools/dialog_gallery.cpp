// Shows each settings dialog on a small demo project and saves a picture of it as the X server
// draws it: dialog_gallery OUTPUT_FOLDER. Run on a private display by
// scripts/dialog-screenshots.sh; it changes the projects folder of the XDG home it runs in.
#include "store/DataLib.h"
#include "store/PrjCls.h"
#include "ui/dialogs/MasksEditor.h"
#include "ui/dialogs/Options.h"
#include "ui/dialogs/ProjectOrganizer.h"
#include "ui/dialogs/ProxyDlg.h"
#include "ui/dialogs/Sounds.h"
#include "ui/ftpwindow/FtpWinOptions.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <functional>

namespace {
QString OutputFolder;
int Failures = 0;

// Once the modal dialog that `open` shows is drawn, saves it as NAME.png and closes it.
void Capture(const QString &name, const std::function<void()> &open,
             const std::function<void(QWidget *)> &prepare = {})
{
    QTimer poll;
    poll.setInterval(50);
    bool done = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (done || !modal || !modal->windowHandle() || !modal->windowHandle()->isExposed())
            return;
        done = true;
        if (prepare)
            prepare(modal);
        QTest::qWait(600); // fonts, icons and the focus frame settle
        const QPixmap shot = modal->screen()->grabWindow(modal->winId());
        const QString file = OutputFolder + u'/' + name + QStringLiteral(".png");
        if (shot.isNull() || !shot.save(file)) {
            std::fprintf(stderr, "dialog_gallery: could not save %s\n", qPrintable(file));
            ++Failures;
        } else {
            std::printf("%s\n", qPrintable(file));
        }
        static_cast<QDialog *>(modal)->reject();
    });
    poll.start();
    open();
}

QString DemoProject(const QString &title, const QString &host, const QString &user,
                    const QString &site)
{
    TProject project;
    project.InitDefaults();
    project.Nodes(QStringLiteral("Path"))->SetAsString(site);
    project.Nodes(QStringLiteral("Host"))->SetAsString(host);
    project.Nodes(QStringLiteral("User"))->SetAsString(user);
    project.Nodes(QStringLiteral("RemotePath"))->SetAsString(QStringLiteral("/public_html"));
    TXMLStore *filter = project.Nodes(QStringLiteral("Filters"))->Add();
    filter->Name = QStringLiteral("Filter");
    filter->Nodes(QStringLiteral("Mask"))->SetAsString(QStringLiteral("drafts\\*"));
    filter->Nodes(QStringLiteral("Options"))->SetAsString(QStringLiteral(":no"));
    project.FileName = ProjectsFolder() + title + QStringLiteral(".zdx");
    project.Save(false);
    return project.FileName;
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("morvate"));
    QCoreApplication::setApplicationName(QStringLiteral("Zandrel"));
    if (argc != 2) {
        std::fprintf(stderr, "usage: dialog_gallery OUTPUT_FOLDER\n");
        return 2;
    }
    OutputFolder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(OutputFolder);

    // Shown only, never scanned: a fixed path keeps the pictures the same on every machine.
    const QString site = QStringLiteral("/home/anna/Sites/bakery");
    QDir().mkpath(ProjectsFolder());
    const QString open = DemoProject(QStringLiteral("bakery"), QStringLiteral("ftp.bakery.example"),
                                     QStringLiteral("anna"), site);
    DemoProject(QStringLiteral("Club pages"), QStringLiteral("ftp.club.example"),
                QStringLiteral("webmaster"), site);
    DemoProject(QStringLiteral("photos"), QStringLiteral("home.example.net"), QStringLiteral("pat"),
                site);

    TProject project;
    project.Load(open);
    const std::pair<const char *, int> pages[]
        = {{"options-main", 0}, {"options-ignore-list", 1}, {"options-settings", 2}};
    for (const auto &[name, page] : pages) {
        const int index = page;
        Capture(
            QString::fromLatin1(name),
            [&project] {
                TfrmOptions dialog;
                dialog.Execute(project);
            },
            [index](QWidget *modal) {
                modal->findChild<QTabWidget *>(QStringLiteral("PageControl"))
                    ->setCurrentIndex(index);
            });
    }
    Capture(QStringLiteral("project-organizer"), [&open] { OrganizeProjects(open); });
    Capture(QStringLiteral("masks-editor"), [] {
        QStringList masks{QStringLiteral("*.htm"), QStringLiteral("*.html"),
                          QStringLiteral("*.css"), QStringLiteral("*.js"),
                          QStringLiteral("*.txt"), QStringLiteral("*.xml")};
        EditMasks(masks, nullptr, QStringLiteral("ASCII Files"));
    });
    Capture(QStringLiteral("firewall-settings"), [] { EditFirewallSettings(); });
    Capture(QStringLiteral("connection-settings"), [] {
        TProperties connection;
        connection.Items(QStringLiteral("ServerName"))
            ->SetAsString(QStringLiteral("ftp.bakery.example"));
        connection.Items(QStringLiteral("ServerPort"))->SetAsString(QStringLiteral("21"));
        connection.Items(QStringLiteral("UserName"))->SetAsString(QStringLiteral("anna"));
        connection.Items(QStringLiteral("UsePassive"))->SetAsBoolean(true);
        QString name = QStringLiteral("bakery");
        EditConnection(connection, name);
    });
    Capture(QStringLiteral("alert-sounds"), [] { EditAlertSounds(); });
    return Failures == 0 ? 0 : 1;
}
