// zandrel-cli: the publishing engine for scripts, scheduled jobs and machines without a display.
#include "app/cli/CliFrontEnd.h"
#include "app/cli/CliProject.h"
#include "app/cli/CliTerminal.h"
#include "app/keyring/SecretServiceKeyring.h"
#include "engine/PublishList.h"
#include "store/PrjCls.h"
#include "store/ProjectLock.h"
#include "store/ProjectOptions.h"
#include "store/XMLStore.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <csignal>
#include <optional>
#include <unistd.h>

namespace {

using CliTerminal::WriteErr;
using CliTerminal::WriteOut;

const char *const UsageText
    = "Usage:\n"
      "  zandrel-cli refresh [--list] PROJECT\n"
      "  zandrel-cli compare [--allow-plain] PROJECT\n"
      "  zandrel-cli upload [--allow-plain] PROJECT\n"
      "  zandrel-cli remove [--yes-to-all | --no-to-all] [--allow-plain] PROJECT\n"
      "  zandrel-cli download [--yes-to-all | --no-to-all] [--allow-plain] PROJECT\n"
      "  zandrel-cli list\n"
      "  zandrel-cli passwd [--password-file FILE] PROJECT\n"
      "  zandrel-cli new --path DIR --host HOST --user USER [--port N] [--remote-path P]\n"
      "                  [--password-file FILE] [--active] [--timeout SECONDS] [--connections N]\n"
      "                  [--encryption require|auto|implicit|off] [--trust-certificate SHA256]\n"
      "                  [--ignore MASK]...\n"
      "  zandrel-cli --help | --version\n"
      "\n"
      "PROJECT is a project file or the title of a project in the projects folder.\n"
      "\n"
      "Commands:\n"
      "  refresh    scan the local folder; --list prints the files that need upload\n"
      "  compare    compare the local folder with the server and mark what must be sent again\n"
      "  upload     upload every file and folder that needs it\n"
      "  remove     remove from the server what exists only there\n"
      "  download   download what exists only on the server\n"
      "  list       list the projects (title and file)\n"
      "  new        create a project and print its file\n"
      "  passwd     replace the project's stored FTP password\n"
      "\n"
      "Options:\n"
      "  --password-file FILE  the FTP password is the file's first line\n"
      "  --yes-to-all          answer every question of remove/download with Yes\n"
      "  --no-to-all           answer every question of remove/download with No\n"
      "  --allow-plain         log in without TLS although the server offered it before\n"
      "                        (a project that once connected with TLS refuses that, as\n"
      "                        someone on the network may have removed it)\n"
      "  --active              active mode FTP (a new project uses passive mode)\n"
      "  --connections N       connections to the server at once, 1 to 10 (4)\n"
      "  --encryption MODE     FTP over TLS: require, auto (when offered; the default), off,\n"
      "                        or implicit (TLS from the first byte, as on port 990)\n"
      "  --trust-certificate SHA256\n"
      "                        trust the server's certificate with this SHA-256 fingerprint\n"
      "                        although it does not verify (self-signed, another host name)\n"
      "  --ignore MASK         add an entry to the ignore list (\"*.bak\" is there already)\n"
      "\n"
      "The FTP password comes from --password-file, else from the ZANDREL_PASSWORD\n"
      "environment variable, and is then used instead of the stored one; else the stored\n"
      "password is used, else a prompt on the terminal asks for it. passwd takes the new\n"
      "password the same way. Stored passwords are kept in the desktop's keyring when one\n"
      "answers, else scrambled in the project file.\n"
      "Remove and download ask about every server-only entry on the terminal:\n"
      "  y Yes, n No, a Yes to All, N or o No to All, c Cancel.\n"
      "\n"
      "Exit status: 0 success, 1 completed with errors, 2 usage or project problem (also when\n"
      "another window or run has the project, or a login refused because the server stopped\n"
      "offering TLS), 3 aborted\n"
      "(Ctrl+C, SIGTERM or SIGHUP abort the operation; a second Ctrl+C ends at once).\n"
      "The records of the files sent reach the project file every few seconds during a run.\n";

struct TArguments
{
    QString Command;
    QString Project;
    bool List = false;
    bool YesToAll = false;
    bool NoToAll = false;
    bool AllowPlain = false;
    std::optional<QString> PasswordFile;
    TNewProjectOptions New;
};

int UsageError(const QString &message)
{
    WriteErr(QStringLiteral("zandrel-cli: %1\nTry 'zandrel-cli --help'.\n").arg(message));
    return esUsage;
}

bool AllDigits(const QString &text, int maxLength)
{
    if (text.isEmpty() || text.size() > maxLength)
        return false;
    return std::all_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

// Returns -1 when the arguments are complete, else the exit status to end with.
int ParseArguments(const QStringList &args, TArguments &parsed)
{
    for (const QString &arg : args) {
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            WriteOut(QString::fromLatin1(UsageText));
            return esSuccess;
        }
        if (arg == QLatin1String("--version")) {
            WriteOut(QStringLiteral("zandrel-cli " ZANDREL_VERSION "\n"));
            return esSuccess;
        }
    }
    if (args.isEmpty())
        return UsageError(QStringLiteral("no command given"));

    parsed.Command = args.first();
    static const QStringList operations
        = {QStringLiteral("refresh"), QStringLiteral("compare"), QStringLiteral("upload"),
           QStringLiteral("remove"), QStringLiteral("download")};
    const bool isOperation = operations.contains(parsed.Command);
    const bool isNew = parsed.Command == QLatin1String("new");
    const bool isList = parsed.Command == QLatin1String("list");
    const bool isPasswd = parsed.Command == QLatin1String("passwd");
    if (!isOperation && !isNew && !isList && !isPasswd)
        return UsageError(QStringLiteral("unknown command '%1'").arg(parsed.Command));
    const bool asks
        = parsed.Command == QLatin1String("remove") || parsed.Command == QLatin1String("download");

    QStringList positional;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1String("--"))) {
            positional.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = arg;
        std::optional<QString> inlineValue;
        const qsizetype equals = arg.indexOf(QLatin1Char('='));
        if (equals > 0) {
            name = arg.left(equals);
            inlineValue = arg.mid(equals + 1);
        }
        const auto takeValue = [&](QString &value) {
            if (inlineValue) {
                value = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size())
                return false;
            value = args.at(++i);
            return true;
        };
        const auto flag = [&](bool &target) {
            if (inlineValue)
                return false;
            target = true;
            return true;
        };

        QString value;
        bool known = true;
        bool ok = true;
        if (name == QLatin1String("--password-file") && (isOperation || isNew || isPasswd)) {
            ok = takeValue(value);
            parsed.PasswordFile = value;
        } else if (name == QLatin1String("--list") && parsed.Command == QLatin1String("refresh")) {
            ok = flag(parsed.List);
        } else if (name == QLatin1String("--yes-to-all") && asks) {
            ok = flag(parsed.YesToAll);
        } else if (name == QLatin1String("--no-to-all") && asks) {
            ok = flag(parsed.NoToAll);
        } else if (name == QLatin1String("--allow-plain") && isOperation
                   && parsed.Command != QLatin1String("refresh")) {
            ok = flag(parsed.AllowPlain);
        } else if (isNew && name == QLatin1String("--path")) {
            ok = takeValue(value);
            parsed.New.Path = value;
        } else if (isNew && name == QLatin1String("--host")) {
            ok = takeValue(value);
            parsed.New.Host = value;
        } else if (isNew && name == QLatin1String("--user")) {
            ok = takeValue(value);
            parsed.New.User = value;
        } else if (isNew && name == QLatin1String("--remote-path")) {
            ok = takeValue(value);
            parsed.New.RemotePath = value;
        } else if (isNew && name == QLatin1String("--port")) {
            ok = takeValue(value);
            // The port edit takes at most six digits.
            if (ok && !AllDigits(value, 6))
                return UsageError(QStringLiteral("--port needs a number, not '%1'").arg(value));
            parsed.New.Port = value;
        } else if (isNew && name == QLatin1String("--timeout")) {
            ok = takeValue(value);
            if (ok && !AllDigits(value, 5))
                return UsageError(
                    QStringLiteral("--timeout needs a number of seconds, not '%1'").arg(value));
            parsed.New.Timeout = value;
        } else if (isNew && name == QLatin1String("--connections")) {
            ok = takeValue(value);
            const int connections = AllDigits(value, 2) ? value.toInt() : 0;
            if (ok && (connections < 1 || connections > MaxConnections))
                return UsageError(
                    QStringLiteral("--connections needs a number from 1 to %1, not '%2'")
                        .arg(MaxConnections)
                        .arg(value));
            parsed.New.Connections = connections;
        } else if (isNew && name == QLatin1String("--encryption")) {
            ok = takeValue(value);
            if (ok && value != QLatin1String("require") && value != QLatin1String("auto")
                && value != QLatin1String("implicit") && value != QLatin1String("off"))
                return UsageError(
                    QStringLiteral("--encryption needs require, auto, implicit or off, not '%1'")
                        .arg(value));
            parsed.New.Encryption = value;
        } else if (isNew && name == QLatin1String("--trust-certificate")) {
            ok = takeValue(value);
            const QString fingerprint = NormalizedFingerprint(value);
            if (ok && fingerprint.isEmpty())
                return UsageError(QStringLiteral("--trust-certificate needs a SHA-256 fingerprint "
                                                 "(64 hex digits), not '%1'")
                                      .arg(value));
            parsed.New.TrustCertificate = fingerprint;
        } else if (isNew && name == QLatin1String("--active")) {
            ok = flag(parsed.New.Active);
        } else if (isNew && name == QLatin1String("--ignore")) {
            ok = takeValue(value);
            parsed.New.Ignore.append(value);
        } else {
            known = false;
        }
        if (!known)
            return UsageError(
                QStringLiteral("unknown option '%1' for '%2'").arg(name, parsed.Command));
        if (!ok)
            return UsageError(inlineValue ? QStringLiteral("option '%1' takes no value").arg(name)
                                          : QStringLiteral("option '%1' needs a value").arg(name));
    }

    if (parsed.YesToAll && parsed.NoToAll)
        return UsageError(QStringLiteral("--yes-to-all and --no-to-all exclude each other"));
    if (isOperation || isPasswd) {
        if (positional.size() != 1)
            return UsageError(QStringLiteral("'%1' needs one PROJECT").arg(parsed.Command));
        parsed.Project = positional.first();
    } else if (!positional.isEmpty()) {
        return UsageError(QStringLiteral("unexpected argument '%1' for '%2'")
                              .arg(positional.first(), parsed.Command));
    }
    return -1;
}

int ListCommand()
{
    for (const QString &file : SortedProjectFiles())
        WriteOut(ProjectTitle(file) + QLatin1Char('\t') + file + QLatin1Char('\n'));
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
            WriteErr(refusal + QLatin1Char('\n'));
            return esUsage;
        }
    } catch (const EStoreError &error) {
        WriteErr(QStringLiteral("zandrel-cli: %1\n").arg(error.Message()));
        return esUsage;
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
    if (command == QLatin1String("upload"))
        return pkUpload;
    return pkRefresh;
}

enum TGivenPassword { gpGiven, gpNone, gpFailed, gpInterrupted };

// The password given for this run: --password-file, else ZANDREL_PASSWORD, else (when
// `prompt` and stdin is a terminal) typed without echo.
TGivenPassword GivenPassword(const TArguments &args, QString &password, QString &error, bool prompt)
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
        QStringLiteral("Enter password for connecting to FTP server: "), password)) {
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

int OperationCommand(const TArguments &args)
{
    const quint8 kind = KindOf(args.Command);
    TCliFrontEnd frontEnd;
    if (args.YesToAll)
        frontEnd.Answers = TCliAnswers::YesToAll;
    else if (args.NoToAll)
        frontEnd.Answers = TCliAnswers::NoToAll;
    frontEnd.ShowProgress = CliTerminal::StderrIsTerminal();
    frontEnd.AllowPlain = args.AllowPlain;

    TCliInterrupts interrupts(esAborted);
    interrupts.OnInterrupt = [&frontEnd] { frontEnd.Interrupt(); };

    TProjectLock lock;
    TProject project;
    if (!LoadProject(args.Project, project, lock))
        return esUsage;
    project.Opened = true;
    // Refused before a password is asked for; the engine refuses the same on its own.
    const QString refusal = ProjectRefusal(project, kind != pkRefresh);
    if (!refusal.isEmpty()) {
        WriteErr(QStringLiteral("zandrel-cli: %1: %2\n").arg(project.FileName, refusal));
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
            switch (GivenPassword(args, prompted, error, true)) {
            case gpGiven:
                return true;
            case gpInterrupted:
                error.clear();
                return false;
            case gpNone:
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
        return ListCommand();
    if (parsed.Command == QLatin1String("new"))
        return NewCommand(parsed);
    if (parsed.Command == QLatin1String("passwd"))
        return PasswdCommand(parsed);
    return OperationCommand(parsed);
}
