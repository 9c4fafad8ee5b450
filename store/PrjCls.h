#pragma once

#include "engine/PublishFilter.h"
#include "engine/PublishVersions.h"
#include "store/XMLStore.h"

#include <QStringList>

#include <functional>

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

    QString GetLocalPath();  // trimmed "Path" ending in "/"
    QString GetRemotePath(); // trimmed "RemotePath" ending in "/" when not empty
    QString GetUrl();
    void SetPassword(const QString &password);
    QString GetPassword() const { return Password; }

    // Settles Password for this run: stored "Pass", else the third command-line argument,
    // else the front end's prompt. False only when the prompt was cancelled.
    bool AskPassword();
    // The prompt used by AskPassword; the front end installs it. Returns false on cancel.
    static std::function<bool(QString &password)> PasswordPrompt;
    // Command-line arguments after the program name, as the password rule reads them.
    static QStringList CommandLineArguments;
};

QString ProjectsFolder(); // ends in "/"
void ListProjects(QStringList &list);
// The project files of the projects folder, sorted by title with case ignored.
QStringList SortedProjectFiles();
QString ProjectTitle(const QString &fileName);
QString GetDefaultProject();
void SetDefaultProject(const QString &fileName);
