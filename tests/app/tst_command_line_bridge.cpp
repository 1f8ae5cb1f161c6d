#include "VintrelleBridgeSimulator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// Drives the real `vintrelle` binary against the real bridge script under the simulator.
class TestCommandLineBridge : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<VintrelleBridgeSimulator> m_simulator;

    QString libraryPath() const { return m_home.filePath("data/Vintrelle/native-library.json"); }

    struct Outcome
    {
        int status = -1;
        QList<QJsonObject> lines;
    };

    // `bridgeConfig` empty: no VINTRELLE_BRIDGE_CONFIG, and no config.json anywhere.
    Outcome vintrelle(const QStringList &arguments, const QString &bridgeConfig, const QByteArray &input = {})
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", m_home.filePath("home"));
        environment.insert("XDG_DATA_HOME", m_home.filePath("data"));
        environment.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
        // A private runtime folder of its own, so no running Vintrelle of the developer answers.
        QDir().mkpath(m_home.filePath("runtime"));
        QFile::setPermissions(m_home.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert("XDG_RUNTIME_DIR", m_home.filePath("runtime"));
        environment.remove("WINEPREFIX");
        environment.remove("VINTRELLE_BRIDGE_CONFIG");
        if (!bridgeConfig.isEmpty()) environment.insert("VINTRELLE_BRIDGE_CONFIG", bridgeConfig);
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(VINTRELLE_BINARY), arguments);
        process.write(input);
        process.closeWriteChannel();
        Outcome outcome;
        if (!process.waitForFinished(30000)) return outcome;
        outcome.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        for (const QByteArray &line : process.readAllStandardOutput().split('\n'))
            if (!line.isEmpty()) outcome.lines << QJsonDocument::fromJson(line).object();
        return outcome;
    }

    QJsonObject library() const
    {
        QFile file(libraryPath());
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    }

    static QStringList names(const QJsonObject &line)
    {
        QStringList found;
        for (const QJsonValue item : line["result"]["items"].toArray())
            found << item["name"].toString();
        return found;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        QVERIFY(QDir().mkpath(m_home.filePath("home")));
        QVERIFY(QDir().mkpath(m_home.filePath("simulator")));
        m_simulator = std::make_unique<VintrelleBridgeSimulator>(m_home.filePath("simulator"));
        QVERIFY2(m_simulator->ready(), "the bridge simulator did not start");
    }

    void init() { QDir(m_home.filePath("data")).removeRecursively(); }

    void cleanupTestCase() { m_simulator.reset(); }

    void searchListsItems()
    {
        const Outcome outcome = vintrelle({"--command", R"({"op":"search","query":"reverb"})"}, m_simulator->configPath());
        QCOMPARE(outcome.status, 0);
        QCOMPARE(outcome.lines.size(), 1);
        const QStringList found = names(outcome.lines[0]);
        QVERIFY2(found.contains("Hybrid Reverb") && found.contains("Reverb"), qPrintable(found.join(", ")));
        for (const QJsonValue item : outcome.lines[0].value("result")["items"].toArray())
            QVERIFY(item["uri"].toString().startsWith("query:"));
    }

    void addFromSearchThenLoad()
    {
        const QString config = m_simulator->configPath();
        Outcome outcome = vintrelle({"--command", R"({"op":"search","query":"hybrid reverb"})"}, config);
        QCOMPARE(outcome.status, 0);
        const QJsonObject item = outcome.lines.value(0).value("result")["items"][0].toObject();
        QCOMPARE(item["name"], QJsonValue("Hybrid Reverb"));

        // One run: check the connection, file the result, refuse a blank search.
        const QJsonObject add{{"op", "addPlugin"}, {"categoryID", "starter-4"}, {"entry", item}};
        outcome = vintrelle({"--commands", "-"}, config,
                            R"({"op":"connection"})" "\n" + QJsonDocument(add).toJson(QJsonDocument::Compact) +
                                "\n" R"({"op":"search","query":"  "})" "\n");
        QCOMPARE(outcome.status, 1);
        QCOMPARE(outcome.lines.size(), 3);
        QCOMPARE(outcome.lines[0], QJsonObject({{"result", QJsonObject{{"connected", true}}}}));
        QVERIFY(outcome.lines[1].contains("result"));
        QCOMPARE(outcome.lines[2], QJsonObject({{"error", "Enter a plug-in name."}}));

        // The new entry's id is only known once it is saved.
        QString id;
        for (const QJsonValue category : library()["categories"].toArray())
            for (const QJsonValue entry : category["entries"].toArray())
                if (entry["uri"] == item["uri"]) id = entry["id"].toString();
        QVERIFY(!id.isEmpty());

        const qsizetype before = m_simulator->loadedURIs().size();
        const QJsonObject load{{"op", "load"}, {"id", id}};
        outcome = vintrelle({"--commands", "-"}, config,
                            QJsonDocument(load).toJson(QJsonDocument::Compact) + "\n" R"({"op":"load","id":"gone"})" "\n");
        QCOMPARE(outcome.status, 1);
        QCOMPARE(outcome.lines.size(), 2);
        QCOMPARE(outcome.lines[0].value("result")["loaded"], QJsonValue(true));
        QCOMPARE(outcome.lines[1], QJsonObject({{"error", "Plug-in is no longer available."}}));
        QCOMPARE(m_simulator->loadedURIs().mid(before), QStringList{item["uri"].toString()});
    }

    void bridgeSettingsComeFromTheLibraryWithoutConfigFile_data()
    {
        QTest::addColumn<QString>("bridgeUrl"); // %1: the simulator's port
        QTest::addColumn<bool>("rightToken");
        QTest::addColumn<QString>("error");    // empty: the search succeeds
        QTest::newRow("library's address and token") << "http://127.0.0.1:%1" << true << QString();
        QTest::newRow("wrong token") << "http://127.0.0.1:%1" << false
                                     << "The connection key does not match. Reinstall the connection in Settings, then restart Ableton.";
        QTest::newRow("not local") << "http://192.0.2.7:%1" << true
                                   << "The Ableton connection must use a local address. Reinstall the connection in Settings.";
    }

    void bridgeSettingsComeFromTheLibraryWithoutConfigFile()
    {
        QFETCH(QString, bridgeUrl);
        QFETCH(bool, rightToken);
        QFETCH(QString, error);
        QVERIFY(QDir().mkpath(QFileInfo(libraryPath()).path()));
        QFile file(libraryPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(QJsonObject{{"nativeVersion", 1},
                                             {"categories", QJsonArray()},
                                             {"bridgeUrl", QString(bridgeUrl).replace("%1", QString::number(m_simulator->port()))},
                                             {"token", rightToken ? m_simulator->token() : "stale"}})
                       .toJson());
        file.close();
        const Outcome outcome = vintrelle({"--command", R"({"op":"search","query":"reverb"})"}, {});
        QCOMPARE(outcome.lines.size(), 1);
        if (error.isEmpty()) {
            QCOMPARE(outcome.status, 0);
            QVERIFY(names(outcome.lines[0]).contains("Hybrid Reverb"));
        } else {
            QCOMPARE(outcome.status, 1);
            QCOMPARE(outcome.lines[0], QJsonObject({{"error", error}}));
        }
    }

    void installWithoutUserLibraryIsCancelled()
    {
        const Outcome outcome = vintrelle({"--command", R"({"op":"install"})"}, m_simulator->configPath());
        QCOMPARE(outcome.status, 1);
        QCOMPARE(outcome.lines, QList<QJsonObject>({{{"error", "Installation cancelled. Your files were not changed."}}}));
        QCOMPARE(QDir(m_home.filePath("home")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
    }
};

QTEST_GUILESS_MAIN(TestCommandLineBridge)
#include "tst_command_line_bridge.moc"
