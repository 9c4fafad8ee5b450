#include "store/RegistryLib.h"

#include "store/StringLib.h"
#include "store/XMLStore.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <unistd.h>

QString JoinRegistryPath(const QString &path, const QString &subPath)
{
    if (subPath.startsWith(u'\\'))
        return subPath;
    if (!path.endsWith(u'\\') && !subPath.isEmpty())
        return path + u'\\' + subPath;
    return path + subPath;
}

TRegistryLocation RegistryLocationOf(TRegistryRootKey root, const QString &fullPath)
{
    if (root != hkeyCurrentUser)
        throw EStoreError(QStringLiteral("Registry root %1 is not available: only the current "
                                         "user's keys are kept, in the application settings")
                              .arg(int(root)));
    // A path without the leading "\" is relative to the root, which is the same key.
    const QStringList parts = fullPath.split(u'\\', Qt::SkipEmptyParts);
    if (parts.size() < 3 || !SameTextAscii(parts[0], QStringLiteral("Software")))
        throw EStoreError(
            QStringLiteral("Registry path \"%1\" is not of the form \\Software\\<organization>"
                           "\\<application>[\\<key>...]")
                .arg(fullPath));
    for (const QString &part : parts) {
        // A "/" would turn into a settings group of its own.
        if (part.contains(u'/'))
            throw EStoreError(
                QStringLiteral("Registry key name \"%1\" in \"%2\" contains \"/\", which the "
                               "application settings cannot keep")
                    .arg(part, fullPath));
    }
    return {parts[1], parts[2], parts.mid(3).join(u'/')};
}

TRegistryKey::TRegistryKey(const TRegistryLocation &location)
    : m_settings(location.Organization, location.Application)
{
    if (!location.Group.isEmpty())
        m_settings.beginGroup(location.Group);
}

TRegistryKey::~TRegistryKey()
{
    // A failed write cannot be reported from here; the next open finds the file read-only.
    m_settings.sync();
}

namespace {

// Every key of `expected` with the same text in `actual`.
bool SameValues(QSettings &expected, QSettings &actual)
{
    const QStringList keys = expected.allKeys();
    if (keys.size() != actual.allKeys().size())
        return false;
    for (const QString &key : keys) {
        if (expected.value(key).toString() != actual.value(key).toString())
            return false;
    }
    return true;
}

} // namespace

void TRegistryKey::Commit()
{
    // QSettings writes through QSaveFile, which in Qt 6.4 renames its file over the old one even
    // when its last flush failed (a full disk). A second name for the old file keeps it (and
    // costs no space) until what reached the disk has been read back.
    const QString fileName = m_settings.fileName();
    const QByteArray path = QFile::encodeName(fileName);
    const QByteArray keep = path + ".keep";
    ::unlink(keep.constData());
    const bool existed = QFile::exists(fileName);
    const bool kept = existed && ::link(path.constData(), keep.constData()) == 0;
    m_settings.sync();
    QString cause;
    if (m_settings.status() != QSettings::NoError) {
        cause = QStringLiteral("the settings could not be written");
    } else {
        // Read through a copy: another QSettings on the same file answers from a shared cache.
        QFile written(fileName);
        QTemporaryDir folder;
        QFile check(folder.path() + QStringLiteral("/check.conf"));
        if (!written.open(QIODevice::ReadOnly) || !check.open(QIODevice::WriteOnly)
            || check.write(written.readAll()) < 0 || !check.flush()) {
            cause = QStringLiteral("the written settings could not be read back");
        } else {
            check.close();
            QSettings expected(m_settings.organizationName(), m_settings.applicationName());
            QSettings actual(check.fileName(), QSettings::IniFormat);
            if (!SameValues(expected, actual))
                cause = QStringLiteral("the file was not written completely");
        }
    }
    if (cause.isEmpty()) {
        ::unlink(keep.constData());
        return;
    }
    if (kept) {
        // When the file was never replaced both names are one file and rename does nothing.
        ::rename(keep.constData(), path.constData());
        ::unlink(keep.constData());
    } else if (!existed) {
        ::unlink(path.constData()); // nothing to go back to; a part of the file is worse
    }
    throw EStoreError(QStringLiteral("Cannot write file %1: %2").arg(fileName, cause));
}

bool TRegistryKey::ValueExists(const QString &name) const
{
    return m_settings.contains(name);
}

int TRegistryKey::ReadInteger(const QString &name) const
{
    const QVariant value = m_settings.value(name);
    if (!value.isValid())
        throw EStoreError(QStringLiteral("Failed to get data for '%1'").arg(name));
    bool ok = false;
    int number = 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::Bool:
        number = value.toInt(&ok);
        break;
    default:
        number = value.toString().toInt(&ok, 10);
        break;
    }
    if (!ok)
        throw EStoreError(QStringLiteral("Invalid data type for '%1'").arg(name));
    return number;
}

bool TRegistryKey::ReadBool(const QString &name) const
{
    return ReadInteger(name) != 0;
}

QString TRegistryKey::ReadString(const QString &name) const
{
    return m_settings.value(name).toString();
}

void TRegistryKey::WriteInteger(const QString &name, int value)
{
    m_settings.setValue(name, value);
}

void TRegistryKey::WriteBool(const QString &name, bool value)
{
    m_settings.setValue(name, value ? 1 : 0);
}

void TRegistryKey::WriteString(const QString &name, const QString &value)
{
    m_settings.setValue(name, value);
}

std::unique_ptr<TRegistryKey> TRegistryAddress::OpenKey(const QString &subPath) const
{
    const QString fullPath = JoinRegistryPath(Path, subPath);
    auto key = std::make_unique<TRegistryKey>(RegistryLocationOf(Root, fullPath));
    if (!key->IsWritable())
        throw EStoreError(QStringLiteral("Failed to create key %1 (%2 cannot be written)")
                              .arg(fullPath, key->FileName()));
    return key;
}
