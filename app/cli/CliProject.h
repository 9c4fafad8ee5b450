#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class TProject;

// What `zandrel-cli new` types into the options dialog of a new project; an absent option
// leaves the control as the dialog loaded it.
struct TNewProjectOptions
{
    std::optional<QString> Path;
    std::optional<QString> Host;
    std::optional<QString> User;
    std::optional<QString> Password;
    std::optional<QString> RemotePath;
    std::optional<QString> Port;
    std::optional<QString> Timeout;
    std::optional<int> Connections;
    std::optional<QString> Encryption;       // "require", "auto", "implicit" or "off"
    std::optional<QString> TrustCertificate; // a SHA-256 fingerprint
    std::optional<QString> Protocol;         // "ftp" or "sftp"
    bool Active = false;
    QStringList Ignore;
};

// Fills a cleared project as a confirmed new project of the options dialog would be filled.
// Returns the dialog's refusal message, or an empty text when the project was filled.
QString FillNewProject(TProject &project, const TNewProjectOptions &options);

// Connects to the new SFTP project's server and makes sure its host key has `fingerprint`
// ("SHA256:..."): an unknown key with it is added to ~/.ssh/known_hosts. Returns why not, or an
// empty text.
QString TrustHostKey(TProject &project, const TNewProjectOptions &options,
                     const QString &fingerprint);

// A project file path, or a title in the projects folder (exact first, then ASCII case
// ignored). Empty with `error` set when nothing or more than one project fits.
QString FindProjectFile(const QString &nameOrPath, QString &error);

// The first line of a file (without its line end).
bool ReadFirstLine(const QString &fileName, QString &line, QString &error);
