#pragma once

// The shared table of bridge config.json cases in tests/data, also read by the bridge script's
// tests, so the program and the script cannot come to disagree on a file unnoticed.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

struct VintrelleBridgeConfigCase
{
    QJsonObject row;
    bool accepted = false;
    quint16 port = 0;
    QString token;

    // Puts the case at `path`: a file, a folder or nothing. False when that failed.
    bool create(const QString &path) const
    {
        QFile::remove(path);
        QDir(path).removeRecursively();
        QDir().mkpath(QFileInfo(path).path());
        const QString kind = row["file"].toString();
        if (kind == "missing") return true;
        if (kind == "folder") return QDir().mkpath(path);
        QByteArray bytes = row.contains("hex") ? QByteArray::fromHex(row["hex"].toString().toLatin1())
                                               : row["text"].toString().toUtf8();
        if (row.contains("nest")) {
            const int arrays = row["nest"].toInt() - 1;
            bytes = R"({"token": "t", "x": )" + QByteArray(arrays, '[') + QByteArray(arrays, ']') + "}";
        }
        if (row.contains("padTo")) bytes.append(QByteArray(row["padTo"].toInt() - bytes.size(), ' '));
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }
};
Q_DECLARE_METATYPE(VintrelleBridgeConfigCase)

// One row per case, named after it, in the column "configCase"; `refusedOnly` skips accepted files.
inline void VintrelleAddBridgeConfigCaseRows(bool refusedOnly = false)
{
    QTest::addColumn<VintrelleBridgeConfigCase>("configCase");
    QFile file(VINTRELLE_TEST_DATA "/bridge-config-cases.json");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonArray cases = QJsonDocument::fromJson(file.readAll())["cases"].toArray();
    QVERIFY(cases.size() > 40);
    for (const QJsonValue value : cases) {
        VintrelleBridgeConfigCase configCase;
        configCase.row = value.toObject();
        const QJsonArray expect = configCase.row["expect"].toArray();
        configCase.accepted = !expect.isEmpty();
        configCase.port = quint16(expect.at(0).toInt());
        configCase.token = expect.at(1).toString();
        if (!refusedOnly || !configCase.accepted)
            QTest::newRow(qPrintable(configCase.row["case"].toString())) << configCase;
    }
}
