// zandrel-cli: the publishing engine for scripts, scheduled jobs and machines without a display.
#include "app/cli/CliArguments.h"
#include "app/cli/CliFrontEnd.h"
#include "app/cli/CliProject.h"
#include "app/cli/CliTerminal.h"
#include "app/cli/CliWatch.h"
#include "app/keyring/SecretServiceKeyring.h"
#include "engine/PublishList.h"
#include "store/PrjCls.h"
#include "store/ProjectLock.h"
#include "store/ProjectOptions.h"
#include "store/StringLib.h"
#include "store/XMLStore.h"

#include "ftp/FtpTls.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

#include <csignal>
#include <optional>
#include <unistd.h>

namespace {

using CliTerminal::WriteErr;
using CliTerminal::WriteOut;

int ListCommand(const TArguments &args)
{
    for (const QString &file : SortedProjectFiles()) {
        if (args.Json)
            WriteJson({{QStringLiteral("event"), QStringLiteral("project")},
                       {QStringLiteral("title"), ProjectTitle(file)},
                       {QStringLiteral("file"), file}});
        else
            WriteOut(ProjectTitle(file) + QLatin1Char('\t') + file + QLatin1Char('\n'));
    }
    return esSuccess;
}

int NewCommand(TArguments &args)
{
    if (args.PasswordFile) {
        QString password;
        QString error;
        if (!ReadFirstLine(*args.PasswordFile, password, error)) {
            WriteErr(QStringLiteral("zandrel-cli: %1\n").arg(error));
            return esUsage;
        }
        args.New.Password = password;
    }
    TProject project;
    project.Clear();
    project.InitDefaults();
    try {
        const QString refusal = FillNewProject(project, args.New);
        if (!refusal.isEmpty()) {
            WriteErr(QStringLiteral("zandrel-cli: %1\n").arg(refusal));
            return esUsage;
        }
    } catch (const EStoreError &error) {
        WriteErr(QStringLiteral("zandrel-cli: %1\n").arg(error.Message()));
        return esUsage;
    }
    // The key is settled before the project exists: a server that shows another one gets none.
    if (!args.TrustHostKey.isEmpty()) {
        const QString refusal = TrustHostKey(project, args.New, args.TrustHostKey);
        if (!refusal.isEmpty()) {
            WriteErr(QStringLiteral("zandrel-cli: %1\n").arg(refusal));
            return esErrors;
        }
        WriteErr(QStringLiteral("zandrel-cli: the server's host key %1 is in ~/.ssh/known_hosts\n")
                     .arg(args.TrustHostKey));
    }
    // A project that could not be written is a failure, not a usage problem.
    try {
        project.Save(false);
    } catch (const EStoreError &error) {
        WriteErr(QStringLiteral("zandrel-cli: %1\n").arg(error.Message()));
        return esErrors;
    }
    WriteOut(project.FileName + QLatin1Char('\n'));
    return esSuccess;
}

quint8 KindOf(const QString &command)
{
    if (command == QLatin1String("compare"))
        return pkCompare;
    if (command == QLatin1String("remove"))
        return pkRemove;
    if (command == QLatin1String("download"))
        return pkDownload;
    if (command == QLatin1String("upload") || command == QLatin1String("watch"))
        return pkUpload;
    return pkRefresh;
}

enum TGivenPassword { gpGiven, gpNone, gpFailed, gpInterrupted };

// The password given for this run: --password-file, else ZANDREL_PASSWORD, else (when
// `prompt` and stdin is a terminal) typed without echo; for SFTP it may be left empty.
TGivenPassword GivenPassword(const TArguments &args, QString &password, QString &error, bool prompt,
                             bool sftp = false)
{
    if (args.PasswordFile)
        return ReadFirstLine(*args.PasswordFile, password, error) ? gpGiven : gpFailed;
    if (qEnvironmentVariableIsSet("ZANDREL_PASSWORD")) {
        password = qEnvironmentVariable("ZANDREL_PASSWORD");
        return gpGiven;
    }
    if (!prompt || !CliTerminal::StdinIsTerminal())
        return gpNone;
    switch (CliTerminal::ReadPassword(
        sftp ? QStringLiteral("Enter password or key passphrase for connecting to SFTP server "
                              "(empty: keys only): ")
             : QStringLiteral("Enter password for connecting to FTP server: "),
        password)) {
    case CliTerminal::rrLine:
        return gpGiven;
    case CliTerminal::rrInterrupted:
        return gpInterrupted;
    case CliTerminal::rrEof:
        break;
    }
    error = QStringLiteral("no password entered");
    return gpFailed;
}

// Locks and loads the project named on the command line; false after saying why. The lock is
// held as long as `lock` lives: two runs of one project would undo each other's uploads and
// records.
bool LoadProject(const QString &nameOrPath, TProject &project, TProjectLock &lock)
{
    QString error;
    const QString fileName = FindProjectFile(nameOrPath, error);
    if (fileName.isEmpty()) {
        WriteErr(QStringLiteral("zandrel-cli: %1\n").arg(error));
        return false;
    }
    if (!lock.Lock(fileName, error)) {
        WriteErr(QStringLiteral("zandrel-cli: %1\n").arg(error));
        return false;
    }
    try {
        project.Load(fileName);
    } catch (const EStoreError &loadError) {
        WriteErr(QStringLiteral("zandrel-cli: %1\n").arg(loadError.Message()));
        return false;
    }
    return true;
}

// Replaces the stored password (keyring or project file) with one given as for an operation.
int PasswdCommand(const TArguments &args)
{
    TProjectLock lock;
    TProject project;
    if (!LoadProject(args.Project, project, lock))
        return esUsage;
    QString password;
    QString error;
    switch (GivenPassword(args, password, error, true)) {
    case gpGiven:
        break;
    case gpInterrupted:
        return esAborted;
    case gpNone:
        error = QStringLiteral("give the new password by --password-file FILE, ZANDREL_PASSWORD "
                               "or on a terminal");
        [[fallthrough]];
    case gpFailed:
        WriteErr(QStringLiteral("zandrel-cli: %1\n").arg(error));
        return esUsage;
    }
    try {
        project.SetStoredPassword(password);
        project.Save(true);
    } catch (const EStoreError &saveError) {
        WriteErr(QStringLiteral("zandrel-cli: %1\n").arg(saveError.Message()));
        return esUsage;
    }
    WriteOut(QStringLiteral("%1: the FTP password is kept %2\n")
                 .arg(project.FileName, project.PasswordInKeyring()
                                            ? QStringLiteral("in the desktop's keyring")
                                            : QStringLiteral("scrambled in the project file")));
    return esSuccess;
}

const QString TrustedKey = QStringLiteral("trusted-certificate");

// The options as `set` takes them, KEY=VALUE a line; never the password itself.
int ShowCommand(const TArguments &args)
{
    QString error;
    const QString fileName = FindProjectFile(args.Project, error);
    TProject project;
    TProjectOptions options;
    try {
        if (fileName.isEmpty())
            throw EStoreError(error);
        project.Load(fileName);
        options.Load(project);
    } catch (const EStoreError &loadError) {
        WriteErr(QStringLiteral("zandrel-cli: %1\n").arg(loadError.Message()));
        return esUsage;
    }
    const QString password
        = options.Pass.isEmpty() ? QStringLiteral("none") : QStringLiteral("stored");
    const QString trusted = project.IndexOf(QStringLiteral("TrustedCertificate")) >= 0
                                ? project.Nodes(QStringLiteral("TrustedCertificate"))->AsString()
                                : QString();
    QJsonObject object{{QStringLiteral("event"), QStringLiteral("options")},
                       {QStringLiteral("file"), fileName}};
    QString text;
    for (const QString &name : ProjectOptionNames()) {
        const QString value = ProjectOptionValue(options, name);
        if (name == QLatin1String("ignore")) {
            object.insert(name, QJsonArray::fromStringList(options.Ignore));
            for (const QString &mask : std::as_const(options.Ignore))
                text += name + QLatin1Char('=') + mask + QLatin1Char('\n');
        } else {
            object.insert(name, value);
            text += name + QLatin1Char('=') + value + QLatin1Char('\n');
        }
    }
    object.insert(QStringLiteral("password"), password);
    object.insert(TrustedKey, trusted);
    text += QStringLiteral("password=") + password + QLatin1Char('\n') + TrustedKey
            + QLatin1Char('=') + trusted + QLatin1Char('\n');
    if (args.Json)
        WriteJson(object);
    else
        WriteOut(text);
    return esSuccess;
}

// `set PROJECT host URL`: the protocol and what else the URL names. A port left out follows
// a change of protocol when it was the old one's own.
QString SetUrl(TProject &project, TProjectOptions &options, const QString &text)
{
    TNewProjectOptions url;
    url.Host = text;
    QString refusal = TakeUrl(url);
    if (!refusal.isEmpty())
        return refusal;
    const int index = project.IndexOf(QStringLiteral("Protocol"));
    const bool wasSftp = index >= 0 && project.Items(index)->AsString() == QLatin1String("sftp");
    const bool sftp = url.Protocol == QLatin1String("sftp");
    options.Host = *url.Host;
    for (const auto &[given, target] :
         {std::pair{&url.User, &options.User}, std::pair{&url.RemotePath, &options.RemotePath},
          std::pair{&url.Encryption, &options.Encryption}, std::pair{&url.Port, &options.Port}}) {
        if (*given)
            *target = **given;
    }
    if (!url.Port && sftp != wasSftp && options.Port.trimmed() == (wasSftp ? "22" : "21"))
        options.Port = sftp ? QStringLiteral("22") : QStringLiteral("21");
    if (CheckProjectOptions(options, refusal) != TOptionsField::None)
        return refusal;
    options.Save(project);
    // Only SFTP is written, as by new.
    const int written = project.IndexOf(QStringLiteral("Protocol"));
    if (sftp)
        project.Nodes(QStringLiteral("Protocol"))->SetAsString(QStringLiteral("sftp"));
    else if (written >= 0)
        project.Delete(written);
    return {};
}

// Changes one option as the options dialog would, with its checks.
int SetCommand(const TArguments &args)
{
    TProjectLock lock;
    TProject project;
    if (!LoadProject(args.Project, project, lock))
        return esUsage;
    const auto refuse = [&](const QString &why) {
        WriteErr(QStringLiteral("zandrel-cli: %1: %2\n").arg(project.FileName, why));
        return esUsage;
    };
    if (args.Key == QLatin1String("password"))
        return refuse(QStringLiteral("a password never goes on the command line; use "
                                     "zandrel-cli passwd"));
    try {
        if (args.Key == TrustedKey) {
            const bool none = args.Value.isEmpty() || args.Value == QLatin1String("none");
            const QString fingerprint = none ? QString() : NormalizedFingerprint(args.Value);
            if (!none && fingerprint.isEmpty())
                return refuse(QStringLiteral("%1 needs a SHA-256 fingerprint (64 hex digits) or "
                                             "none, not \"%2\"")
                                  .arg(TrustedKey, args.Value));
            project.Nodes(QStringLiteral("TrustedCertificate"))->SetAsString(fingerprint);
        } else {
            TProjectOptions options;
            options.Load(project);
            // A keyring that cannot be read now gives no password: saving that would drop it.
            if (options.Pass.isEmpty() && project.PasswordInKeyring())
                return refuse(QStringLiteral("the stored password cannot be read from the "
                                             "keyring; nothing has been changed"));
            if (args.Key == QLatin1String("host") && args.Value.contains(QLatin1String("://"))) {
                const QString refusal = SetUrl(project, options, args.Value);
                if (!refusal.isEmpty())
                    return refuse(refusal);
                project.Save(true);
                return esSuccess;
            }
            // A relative folder is taken as the folder picker would give it.
            const QString typed = TrimBlanks(args.Value).toString();
            const bool relative = args.Key == QLatin1String("path") && !typed.isEmpty()
                                  && QDir::isRelativePath(typed);
            const QString refusal = SetProjectOption(
                options, args.Key,
                relative ? QDir::cleanPath(QDir::current().absoluteFilePath(typed)) : args.Value);
            if (!refusal.isEmpty())
                return refuse(refusal);
            options.Save(project);
        }
        project.Save(true);
    } catch (const EStoreError &error) {
        WriteErr(QStringLiteral("zandrel-cli: %1\n").arg(error.Message()));
        return esErrors;
    }
    return esSuccess;
}

// Whether the local folder holds nothing while the records say files were uploaded from it: a
// folder not mounted, or emptied by mistake, would have removal take the whole site.
bool EmptiedSite(TProject &project)
{
    const QDir folder(project.GetLocalPath());
    if (!folder.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
        return false;
    for (int i = 0; i < project.Versions.Count(); ++i) {
        if (project.Versions.Items(i)->Date != 0)
            return true;
    }
    return false;
}

const char *ResultName(int status)
{
    switch (status) {
    case esSuccess:
        return "success";
    case esErrors:
        return "errors";
    case esAborted:
        return "aborted";
    default:
        return "usage";
    }
}

int OperationCommand(const TArguments &args)
{
    const quint8 kind = KindOf(args.Command);
    TCliFrontEnd frontEnd;
    // A dry run shows all that could go unless told to keep everything.
    if (args.YesToAll || (args.DryRun && !args.NoToAll))
        frontEnd.Answers = TCliAnswers::YesToAll;
    else if (args.NoToAll)
        frontEnd.Answers = TCliAnswers::NoToAll;
    // Upload and watch ask only whether to replace a file changed on the server: never on a
    // terminal, as they never asked there; kept (an error line) unless --force.
    if (kind == pkUpload)
        frontEnd.Answers = args.Force ? TCliAnswers::YesToAll : TCliAnswers::NoToAll;
    if (args.Quiet)
        frontEnd.Progress = TCliProgress::None;
    else if (!args.Json && CliTerminal::StderrIsTerminal()
             && qEnvironmentVariable("TERM") != QLatin1String("dumb"))
        frontEnd.Progress = TCliProgress::Live;
    else
        frontEnd.Progress = TCliProgress::Plain;
    frontEnd.AllowPlain = args.AllowPlain;
    frontEnd.Quiet = args.Quiet;
    frontEnd.Verbose = args.Verbose;
    frontEnd.Json = args.Json;
    frontEnd.Debug = args.Debug;
    frontEnd.DryRun = args.DryRun;
    frontEnd.MaxDelete = args.MaxDelete;

    TCliInterrupts interrupts(esAborted);
    interrupts.OnInterrupt = [&frontEnd] { frontEnd.Interrupt(); };

    TProjectLock lock;
    TProject project;
    if (!LoadProject(args.Project, project, lock))
        return esUsage;
    project.Opened = true;
    const bool sftp
        = project.IndexOf(QStringLiteral("Protocol")) >= 0
          && project.Nodes(QStringLiteral("Protocol"))->AsString() == QLatin1String("sftp");
    if (!sftp && !(args.TrustHostKey + args.AcceptHostKey).isEmpty()) {
        WriteErr(QStringLiteral("zandrel-cli: %1: the project uses FTP; --trust-host-key and "
                                "--accept-host-key are for SFTP\n")
                     .arg(project.FileName));
        return esUsage;
    }
    frontEnd.Command = args.Command;
    frontEnd.HostKey = args.TrustHostKey.isEmpty() ? args.AcceptHostKey : args.TrustHostKey;
    frontEnd.RememberHostKey = args.AcceptHostKey.isEmpty();
    // Refused before a password is asked for; the engine refuses the same on its own.
    const QString refusal = ProjectRefusal(project, kind != pkRefresh);
    if (!refusal.isEmpty()) {
        WriteErr(QStringLiteral("zandrel-cli: %1: %2\n").arg(project.FileName, refusal));
        return esUsage;
    }
    if (kind == pkRemove && !args.Force && !args.DryRun && EmptiedSite(project)) {
        WriteErr(QStringLiteral("zandrel-cli: %1: the local folder %2 is empty, but the records "
                                "say the site was uploaded from it: remove would take the whole "
                                "site off the server; give --force if that is what you want\n")
                     .arg(project.FileName, project.GetLocalPath()));
        return esUsage;
    }

    if ((kind == pkRemove || kind == pkDownload) && frontEnd.Answers == TCliAnswers::Terminal
        && !CliTerminal::StdinIsTerminal()) {
        WriteErr(QStringLiteral("zandrel-cli: %1 asks about every entry that exists only on the "
                                "server; run it on a terminal or give --yes-to-all or "
                                "--no-to-all\n")
                     .arg(args.Command));
        return esUsage;
    }

    // The password is settled before anything connects; a refresh never connects. One given
    // for this run wins over the stored one, which may be out of date.
    if (kind != pkRefresh) {
        QString password;
        QString error;
        switch (GivenPassword(args, password, error, false)) {
        case gpGiven:
            project.SetPassword(password);
            break;
        case gpFailed:
            WriteErr(QStringLiteral("zandrel-cli: %1\n").arg(error));
            return esUsage;
        case gpInterrupted:
            return esAborted;
        case gpNone:
            break;
        }
        TProject::PasswordPrompt = [&](TProject &, QString &prompted) -> bool {
            switch (GivenPassword(args, prompted, error, true, sftp)) {
            case gpGiven:
                return true;
            case gpInterrupted:
                error.clear();
                return false;
            case gpNone:
                // SFTP logs in with the agent's keys and the user's own without one.
                if (sftp)
                    return true;
                error = QStringLiteral("the project stores no FTP password; give "
                                       "--password-file FILE, set ZANDREL_PASSWORD or run "
                                       "on a terminal");
                return false;
            case gpFailed:
                return false;
            }
            return false;
        };
        const bool known = project.AskPassword();
        TProject::PasswordPrompt = nullptr;
        if (!known) {
            if (error.isEmpty() || TCliInterrupts::Requested())
                return esAborted;
            WriteErr(QStringLiteral("zandrel-cli: %1\n").arg(error));
            return esUsage;
        }
    }

    if (args.Command == QLatin1String("watch"))
        return WatchCommand(args, project, frontEnd, interrupts);

    TFileList fileList;
    bool hadErrors = false;
    bool stuck = false;
    TCliFrontEnd::TOutcome outcome;
    // The window refreshes a project when it opens it; compare works on that list, and the
    // statistics of remove and download come from it.
    if (kind == pkCompare || kind == pkRemove || kind == pkDownload) {
        outcome = frontEnd.Run(&fileList, pkRefresh, &project, false, false);
        hadErrors = outcome.HadErrors || outcome.SaveFailed;
        stuck = outcome.Stuck;
    }
    if (!outcome.Aborted && !stuck) {
        outcome = frontEnd.Run(&fileList, kind, &project, true, args.List);
        hadErrors = hadErrors || outcome.HadErrors || outcome.SaveFailed;
        stuck = outcome.Stuck;
    }

    int status = esSuccess;
    if (outcome.Aborted)
        status = esAborted;
    else if (outcome.PlainRefused)
        status = esUsage;
    else if (hadErrors)
        status = esErrors;
    if (args.Json)
        WriteJson({{QStringLiteral("event"), QStringLiteral("summary")},
                   {QStringLiteral("command"), args.Command},
                   {QStringLiteral("status"), status},
                   {QStringLiteral("result"), QString::fromLatin1(ResultName(status))},
                   {QStringLiteral("statistics"), outcome.Statistics},
                   {QStringLiteral("folders"), outcome.Folders},
                   {QStringLiteral("files"), outcome.Files},
                   {QStringLiteral("dry_run"), args.DryRun}});
    // A worker that is still blocked must not see its objects destroyed under it.
    if (stuck)
        ::_exit(status);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    // Output piped into a program that quits early (| head) must not kill an upload half way:
    // the records would not be saved. Failed writes are ignored instead.
    ::signal(SIGPIPE, SIG_IGN);
    QCoreApplication::setOrganizationName(QStringLiteral("morvate"));
    QCoreApplication::setApplicationName(QStringLiteral("Zandrel"));
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    // The window's third argument (a password) has no counterpart here.
    TProject::CommandLineArguments = {};
    TSecretServiceKeyring keyring;
    TProject::Keyring = &keyring;
    TProject::Notice
        = [](const QString &line) { WriteErr(QStringLiteral("zandrel-cli: %1\n").arg(line)); };

    TArguments parsed;
    const int parseStatus = ParseArguments(args, parsed);
    if (parseStatus >= 0)
        return parseStatus;
    if (parsed.Command == QLatin1String("list"))
        return ListCommand(parsed);
    if (parsed.Command == QLatin1String("show"))
        return ShowCommand(parsed);
    if (parsed.Command == QLatin1String("set"))
        return SetCommand(parsed);
    if (parsed.Command == QLatin1String("new"))
        return NewCommand(parsed);
    if (parsed.Command == QLatin1String("passwd"))
        return PasswdCommand(parsed);
    return OperationCommand(parsed);
}
