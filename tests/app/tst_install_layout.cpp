#include "VintrelleTestSupport.h"

// `cmake --install` gives a tree whose binary finds its resources beside its bin folder, with no
// help from the environment.
class TestInstallLayout : public QObject
{
    Q_OBJECT

private slots:
    void installedTree()
    {
        VintrelleTestHome home;
        const QString prefix = home.path("prefix");
        QCOMPARE(QProcess::execute(VINTRELLE_CMAKE, {"--install", VINTRELLE_BUILD_DIR, "--prefix", prefix}), 0);
        for (const char *file : {"bin/vintrelle", "share/vintrelle/VintrelleBridge/__init__.py",
                                    "share/vintrelle/VintrelleBridge/bridge.py", "share/vintrelle/launcher/index.html",
                                    "share/applications/vintrelle.desktop",
                                    "share/icons/hicolor/scalable/apps/vintrelle.svg"})
            QVERIFY2(QFileInfo::exists(prefix + "/" + QString::fromLatin1(file)), file);
        QVERIFY(readFile(prefix + "/share/applications/vintrelle.desktop").contains("\nExec=vintrelle\n"));

        // Mark the installed bridge script, then install the bridge with the installed binary:
        // the marked copy must be the one that lands in the User Library.
        const QByteArray marked = readFile(prefix + "/share/vintrelle/VintrelleBridge/bridge.py") + "\n# installed copy\n";
        writeFile(prefix + "/share/vintrelle/VintrelleBridge/bridge.py", marked);
        const QString library = home.path("User Library");
        QVERIFY(QDir().mkpath(library));
        writeFile(home.config() + "/Vintrelle/Vintrelle.conf", "[General]\nVintrelleUserLibrary=" + library.toUtf8() + "\n");
        QProcessEnvironment environment = home.processEnvironment();
        environment.remove("VINTRELLE_RESOURCES");
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(prefix + "/bin/vintrelle", {"--command", R"({"op":"install"})"});
        QVERIFY(process.waitForFinished(30000));
        const QJsonObject line = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
        QCOMPARE(line.value("result").toObject().value("ok"), QJsonValue(true));
        QCOMPARE(readFile(library + "/Remote Scripts/VintrelleBridge/bridge.py"), marked);
    }
};

QTEST_GUILESS_MAIN(TestInstallLayout)
#include "tst_install_layout.moc"
