#pragma once

#include "engine/PublishFilter.h"
#include "engine/PublishVersions.h"
#include "store/XMLStore.h"

#include <QStringList>

#include <functional>
#include <optional>

class TPasswordKeyring;

// The project document: the settings tree, then "<!-- versions -->" and the version records.
class TProject : public TXMLStore
{
public:
    TProject();
    ~TProject() override;

    QString FileName;
    QString Password;
    bool PasswordKnown = false;
    bool Opened = false;
    const QString VersionsMarker = QStringLiteral("<!-- versions -->");
    TPublishVersions Versions;
    TFilter Filter;

    void Clear() override;
    void InitDefaults();
    void LoadFromBytes(const QByteArray &data) override;
    QByteArray SaveToBytes() const override;
    void Load(const QString &fileName);
    void Save(bool onlyIfExists);
    // The companion file beside the project file: the content of what was uploaded, which
    // the project's own format has no room for. Never required; rebuilt by the next upload.
    QString ContentFileName() const;

    QString GetLocalPath();  // trimmed "Path" ending in "/"
    QString GetRemotePath(); // trimmed "RemotePath" ending in "/" when not empty
    QString GetUrl();
    void SetPassword(const QString &password);
    QString GetPassword() const { return Password; }

    // The remembered password: "Pass" while it is held in the file, else the keyring entry
    // named by "PassKeyring" (read once, empty when it cannot be read; the reason goes to
    // Notice).
    QString StoredPassword();
    // Held in "Pass" until Save moves it into the keyring; an empty one also drops the
    // keyring entry on Save.
    void SetStoredPassword(const QString &password);
    // The file names a keyring entry and holds no password itself.
    bool PasswordInKeyring();

    // Settles Password for this run: the stored password, else the third command-line
    // argument, else the front end's prompt. False only when the prompt was cancelled.
    bool AskPassword();
    // The prompt used by AskPassword; the front end installs it. Returns false on cancel.
    static std::function<bool(TProject &project, QString &password)> PasswordPrompt;
    // Command-line arguments after the program name, as the password rule reads them.
    static QStringList CommandLineArguments;
    // The desktop's keyring, installed by the front end; none means passwords stay in "Pass".
    static TPasswordKeyring *Keyring;
    // Lines for the front end's log: a password moved into the keyring, a keyring that failed,
    // and once per run where a password written without a keyring is kept.
    static std::function<void(const QString &line)> Notice;

private:
    // Moves a password held in "Pass" into the keyring, or drops a forgotten entry.
    void SettleStoredPassword();
    QString KeyringId() const;
    std::optional<QString> m_keyringPassword; // the entry's text once read or written
    bool m_passwordSet = false;               // SetStoredPassword changed it in this run
    bool m_forgetKeyringEntry = false;
};

QString ProjectsFolder(); // ends in "/"
// The companion file of a project file (TProject::ContentFileName): it goes where the project
// goes, and with it.
QString ContentFileOf(const QString &projectFile);
// The uploads cut off part way that the next run goes on with (TResumeRecords), beside it too.
QString ResumeFileOf(const QString &projectFile);
void ListProjects(QStringList &list);
// The project files of the projects folder, sorted by title with case ignored.
QStringList SortedProjectFiles();
QString ProjectTitle(const QString &fileName);
QString GetDefaultProject();
void SetDefaultProject(const QString &fileName);
