#include "VintrelleTestSupport.h"
#include "VintrelleBridgeConfiguration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class BridgeConfigurationTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void candidatesInOrder();
    void firstValidCandidateWins_data();
    void firstValidCandidateWins();
    void invalidFileLetsTheNextWin_data();
    void invalidFileLetsTheNextWin();
    void validFile_data();
    void validFile();

private:
    QString userLibraryFile() const { return m_root.path() + "/User Library/Remote Scripts/VintrelleBridge/config.json"; }
    QString environmentFile() const { return m_root.path() + "/env/config.json"; }
    QString standardFile() const { return m_root.path() + "/home/Music/Ableton/User Library/Remote Scripts/VintrelleBridge/config.json"; }

    QTemporaryDir m_root;
};

namespace {

void setUserLibrary(const QString &folder)
{
    QSettings settings("Vintrelle", "Vintrelle");
    settings.setValue("VintrelleUserLibrary", folder);
}

QByteArray valid(int port, const char *token)
{
    return QByteArray(R"({"port": )") + QByteArray::number(port) + R"(, "token": ")" + token + R"("})";
}

} // namespace

void BridgeConfigurationTest::initTestCase()
{
    QVERIFY(m_root.isValid());
    // Before the first QSettings: it resolves its folder once per process.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_root.path() + "/config"));
    qputenv("HOME", QFile::encodeName(m_root.path() + "/home"));
}

void BridgeConfigurationTest::init()
{
    QSettings("Vintrelle", "Vintrelle").remove("VintrelleUserLibrary");
    qunsetenv("VINTRELLE_BRIDGE_CONFIG");
    for (const QString &path : {userLibraryFile(), environmentFile(), standardFile()})
        QFile::remove(path);
}

void BridgeConfigurationTest::candidatesInOrder()
{
    const QString standard = standardFile();
    QCOMPARE(VintrelleBridgeConfigurationCandidates(), QStringList{standard});

    // An empty default or variable adds no candidate.
    setUserLibrary("");
    qputenv("VINTRELLE_BRIDGE_CONFIG", "");
    QCOMPARE(VintrelleBridgeConfigurationCandidates(), QStringList{standard});

    setUserLibrary(m_root.path() + "/User Library/");
    qputenv("VINTRELLE_BRIDGE_CONFIG", QFile::encodeName(environmentFile()));
    const QStringList all{userLibraryFile(), environmentFile(), standard};
    QCOMPARE(VintrelleBridgeConfigurationCandidates(), all);
    QCOMPARE(VintrelleBridgeConfigurationFallbackPaths(), all.mid(1));
    QCOMPARE(VintrelleUserLibraryBridgeConfigurationPath(), std::optional<QString>(userLibraryFile()));
}

void BridgeConfigurationTest::firstValidCandidateWins_data()
{
    QTest::addColumn<QByteArray>("userLibrary");
    QTest::addColumn<QByteArray>("environment");
    QTest::addColumn<QByteArray>("standard");
    QTest::addColumn<QString>("expectedToken"); // empty: no configuration

    const QByteArray none; // file not written
    const QByteArray broken = R"({"port": 0, "token": "broken"})";
    QTest::newRow("all valid: user default") << valid(1001, "user") << valid(1002, "env") << valid(1003, "std") << "user";
    QTest::newRow("user default invalid") << broken << valid(1002, "env") << valid(1003, "std") << "env";
    QTest::newRow("user default missing") << none << valid(1002, "env") << valid(1003, "std") << "env";
    QTest::newRow("only standard valid") << broken << broken << valid(1003, "std") << "std";
    QTest::newRow("only standard present") << none << none << valid(1003, "std") << "std";
    QTest::newRow("none valid") << broken << broken << broken << "";
    QTest::newRow("no files") << none << none << none << "";
}

void BridgeConfigurationTest::firstValidCandidateWins()
{
    QFETCH(QByteArray, userLibrary);
    QFETCH(QByteArray, environment);
    QFETCH(QByteArray, standard);
    QFETCH(QString, expectedToken);

    setUserLibrary(m_root.path() + "/User Library");
    qputenv("VINTRELLE_BRIDGE_CONFIG", QFile::encodeName(environmentFile()));
    const QList<std::pair<QString, QByteArray>> files{
        {userLibraryFile(), userLibrary}, {environmentFile(), environment}, {standardFile(), standard}};
    for (const auto &[path, contents] : files) {
        if (!contents.isNull())
            writeFile(path, contents);
    }

    const auto found = VintrelleFindBridgeConfiguration();
    if (expectedToken.isEmpty()) {
        QVERIFY(!found);
        return;
    }
    QVERIFY(found);
    QCOMPARE(found->token, expectedToken);
    const int winner = expectedToken == "user" ? 0 : expectedToken == "env" ? 1 : 2;
    QCOMPARE(found->path, files[winner].first);
    QCOMPARE(found->port, quint16(1001 + winner));
    QCOMPARE(found->bridgeURL, QString("http://127.0.0.1:%1").arg(1001 + winner));
}

void BridgeConfigurationTest::invalidFileLetsTheNextWin_data()
{
    QTest::addColumn<QByteArray>("contents"); // null: no file; "<dir>": a folder in its place

    QTest::newRow("port 0") << QByteArray(R"({"port": 0, "token": "t"})");
    QTest::newRow("port 65536") << QByteArray(R"({"port": 65536, "token": "t"})");
    QTest::newRow("port -1") << QByteArray(R"({"port": -1, "token": "t"})");
    QTest::newRow("port as string") << QByteArray(R"({"port": "45873", "token": "t"})");
    QTest::newRow("fractional port") << QByteArray(R"({"port": 45873.5, "token": "t"})");
    QTest::newRow("fraction below 1") << QByteArray(R"({"port": 0.5, "token": "t"})");
    QTest::newRow("huge port") << QByteArray(R"({"port": 1e300, "token": "t"})");
    QTest::newRow("port true") << QByteArray(R"({"port": true, "token": "t"})");
    QTest::newRow("port null") << QByteArray(R"({"port": null, "token": "t"})");
    QTest::newRow("empty token") << QByteArray(R"({"port": 45873, "token": ""})");
    QTest::newRow("numeric token") << QByteArray(R"({"port": 45873, "token": 12})");
    QTest::newRow("token list") << QByteArray(R"({"port": 45873, "token": ["t"]})");
    QTest::newRow("no token") << QByteArray(R"({"port": 45873})");
    QTest::newRow("not JSON") << QByteArray("port=45873\ntoken=t\n");
    QTest::newRow("trailing garbage") << QByteArray(R"({"token": "t"} x)");
    QTest::newRow("empty file") << QByteArray("");
    QTest::newRow("array") << QByteArray(R"([{"token": "t"}])");
    QTest::newRow("missing file") << QByteArray();
    QTest::newRow("folder") << QByteArray("<dir>");
}

void BridgeConfigurationTest::invalidFileLetsTheNextWin()
{
    QFETCH(QByteArray, contents);

    const QString bad = m_root.path() + "/" + QTest::currentDataTag() + "/config.json";
    if (contents == "<dir>")
        QVERIFY(QDir().mkpath(bad));
    else if (!contents.isNull())
        writeFile(bad, contents);
    const QString good = m_root.path() + "/good.json";
    writeFile(good, valid(50000, "second"));

    QVERIFY(!VintrelleReadBridgeConfiguration(bad));
    const auto found = VintrelleFindBridgeConfiguration({bad, good});
    QVERIFY(found);
    QCOMPARE(found->token, QString("second"));
    QCOMPARE(found->path, good);
    QCOMPARE(found->bridgeURL, QString("http://127.0.0.1:50000"));
}

void BridgeConfigurationTest::validFile_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("token");

    QTest::newRow("no port") << QByteArray(R"({"token": "abc"})") << 45873 << "abc";
    QTest::newRow("lowest port") << QByteArray(R"({"port": 1, "token": "abc"})") << 1 << "abc";
    QTest::newRow("highest port") << QByteArray(R"({"port": 65535, "token": "abc"})") << 65535 << "abc";
    QTest::newRow("integral float") << QByteArray(R"({"port": 4.5e4, "token": "abc"})") << 45000 << "abc";
    QTest::newRow("other keys ignored") << QByteArray(R"({"token": "k", "host": "10.0.0.1", "port": 9})") << 9 << "k";
    QTest::newRow("one-character token") << QByteArray(R"({"token": " "})") << 45873 << " ";
}

void BridgeConfigurationTest::validFile()
{
    QFETCH(QByteArray, contents);
    QFETCH(int, port);
    QFETCH(QString, token);

    const QString path = m_root.path() + "/valid.json";
    writeFile(path, contents);
    const auto found = VintrelleReadBridgeConfiguration(path);
    QVERIFY(found);
    QCOMPARE(found->port, quint16(port));
    QCOMPARE(found->token, token);
    QCOMPARE(found->path, path);
    QCOMPARE(found->bridgeURL, QString("http://127.0.0.1:%1").arg(port));
}

QTEST_GUILESS_MAIN(BridgeConfigurationTest)
#include "tst_bridge_configuration.moc"
