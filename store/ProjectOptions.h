#pragma once

#include <QString>
#include <QStringList>

class TProject;

// What the project options dialog edits, read and written in one key order. Writing puts every
// key in the file, so a new project's file has this order whichever front end made it.
struct TProjectOptions
{
    QString Path;
    bool IncSubDirs = false;
    QString Host;
    QString User;
    QString Pass; // plain; in the keyring, or scrambled in the file
    QString RemotePath;
    QString Port;
    QString Timeout;
    bool Passive = false;
    bool Proxy = false;
    bool SaveLog = false;
    QString LogFile;
    bool CheckLogSize = false;
    int MaxLogSize = 0;
    bool SafeUpload = false;
    int SafeUploadSize = 0;
    bool SetPermission = false;
    bool CheckSize = false;
    bool IgnoreHiddenFiles = false;
    int Connections = 1;
    QString Encryption = QStringLiteral("off"); // "require", "auto", "implicit" or "off"
    QString Protocol = QStringLiteral("ftp");   // or "sftp"
    bool ProtectServerChanges = false;
    // Masks of the ignore entries ("Filters" children whose options hold "no"), in stored
    // order, without texts that differ only in case.
    QStringList Ignore;

    // Throws EStoreError when a stored size is not a number.
    void Load(TProject &project);
    // Rebuilds "Filters" from Ignore: entries the dialog does not show are dropped.
    void Save(TProject &project) const;
};

// Sessions an operation may open on the server. A project from before the option has no
// "Connections" and keeps to one; new projects start with NewProjectConnections.
constexpr int MaxConnections = 10;
constexpr int NewProjectConnections = 4;
int ProjectConnections(TProject &project); // 1 to MaxConnections

// FTP over TLS: "require", "auto" (when the server offers it), "implicit" (TLS from the first
// byte, as on port 990) or "off". A project from before
// the option has no "Encryption" and connects as it did; new projects start with "auto".
QString ProjectEncryption(TProject &project);
// "ftp" or "sftp". A project from before SFTP has no "Protocol" and is FTP; an FTP project's
// file keeps no such key, so it stays as it was.
QString ProjectProtocol(TProject &project);
// Whether an upload leaves alone a file changed on the server since its own upload, unless the
// user says otherwise ("ProtectServerChanges", written only when on).
bool ProjectProtectsServerChanges(const TProject &project);
// The port a blank "Port" means: 22 for "sftp", else 21.
quint16 DefaultPort(const QString &protocol);

// Whether the server has been seen to offer TLS ("TlsOffered", written at the first TLS
// connection) or a certificate is trusted for it: "auto" then refuses a server without TLS
// rather than sending the password in clear. A file without either connects as before.
bool ProjectExpectsTls(TProject &project);
void SetProjectTlsOffered(TProject &project);

enum class TOptionsField { None, Path, Host, Port, User };

// A port as typed or stored: blank (`blank`, the protocol's default) or a decimal number from 1
// to 65535, blanks around it allowed. False for anything else ("abc", "99999", "1e10", "-21").
bool ParsePort(const QString &text, quint16 &port, quint16 blank = 21);
extern const char *const PortRefusal; // "Port must be a number from 1 to 65535"
// The refusal of a stored port: names the key and the value.
QString StoredPortRefusal(const QString &value);

// Why an operation must not start with this project, before anything is scanned or connected:
// a blank local folder (which would be taken as "/"), one that is not a folder, or a port that
// is not a number (checked only for operations that connect). Empty when there is nothing to
// refuse.
QString ProjectRefusal(const TProject &project, bool connects);

// The OK check: trims Path, Host and User, then gives the first refusal and the field it
// names, or TOptionsField::None with an empty message.
TOptionsField CheckProjectOptions(TProjectOptions &options, QString &message);

// The dialog's number edits: how many digits each takes and the least value it keeps.
struct TNumberField
{
    int Digits;
    int Min;
};
constexpr TNumberField TimeoutField{5, 1};
constexpr TNumberField SafeUploadSizeField{6, 0}; // KB
constexpr TNumberField MaxLogSizeField{6, 1};     // KB
// Digits only, at most field.Digits of them, at least field.Min: false for anything else.
bool ParseNumberField(const QString &text, TNumberField field, int &value);

// The options by the names the command line shows and sets them under, in the dialog's order;
// "ignore" lists one mask a line and is changed by "add-ignore" and "remove-ignore". The
// password and the trusted certificate are not among them: they are no TProjectOptions field.
QStringList ProjectOptionNames();
// Check boxes give "yes" or "no".
QString ProjectOptionValue(const TProjectOptions &options, const QString &name);
// Changes one option as its control would, then checks as the dialog's OK does. Returns the
// refusal (naming the option and the value), empty when the options may be saved.
QString SetProjectOption(TProjectOptions &options, const QString &name, const QString &value);

// Index of the mask equal to `mask` with ASCII case ignored; -1 when none.
int IndexOfMask(const QStringList &masks, const QString &mask);
