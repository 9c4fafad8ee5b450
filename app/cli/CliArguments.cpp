// The command line of zandrel-cli: its help, its options and which command takes which.
#include "app/cli/CliArguments.h"

#include "app/cli/CliFrontEnd.h"
#include "app/cli/CliTerminal.h"
#include "ftp/FtpTls.h"
#include "store/ProjectOptions.h"

#include <QCommandLineParser>
#include <QUrl>

#include <algorithm>

namespace {

const char *const UsageText
    = "Usage: zandrel-cli [OPTION]... COMMAND [OPTION]... ARGUMENT...\n"
      "  or:  zandrel-cli refresh [--list] PROJECT\n"
      "  or:  zandrel-cli compare [--list] PROJECT\n"
      "  or:  zandrel-cli upload [--dry-run] [-f] PROJECT\n"
      "  or:  zandrel-cli watch [-f] PROJECT\n"
      "  or:  zandrel-cli remove [--yes-to-all | --no-to-all] [-n] [--max-delete N] [-f] PROJECT\n"
      "  or:  zandrel-cli download [--yes-to-all | --no-to-all] [--dry-run] PROJECT\n"
      "  or:  zandrel-cli list\n"
      "  or:  zandrel-cli show PROJECT\n"
      "  or:  zandrel-cli set PROJECT KEY VALUE\n"
      "  or:  zandrel-cli passwd [--password-file FILE] PROJECT\n"
      "  or:  zandrel-cli new --path DIR --host HOST --user USER [OPTION]...\n"
      "  or:  zandrel-cli new --path DIR --host sftp://USER@HOST:PORT/FOLDER [OPTION]...\n"
      "  or:  zandrel-cli --help | --version\n"
      "\n"
      "PROJECT is a project file or the title of a project in the projects folder.\n"
      "\n"
      "Commands:\n"
      "  refresh    scan the local folder; --list prints the files that need upload\n"
      "  compare    compare the local folder with the server and mark what must be sent again;\n"
      "             --list prints the entries: \"missing NAME\" (not on the server),\n"
      "             \"changed NAME\" (another version there), \"server-only NAME\"\n"
      "  upload     upload every file and folder that needs it; a remote folder that does not\n"
      "             exist yet is made\n"
      "  watch      upload at once, then again each time files are saved: after a change\n"
      "             and 1.5 s without one (a site generator's rebuild is one upload); one\n"
      "             line per upload; Ctrl+C or SIGTERM ends it (an upload running is aborted,\n"
      "             only files sent whole are recorded) with exit status 0\n"
      "  remove     remove from the server what exists only there\n"
      "  download   download what exists only on the server\n"
      "  list       list the projects (title and file)\n"
      "  show       print the project's options, one KEY=VALUE a line\n"
      "  set        change one option, checked as the options dialog checks it; KEY is one of\n"
      "             path, include-subfolders, host, port, user, remote-path, passive,\n"
      "             firewall, encryption, timeout, connections, safe-upload,\n"
      "             safe-upload-size, protect-server-changes, set-permission, check-size,\n"
      "             ignore-hidden-files, save-log, log-file, truncate-log, max-log-size,\n"
      "             add-ignore, remove-ignore, trusted-certificate (a SHA-256 fingerprint,\n"
      "             or \"none\"); yes or no for the switches; host may be a URL as for new,\n"
      "             which sets the protocol too\n"
      "  new        create a project and print its file\n"
      "  passwd     replace the project's stored password (for SFTP also the passphrase of\n"
      "             a key in ~/.ssh)\n"
      "\n"
      "Options:\n"
      "  -h, --help            print this help and exit\n"
      "      --version         print the version and exit\n"
      "  -q, --quiet           print only errors (and what --list and --dry-run ask for)\n"
      "  -v, --verbose         also print the run's figures at the end: time, FTP commands\n"
      "                        and connections\n"
      "      --debug           print the FTP dialogue (SFTP: the requests) on stderr (the\n"
      "                        password masked)\n"
      "      --json            print one JSON object a line on stdout (see JSON below)\n"
      "  -l, --list            refresh and compare: print the names of the entries\n"
      "  -n, --dry-run         upload, remove, download: print each step the run would take\n"
      "                        (\"[dry run] \" and the line the run would print) and change\n"
      "                        nothing; it logs in and lists, but writes nothing on the server\n"
      "                        or here; questions are answered Yes unless --no-to-all is given\n"
      "      --max-delete N    remove: end with an error, before removing anything, when more\n"
      "                        than N files and folders would be removed\n"
      "  -f, --force           remove: run although the local folder is empty and the records\n"
      "                        say the site was uploaded (it would remove the whole site);\n"
      "                        upload, watch: replace files changed on the server since their\n"
      "                        upload (see protect-server-changes)\n"
      "  -p, --password-file FILE\n"
      "                        the password is the file's first line\n"
      "  -y, --yes-to-all      answer every question of remove/download with Yes\n"
      "      --no-to-all       answer every question of remove/download with No\n"
      "      --allow-plain     log in without TLS although the server offered it before\n"
      "                        (a project that once connected with TLS refuses that, as\n"
      "                        someone on the network may have removed it)\n"
      "      --trust-host-key SHA256:...\n"
      "                        new and the commands that connect (SFTP): trust the server's\n"
      "                        host key with this SHA-256 fingerprint, as ssh prints it, and add\n"
      "                        it to ~/.ssh/known_hosts; new logs in to check it first\n"
      "      --accept-host-key SHA256:...\n"
      "                        the commands that connect (SFTP): accept the server's host key\n"
      "                        with this fingerprint for this run only, known_hosts unchanged\n"
      "      --protocol PROTO  new: ftp (the default) or sftp (SSH file transfer, port 22)\n"
      "  -a, --active          new: active mode FTP (a new project uses passive mode)\n"
      "      --connections N   new: connections to the server at once, 1 to 10 (4)\n"
      "      --encryption MODE new: FTP over TLS: require, auto (when offered; the default),\n"
      "                        off, or implicit (TLS from the first byte, as on port 990)\n"
      "      --trust-certificate SHA256\n"
      "                        new: trust the server's certificate with this SHA-256\n"
      "                        fingerprint although it does not verify (self-signed, another\n"
      "                        host name)\n"
      "      --ignore MASK     new: add an entry to the ignore list (\"*.bak\" is there already)\n"
      "      --path DIR, --host HOST, --user USER, --port N, --remote-path P, --timeout SECONDS\n"
      "                        new: the local folder, the server, the login, its port (21,\n"
      "                        SFTP 22), the server folder, the connection timeout (60); HOST\n"
      "                        may be a URL, ftp://, ftps:// (TLS from the first byte, port\n"
      "                        990) or sftp://USER@HOST:PORT/FOLDER, which gives the protocol and\n"
      "                        what the options above do not (\"/~/www\" is www in the login\n"
      "                        folder); never a password\n"
      "  --                    ends the options: what follows is a command or an argument\n"
      "\n"
      "The password comes from --password-file, else from the ZANDREL_PASSWORD\n"
      "environment variable, and is then used instead of the stored one; else the stored\n"
      "password is used, else a prompt on the terminal asks for it. passwd takes the new\n"
      "password the same way. Stored passwords are kept in the desktop's keyring when one\n"
      "answers, else scrambled in the project file. No password goes on the command line.\n"
      "Remove and download ask about every server-only entry on the terminal:\n"
      "  y Yes, n No, a Yes to All, N or o No to All, c Cancel.\n"
      "Remove refuses to run when the local folder is empty but the records say the site was\n"
      "uploaded (an unmounted disk would otherwise empty the site), unless --force is given.\n"
      "With protect-server-changes on, upload and watch leave a file that was changed on the\n"
      "server since its upload as it is there, with an error line, unless --force is given.\n"
      "\n"
      "SFTP (--protocol sftp): the login tries the password (also as keyboard-interactive),\n"
      "then the keys of the SSH agent (SSH_AUTH_SOCK), then ~/.ssh/id_ed25519, id_ecdsa and\n"
      "id_rsa, the password being the passphrase of a key that has one. The server's host key\n"
      "must be in ~/.ssh/known_hosts or /etc/ssh/ssh_known_hosts; an unknown one is refused\n"
      "with its SHA-256 fingerprint until --trust-host-key or --accept-host-key names it. A\n"
      "host key other than the one known_hosts holds is refused, naming both fingerprints:\n"
      "it may not be your server. Passive mode, encryption and the FTP proxy are FTP's only.\n"
      "\n"
      "Progress: on a terminal a live line on stderr; elsewhere, or with TERM=dumb, a plain\n"
      "line on stderr every few seconds while files move.\n"
      "\n"
      "JSON (--json): every line on stdout is one object with an \"event\" member:\n"
      "  {\"event\":\"log\",\"level\":\"info\"|\"notice\"|\"error\",\"text\":T}  a log line; a "
      "step\n"
      "      also has \"action\" (upload, mkdir, remove, rmdir, download) and \"path\", and\n"
      "      \"dry_run\":true in a dry run\n"
      "  {\"event\":\"progress\",\"percent\":P,\"status\":T}  every few seconds while files move\n"
      "  {\"event\":\"entry\",\"state\":S,\"path\":NAME}  --list: S is outdated (refresh), or\n"
      "      missing, changed or server-only (compare)\n"
      "  {\"event\":\"summary\",\"command\":C,\"status\":N,\"result\":R,\"statistics\":T,\n"
      "      \"folders\":N,\"files\":N,\"dry_run\":B}  last; R is success, errors, usage or\n"
      "      aborted, as the exit status; folders and files count what was made, sent,\n"
      "      removed or downloaded\n"
      "  watch gives {\"event\":\"watch\",\"level\":\"info\"|\"error\",\"text\":T} for its own\n"
      "      lines, with \"result\",\"files\",\"folders\" after each upload; no summary\n"
      "  list gives {\"event\":\"project\",\"title\":T,\"file\":F}; show one object of the "
      "options.\n"
      "Errors before an operation starts go to stderr as text. Paths always use \"/\".\n"
      "\n"
      "Exit status: 0 success, 1 completed with errors (a certificate or host key refused\n"
      "too), 2 usage or project problem (also when another window or run has the project, or\n"
      "a login refused because the server stopped offering TLS), 3 aborted\n"
      "(Ctrl+C, SIGTERM or SIGHUP abort the operation; a second Ctrl+C ends at once).\n"
      "The records of the files sent reach the project file every few seconds during a run.\n";

int UsageError(const QString &message)
{
    CliTerminal::WriteErr(
        QStringLiteral("zandrel-cli: %1\nTry 'zandrel-cli --help'.\n").arg(message));
    return esUsage;
}

bool AllDigits(const QString &text, int maxLength)
{
    if (text.isEmpty() || text.size() > maxLength)
        return false;
    return std::all_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

QString Dashed(const QString &name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// Which options each command takes (by their long names).
QStringList OptionsOf(const QString &command)
{
    const QStringList output
        = {QStringLiteral("quiet"), QStringLiteral("verbose"), QStringLiteral("json")};
    const QStringList connects
        = output
          + QStringList{QStringLiteral("debug"), QStringLiteral("allow-plain"),
                        QStringLiteral("password-file"), QStringLiteral("trust-host-key"),
                        QStringLiteral("accept-host-key")};
    const QStringList asks
        = {QStringLiteral("yes-to-all"), QStringLiteral("no-to-all"), QStringLiteral("dry-run")};
    if (command == QLatin1String("refresh"))
        return output + QStringList{QStringLiteral("list")};
    if (command == QLatin1String("compare"))
        return connects + QStringList{QStringLiteral("list")};
    if (command == QLatin1String("upload"))
        return connects + QStringList{QStringLiteral("dry-run"), QStringLiteral("force")};
    if (command == QLatin1String("watch"))
        return connects + QStringList{QStringLiteral("force")};
    if (command == QLatin1String("remove"))
        return connects + asks + QStringList{QStringLiteral("max-delete"), QStringLiteral("force")};
    if (command == QLatin1String("download"))
        return connects + asks;
    if (command == QLatin1String("list") || command == QLatin1String("show"))
        return {QStringLiteral("json")};
    if (command == QLatin1String("passwd"))
        return {QStringLiteral("password-file")};
    if (command == QLatin1String("new"))
        return {QStringLiteral("password-file"), QStringLiteral("path"),
                QStringLiteral("host"),          QStringLiteral("user"),
                QStringLiteral("port"),          QStringLiteral("remote-path"),
                QStringLiteral("timeout"),       QStringLiteral("connections"),
                QStringLiteral("encryption"),    QStringLiteral("trust-certificate"),
                QStringLiteral("active"),        QStringLiteral("ignore"),
                QStringLiteral("protocol"),      QStringLiteral("trust-host-key")};
    return {}; // set
}

// An SSH host key's SHA-256 fingerprint as ssh prints it, "SHA256:" and 43 base64 digits (the
// prefix may be left out); empty when it is none.
QString HostKeyFingerprint(QString text)
{
    if (text.startsWith(QLatin1String("SHA256:"), Qt::CaseInsensitive))
        text.remove(0, 7);
    const auto decoded = QByteArray::fromBase64Encoding(
        text.toLatin1() + '=',
        QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (text.size() != 43 || !decoded || decoded.decoded.size() != 32)
        return {};
    return QStringLiteral("SHA256:") + text;
}

// How many arguments follow each command.
int ArgumentsOf(const QString &command)
{
    if (command == QLatin1String("list") || command == QLatin1String("new"))
        return 0;
    if (command == QLatin1String("set"))
        return 3;
    return 1;
}

} // namespace

QString TakeUrl(TNewProjectOptions &options)
{
    const QUrl url(*options.Host, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.password().isEmpty())
        return QStringLiteral("a password never goes on the command line; give --password-file "
                              "FILE");
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("ftp") && scheme != QLatin1String("ftps")
            && scheme != QLatin1String("sftp")))
        return QStringLiteral("the host must be a name or a URL: ftp://, ftps:// or "
                              "sftp://user@host:port/folder");
    const QString protocol = scheme == QLatin1String("sftp") ? scheme : QStringLiteral("ftp");
    if (options.Protocol.value_or(protocol) != protocol)
        return QStringLiteral("--protocol %1 contradicts the URL %2")
            .arg(*options.Protocol, *options.Host);
    options.Protocol = protocol;
    if (scheme == QLatin1String("ftps")) {
        if (options.Encryption.value_or(QStringLiteral("implicit")) != QLatin1String("implicit"))
            return QStringLiteral("an ftps:// URL is implicit TLS; --encryption %1 contradicts it")
                .arg(*options.Encryption);
        options.Encryption = QStringLiteral("implicit");
        if (url.port() < 0 && !options.Port)
            options.Port = QStringLiteral("990");
    }
    if (url.port() >= 0 && !options.Port)
        options.Port = QString::number(url.port());
    if (!url.userName().isEmpty() && !options.User)
        options.User = url.userName(QUrl::FullyDecoded);
    QString folder = url.path(QUrl::FullyDecoded);
    if (folder.startsWith(QLatin1String("/~")))
        folder.remove(0, folder.startsWith(QLatin1String("/~/")) ? 3 : 2);
    if (!url.path().isEmpty() && !options.RemotePath)
        options.RemotePath = folder;
    options.Host = url.host(QUrl::FullyDecoded);
    return {};
}

int ParseArguments(const QStringList &args, TArguments &parsed)
{
    // Help and version win over everything before "--", mistakes included.
    for (const QString &arg : args) {
        if (arg == QLatin1String("--"))
            break;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            CliTerminal::WriteOut(QString::fromLatin1(UsageText));
            return esSuccess;
        }
        if (arg == QLatin1String("--version")) {
            CliTerminal::WriteOut(QStringLiteral("zandrel-cli " ZANDREL_VERSION "\n"));
            return esSuccess;
        }
    }

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const auto flag
        = [&](const QStringList &names) { parser.addOption(QCommandLineOption(names)); };
    const auto valued = [&](const QStringList &names) {
        parser.addOption(QCommandLineOption(names, {}, QStringLiteral("value")));
    };
    flag({QStringLiteral("q"), QStringLiteral("quiet")});
    flag({QStringLiteral("v"), QStringLiteral("verbose")});
    flag({QStringLiteral("debug")});
    flag({QStringLiteral("json")});
    flag({QStringLiteral("l"), QStringLiteral("list")});
    flag({QStringLiteral("n"), QStringLiteral("dry-run")});
    flag({QStringLiteral("f"), QStringLiteral("force")});
    flag({QStringLiteral("y"), QStringLiteral("yes-to-all")});
    flag({QStringLiteral("no-to-all")});
    flag({QStringLiteral("allow-plain")});
    flag({QStringLiteral("a"), QStringLiteral("active")});
    valued({QStringLiteral("max-delete")});
    valued({QStringLiteral("p"), QStringLiteral("password-file")});
    for (const char *name :
         {"path", "host", "user", "port", "remote-path", "timeout", "connections", "encryption",
          "trust-certificate", "ignore", "protocol", "trust-host-key", "accept-host-key"})
        valued({QString::fromLatin1(name)});

    if (!parser.parse(QStringList{QStringLiteral("zandrel-cli")} + args)) {
        const QStringList unknown = parser.unknownOptionNames();
        return UsageError(unknown.isEmpty()
                              ? parser.errorText()
                              : QStringLiteral("unknown option '%1'").arg(Dashed(unknown.first())));
    }
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return UsageError(QStringLiteral("no command given"));
    parsed.Command = positional.takeFirst();
    static const QStringList commands
        = {QStringLiteral("refresh"), QStringLiteral("compare"),  QStringLiteral("upload"),
           QStringLiteral("remove"),  QStringLiteral("download"), QStringLiteral("list"),
           QStringLiteral("new"),     QStringLiteral("passwd"),   QStringLiteral("show"),
           QStringLiteral("set"),     QStringLiteral("watch")};
    if (!commands.contains(parsed.Command))
        return UsageError(QStringLiteral("unknown command '%1'").arg(parsed.Command));

    const QStringList allowed = OptionsOf(parsed.Command);
    for (const QString &name : parser.optionNames()) {
        // The long name of a short one.
        static const QHash<QString, QString> longNames
            = {{QStringLiteral("q"), QStringLiteral("quiet")},
               {QStringLiteral("v"), QStringLiteral("verbose")},
               {QStringLiteral("l"), QStringLiteral("list")},
               {QStringLiteral("n"), QStringLiteral("dry-run")},
               {QStringLiteral("f"), QStringLiteral("force")},
               {QStringLiteral("y"), QStringLiteral("yes-to-all")},
               {QStringLiteral("a"), QStringLiteral("active")},
               {QStringLiteral("p"), QStringLiteral("password-file")}};
        const QString option = longNames.value(name, name);
        if (!allowed.contains(option))
            return UsageError(QStringLiteral("option '%1' does not apply to '%2'")
                                  .arg(Dashed(name), parsed.Command));
    }

    const auto isSet = [&](const char *name) { return parser.isSet(QString::fromLatin1(name)); };
    const auto value = [&](const char *name) { return parser.value(QString::fromLatin1(name)); };
    parsed.Quiet = isSet("quiet");
    parsed.Verbose = isSet("verbose");
    parsed.Debug = isSet("debug");
    parsed.Json = isSet("json");
    parsed.List = isSet("list");
    parsed.DryRun = isSet("dry-run");
    parsed.Force = isSet("force");
    parsed.YesToAll = isSet("yes-to-all");
    parsed.NoToAll = isSet("no-to-all");
    parsed.AllowPlain = isSet("allow-plain");
    parsed.New.Active = isSet("active");
    if (isSet("password-file"))
        parsed.PasswordFile = value("password-file");
    if (parsed.YesToAll && parsed.NoToAll)
        return UsageError(QStringLiteral("--yes-to-all and --no-to-all exclude each other"));
    if (parsed.Quiet && parsed.Verbose)
        return UsageError(QStringLiteral("--quiet and --verbose exclude each other"));
    if (isSet("max-delete")) {
        const QString limit = value("max-delete");
        if (!AllDigits(limit, 18))
            return UsageError(QStringLiteral("--max-delete needs a number, not '%1'").arg(limit));
        parsed.MaxDelete = limit.toLongLong();
    }

    // What `new` types into the dialog.
    for (const auto &[name, target] :
         {std::pair{"path", &parsed.New.Path}, std::pair{"host", &parsed.New.Host},
          std::pair{"user", &parsed.New.User}, std::pair{"remote-path", &parsed.New.RemotePath}}) {
        if (isSet(name))
            *target = value(name);
    }
    if (isSet("port")) {
        // The port edit takes at most six digits.
        if (!AllDigits(value("port"), 6))
            return UsageError(QStringLiteral("--port needs a number, not '%1'").arg(value("port")));
        parsed.New.Port = value("port");
    }
    if (isSet("timeout")) {
        if (!AllDigits(value("timeout"), TimeoutField.Digits))
            return UsageError(QStringLiteral("--timeout needs a number of seconds, not '%1'")
                                  .arg(value("timeout")));
        parsed.New.Timeout = value("timeout");
    }
    if (isSet("connections")) {
        const QString text = value("connections");
        const int connections = AllDigits(text, 2) ? text.toInt() : 0;
        if (connections < 1 || connections > MaxConnections)
            return UsageError(QStringLiteral("--connections needs a number from 1 to %1, not '%2'")
                                  .arg(MaxConnections)
                                  .arg(text));
        parsed.New.Connections = connections;
    }
    if (isSet("encryption")) {
        const QString mode = value("encryption");
        if (mode != QLatin1String("require") && mode != QLatin1String("auto")
            && mode != QLatin1String("implicit") && mode != QLatin1String("off"))
            return UsageError(
                QStringLiteral("--encryption needs require, auto, implicit or off, not '%1'")
                    .arg(mode));
        parsed.New.Encryption = mode;
    }
    if (isSet("trust-certificate")) {
        const QString fingerprint = NormalizedFingerprint(value("trust-certificate"));
        if (fingerprint.isEmpty())
            return UsageError(QStringLiteral("--trust-certificate needs a SHA-256 fingerprint "
                                             "(64 hex digits), not '%1'")
                                  .arg(value("trust-certificate")));
        parsed.New.TrustCertificate = fingerprint;
    }
    parsed.New.Ignore = parser.values(QStringLiteral("ignore"));
    if (isSet("protocol")) {
        const QString protocol = value("protocol");
        if (protocol != QLatin1String("ftp") && protocol != QLatin1String("sftp"))
            return UsageError(
                QStringLiteral("--protocol needs ftp or sftp, not '%1'").arg(protocol));
        parsed.New.Protocol = protocol;
    }
    if (parsed.New.Host && parsed.New.Host->contains(QLatin1String("://"))) {
        const QString refusal = TakeUrl(parsed.New);
        if (!refusal.isEmpty())
            return UsageError(refusal);
    }
    for (const auto &[name, target] : {std::pair{"trust-host-key", &parsed.TrustHostKey},
                                       std::pair{"accept-host-key", &parsed.AcceptHostKey}}) {
        if (!isSet(name))
            continue;
        *target = HostKeyFingerprint(value(name));
        if (target->isEmpty())
            return UsageError(QStringLiteral("--%1 needs a host key's SHA-256 fingerprint "
                                             "(SHA256: and 43 base64 digits), not '%2'")
                                  .arg(QLatin1String(name), value(name)));
    }
    if (isSet("trust-host-key") && isSet("accept-host-key"))
        return UsageError(QStringLiteral("--trust-host-key and --accept-host-key exclude each "
                                         "other"));
    // What only one of the protocols has.
    const bool sftp = parsed.New.Protocol == QLatin1String("sftp");
    for (const char *name : {"active", "encryption", "trust-certificate"}) {
        if (sftp && isSet(name))
            return UsageError(QStringLiteral("--%1 is for FTP, not SFTP").arg(QLatin1String(name)));
    }
    if (parsed.Command == QLatin1String("new") && !sftp && isSet("trust-host-key"))
        return UsageError(QStringLiteral("--trust-host-key is for SFTP; give --protocol sftp"));

    const int wanted = ArgumentsOf(parsed.Command);
    if (positional.size() != wanted) {
        if (wanted == 0)
            return UsageError(QStringLiteral("unexpected argument '%1' for '%2'")
                                  .arg(positional.first(), parsed.Command));
        return UsageError(wanted == 1
                              ? QStringLiteral("'%1' needs one PROJECT").arg(parsed.Command)
                              : QStringLiteral("'%1' needs PROJECT KEY VALUE").arg(parsed.Command));
    }
    parsed.Project = positional.value(0);
    parsed.Key = positional.value(1);
    parsed.Value = positional.value(2);
    return -1;
}
