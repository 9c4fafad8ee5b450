#pragma once

#include <QByteArray>
#include <QString>

// Small file helpers shared by the tests.
QByteArray ReadWholeFile(const QString &path);
void WriteWholeFile(const QString &path, const QByteArray &data); // creates missing folders
QString TestDataPath(const QString &name); // tests/data/<name>
