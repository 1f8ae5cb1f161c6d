#include "VintrelleTestSupport.h"
#include "VintrelleBridgeConfigCases.h"
#include "VintrelleBridgeConfiguration.h"

#include <QSettings>

class BridgeConfigurationTest : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;

    QString userLibraryFile() const { return m_home.path("User Library/Remote Scripts/VintrelleBridge/config.json"); }
    QString environmentFile() const { return m_home.path("env/config.json"); }
    QString standardFile() const { return m_home.home() + "/Music/Ableton/User Library/Remote Scripts/VintrelleBridge/config.json"; }

private slots:
    void init()
    {
        m_home.apply();
        QSettings("Vintrelle", "Vintrelle").remove("VintrelleUserLibrary");
        for (const QString &path : {userLibraryFile(), environmentFile(), standardFile()})
            QFile::remove(path);
    }

    void candidatesInOrder()
    {
        const QString standard = standardFile();
        QCOMPARE(VintrelleBridgeConfigurationCandidates(), QStringList{standard});
        // An empty default or variable adds no candidate.
        QSettings("Vintrelle", "Vintrelle").setValue("VintrelleUserLibrary", "");
        qputenv("VINTRELLE_BRIDGE_CONFIG", "");
        QCOMPARE(VintrelleBridgeConfigurationCandidates(), QStringList{standard});

        QSettings("Vintrelle", "Vintrelle").setValue("VintrelleUserLibrary", m_home.path("User Library/"));
        qputenv("VINTRELLE_BRIDGE_CONFIG", QFile::encodeName(environmentFile()));
        QCOMPARE(VintrelleBridgeConfigurationCandidates(), QStringList({userLibraryFile(), environmentFile(), standard}));
    }

    void firstValidCandidateWins_data()
    {
        QTest::addColumn<QList<QByteArray>>("files"); // user default's, environment's, standard; null: none
        QTest::addColumn<int>("winner");              // -1: no configuration
        const QByteArray none, broken = R"({"port": 0, "token": "broken"})";
        const auto valid = [](int i) { return QByteArray(R"({"port": 100)") + char('1' + i) + R"(, "token": "t"})"; };
        QTest::newRow("all valid") << QList{valid(0), valid(1), valid(2)} << 0;
        QTest::newRow("user default invalid") << QList{broken, valid(1), valid(2)} << 1;
        QTest::newRow("user default missing") << QList{none, valid(1), valid(2)} << 1;
        QTest::newRow("only standard valid") << QList{broken, broken, valid(2)} << 2;
        QTest::newRow("none valid") << QList{broken, broken, broken} << -1;
        QTest::newRow("no files") << QList{none, none, none} << -1;
    }

    void firstValidCandidateWins()
    {
        QFETCH(QList<QByteArray>, files);
        QFETCH(int, winner);
        QSettings("Vintrelle", "Vintrelle").setValue("VintrelleUserLibrary", m_home.path("User Library"));
        qputenv("VINTRELLE_BRIDGE_CONFIG", QFile::encodeName(environmentFile()));
        const QStringList paths{userLibraryFile(), environmentFile(), standardFile()};
        for (int i = 0; i < 3; ++i)
            if (!files[i].isNull()) writeFile(paths[i], files[i]);

        const auto found = VintrelleFindBridgeConfiguration();
        QCOMPARE(found.has_value(), winner >= 0);
        if (!found) return;
        QCOMPARE(found->path, paths[winner]);
        QCOMPARE(found->bridgeURL, QString("http://127.0.0.1:%1").arg(1001 + winner));
    }

    // The same table is read by the bridge script's tests: both must decide every case alike.
    void sharedCases_data() { VintrelleAddBridgeConfigCaseRows(); }

    void sharedCases()
    {
        QFETCH(VintrelleBridgeConfigCase, configCase);
        const QString path = m_home.path("case/config.json");
        QVERIFY(configCase.create(path));
        const QString next = m_home.path("next.json");
        writeFile(next, R"({"port": 50000, "token": "next"})");

        const auto found = VintrelleReadBridgeConfiguration(path);
        QCOMPARE(found.has_value(), configCase.accepted);
        if (found) {
            QCOMPARE(found->port, configCase.port);
            QCOMPARE(found->token, configCase.token);
            QCOMPARE(found->bridgeURL, QString("http://127.0.0.1:%1").arg(configCase.port));
        } else {
            QCOMPARE(VintrelleFindBridgeConfiguration({path, next}).value_or(VintrelleBridgeConfiguration()).path, next);
        }
    }
};

QTEST_GUILESS_MAIN(BridgeConfigurationTest)
#include "tst_bridge_configuration.moc"
