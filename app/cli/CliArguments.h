#pragma once

#include "app/cli/CliProject.h"

#include <QString>
#include <QStringList>

#include <optional>

// The command line as parsed: the command, its PROJECT (and for "set" KEY and VALUE), and the
// options given.
struct TArguments
{
    QString Command;
    QString Project;
    QString Key, Value; // set
    bool List = false;
    bool YesToAll = false;
    bool NoToAll = false;
    bool AllowPlain = false;
    bool DryRun = false;
    bool Force = false;
    bool Quiet = false;
    bool Verbose = false;
    bool Debug = false;
    bool Json = false;
    qint64 MaxDelete = -1;
    std::optional<QString> PasswordFile;
    QString TrustHostKey;  // "SHA256:...": into known_hosts when the server shows it
    QString AcceptHostKey; // "SHA256:...": accepted for this run only
    TNewProjectOptions New;
};

// A host given as a URL, "sftp://user@host:port/folder", ftp:// or ftps:// (TLS from the first
// byte, port 990): sets Host and Protocol, and what else it names where `options` holds nothing
// yet. A folder is read as the project shows its URL, "/~folder" below the login folder.
// Returns the refusal, if any.
QString TakeUrl(TNewProjectOptions &options);

// Returns -1 when the arguments (without the program name) are complete, else the exit status
// to end with after printing the help, the version or the usage error.
int ParseArguments(const QStringList &args, TArguments &parsed);
