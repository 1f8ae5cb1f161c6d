#pragma once

// Reading and writing whole files in tests.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

// Writes `contents` to `path`, creating missing folders; fails the calling test otherwise.
inline void writeFile(const QString &path, const QByteArray &contents)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(contents), contents.size());
}

// The file's bytes; "<unreadable>" when it cannot be read, so a missing file never passes for
// an empty one.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}
