// Shows each settings dialog on a small demo project and saves a picture of it as the X server
// draws it: dialog_gallery OUTPUT_FOLDER. Run on a private display by
// scripts/dialog-screenshots.sh; it changes the projects folder of the XDG home it runs in.
#include "store/DataLib.h"
#include "store/PrjCls.h"
#include "tests/tools/Gallery.h"
#include "ui/dialogs/MasksEditor.h"
#include "ui/dialogs/Options.h"
#include "ui/dialogs/ProjectOrganizer.h"
#include "ui/dialogs/ProxyDlg.h"
#include "ui/dialogs/Sounds.h"
#include "ui/ftpwindow/FtpWinOptions.h"

#include <QDir>
#include <QFile>
#include <QTabWidget>

#include <cstdio>
#include <functional>

namespace {
QString OutputFolder;
int Failures = 0;

// Once the modal dialog that `open` shows is drawn, saves it as NAME.png and closes it.
void Capture(const QString &name, const std::function<void()> &open,
             const std::function<void(QWidget *)> &prepare = {})
{
    TModalAnswer answer([&](QWidget *modal) {
        if (prepare)
            prepare(modal);
        Failures += !SaveShot(modal, OutputFolder, name);
        static_cast<QDialog *>(modal)->reject();
    });
    open();
}

QString DemoProject(const QString &title, const QString &host, const QString &user,
                    const QString &remote = "/public_html", const QString &port = "21")
{
    TProject project;
    project.InitDefaults();
    // Shown only, never scanned: a fixed path keeps the pictures the same on every machine.
    const std::pair<const char *, QString> values[] = {{"Path", "/home/anna/Sites/" + title},
                                                       {"RemotePath", remote},
                                                       {"Host", host},
                                                       {"Port", port},
                                                       {"User", user}};
    for (const auto &[name, value] : values)
        project.Nodes(name)->SetAsString(value);
    TXMLStore *filter = project.Nodes("Filters")->Add();
    filter->Name = "Filter";
    filter->Nodes("Mask")->SetAsString("drafts\\*");
    filter->Nodes("Options")->SetAsString(":no");
    project.FileName = ProjectsFolder() + title + ".zdx";
    project.Save(false);
    return project.FileName;
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("morvate");
    QCoreApplication::setApplicationName("Zandrel");
    if (argc != 2) {
        std::fprintf(stderr, "usage: dialog_gallery OUTPUT_FOLDER\n");
        return 2;
    }
    OutputFolder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(OutputFolder);

    QDir().mkpath(ProjectsFolder());
    const QString open = DemoProject("bakery", "ftp.bakery.example", "anna");
    DemoProject("bakery (staging)", "ftp.bakery.example", "anna", "/staging", "2121");
    DemoProject("Club pages", "ftp.club.example", "webmaster", "/www");
    DemoProject("photos", "home.example.net", "pat", "/");

    TProject project;
    project.Load(open);
    const char *const pages[] = {"options-main", "options-ignore-list", "options-settings"};
    for (int page = 0; page < 3; ++page) {
        Capture(
            pages[page],
            [&project] {
                TfrmOptions dialog;
                dialog.Execute(project);
            },
            [page](QWidget *modal) {
                modal->findChild<QTabWidget *>("PageControl")->setCurrentIndex(page);
            });
    }
    project.Nodes("Protocol")->SetAsString("sftp");
    project.Nodes("Port")->SetAsString("22");
    Capture("options-main-sftp", [&project] { TfrmOptions().Execute(project); });
    Capture("project-organizer", [&open] { OrganizeProjects(open); });
    Capture("masks-editor", [] {
        QStringList masks{"*.htm", "*.html", "*.css", "*.js", "*.txt", "*.xml"};
        EditMasks(masks, nullptr, "ASCII Files");
    });
    Capture("firewall-settings", [] { EditFirewallSettings(); });
    Capture("connection-settings", [] {
        TProperties connection;
        const std::pair<const char *, const char *> values[]
            = {{"ServerName", "ftp.bakery.example"}, {"ServerPort", "21"}, {"UserName", "anna"}};
        for (const auto &[name, value] : values)
            connection.Items(name)->SetAsString(value);
        connection.Items("UsePassive")->SetAsBoolean(true);
        EditConnection(connection);
    });
    Capture("alert-sounds", [] { EditAlertSounds(); });
    return Failures == 0 ? 0 : 1;
}
