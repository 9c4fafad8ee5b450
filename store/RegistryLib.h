#pragma once

#include <QSettings>
#include <QString>

#include <memory>

// Roots of the registry, in the order the streamed property numbers them. Only the
// current user's keys exist here: they live in the application's QSettings file.
enum TRegistryRootKey { hkeyCurrentUser, hkeyLocalMachine, hkeyClassesRoot };

// Where a registry key lives: QSettings(Organization, Application), group Group ("a/b").
struct TRegistryLocation
{
    QString Organization;
    QString Application;
    QString Group;
};

// The full key path OpenKey opens: a subpath beginning with "\" replaces `path`; otherwise
// `path`, one "\" when `path` lacks it and `subPath` is not empty, then `subPath`.
QString JoinRegistryPath(const QString &path, const QString &subPath);

// Maps "\Software\<org>\<app>[\rest]" under the current user to its settings file and group
// ("rest" with "\" as "/"). Throws EStoreError for any other root or path shape.
TRegistryLocation RegistryLocationOf(TRegistryRootKey root, const QString &fullPath);

// An open key: reads and writes the values of one settings group, synced when destroyed.
// The settings file keeps no types, so a value reads as an integer when its text is one.
class TRegistryKey
{
public:
    explicit TRegistryKey(const TRegistryLocation &location);
    ~TRegistryKey();
    TRegistryKey(const TRegistryKey &) = delete;
    TRegistryKey &operator=(const TRegistryKey &) = delete;

    QString Group() const { return m_settings.group(); }
    QString FileName() const { return m_settings.fileName(); }
    bool IsWritable() const { return m_settings.isWritable(); }

    bool ValueExists(const QString &name) const;
    // Throws EStoreError "Failed to get data for '%1'" when absent and
    // "Invalid data type for '%1'" when the value is not an integer.
    int ReadInteger(const QString &name) const;
    bool ReadBool(const QString &name) const;      // an integer, true when not 0
    QString ReadString(const QString &name) const; // empty when absent
    void WriteInteger(const QString &name, int value);
    void WriteBool(const QString &name, bool value); // as the integer 1 or 0
    void WriteString(const QString &name, const QString &value);
    // Writes the settings file now and reads it back. Throws EStoreError "Cannot write file
    // %1: <cause>" when it was not written whole; the previous file is then put back.
    void Commit();

private:
    QSettings m_settings;
};

// A registry key named by root and path; opens keys below it.
class TRegistryAddress
{
public:
    TRegistryRootKey Root = hkeyCurrentUser;
    QString Path;

    // The key at JoinRegistryPath(Path, subPath). Throws EStoreError when the path does not
    // map to a settings file or that file cannot be written.
    std::unique_ptr<TRegistryKey> OpenKey(const QString &subPath) const;
};
