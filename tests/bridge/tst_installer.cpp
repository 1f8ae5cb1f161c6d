#include "VintrelleTestSupport.h"
#include "VintrelleInstaller.h"
#include "VintrelleLocations.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>

namespace fs = std::filesystem;

// Fault injection: while set, renaming a staging folder onto the installed bridge fails with EBUSY.
// Once the old folder has gone to the backups nothing in a test's reach can make that rename fail,
// yet it is the one failure that must bring the old folder back. Every other rename() reaches the
// system unchanged; the installer is linked statically into this test, so its calls resolve here.
static std::atomic<bool> failFinalMove = false;

extern "C" int rename(const char *from, const char *to) noexcept
{
    if (failFinalMove && std::strstr(from, "/.vintrelle-install-") &&
        QByteArray(to).endsWith("/VintrelleBridge")) {
        errno = EBUSY;
        return -1;
    }
    return ::renameat(AT_FDCWD, from, AT_FDCWD, to);
}

namespace {

const QString unreadableSettings =
    "The existing bridge settings could not be read. Your files were left unchanged.";
const QString cancelled = "Installation cancelled. Your files were not changed.";
const QString couldNotInstall = "The bridge could not be installed. Please try again.";
const QString installedText =
    "Installed. Restart Ableton, then select VintrelleBridge in its Control Surface settings.";

const QString none = "<none>";

QString text(const std::optional<QString> &value)
{
    return value.value_or(none);
}

QString detected()
{
    return text(VintrelleInstaller::detectedUserLibrary());
}

QString platformText(int number)
{
    return QString::fromLocal8Bit(std::generic_category().message(number));
}

// Every entry under `root` (links not followed) with its type, permissions, link target or
// content: two equal snapshots mean nothing in the tree changed.
QMap<QString, QString> snapshot(const QString &root)
{
    QMap<QString, QString> tree;
    std::error_code code;
    const fs::path base(QFile::encodeName(root).toStdString());
    for (fs::recursive_directory_iterator it(base, code), end; !code && it != end; it.increment(code)) {
        const fs::file_status status = it->symlink_status();
        const QString path = QString::fromStdString(it->path().lexically_relative(base).string());
        QString entry = QString::number(int(status.permissions()), 8) + ' ';
        switch (status.type()) {
        case fs::file_type::directory:
            entry += "dir";
            break;
        case fs::file_type::symlink:
            entry += "link " + QString::fromStdString(fs::read_symlink(it->path()).string());
            break;
        case fs::file_type::regular:
            entry += "file " + QString::fromUtf8(readFile(QString::fromStdString(it->path().string())));
            break;
        default:
            entry += "other";
        }
        tree.insert(path, entry);
    }
    return tree;
}

QJsonObject readObject(const QString &path)
{
    return QJsonDocument::fromJson(readFile(path)).object();
}

int modeOf(const QString &path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

QString libraryCfg(const QString &projectPath, const QString &projectName, const QString &doctype = {})
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + doctype +
           "<Ableton MajorVersion=\"5\" Creator=\"Ableton Live\">\n"
           " <ContentLibrary>\n  <UserLibrary>\n   <LibraryProject>\n"
           "    <ProjectName Value=\"" +
           projectName.toHtmlEscaped() + "\" />\n    <ProjectPath Value=\"" + projectPath.toHtmlEscaped() +
           "\" />\n   </LibraryProject>\n  </UserLibrary>\n </ContentLibrary>\n</Ableton>\n";
}

enum class Failure {
    RemoteScriptsIsAFile,
    SourceScriptMissing,
    ScriptNameTakenByFolder,
    UncopyableFileInBridge,
    BackupsFolderIsAFile,
    DestinationIsDanglingLink,
};

} // namespace

Q_DECLARE_METATYPE(Failure)

class tst_installer : public QObject
{
    Q_OBJECT

    QTemporaryDir m_config;
    std::unique_ptr<QTemporaryDir> m_home;
    QString m_source;
    QString m_library;
    QString m_backups;

    QString installed() const { return m_library + "/Remote Scripts/VintrelleBridge"; }

    // A bridge as an earlier installation left it, with a file and a folder of the user's own.
    void installOldBridge(const QByteArray &settings)
    {
        writeFile(installed() + "/__init__.py", "old init\n");
        writeFile(installed() + "/bridge.py", "old bridge\n");
        writeFile(installed() + "/notes.txt", "the user's notes\n");
        writeFile(installed() + "/presets/a.json", "{}\n");
        writeFile(installed() + "/config.json", settings);
        QVERIFY(QFile::setPermissions(installed() + "/config.json", QFile::ReadOwner | QFile::WriteOwner));
    }

    // Live for Windows under Wine, user "me": a Library.cfg for `version` naming
    // C:\Users\me\Documents\<folder>\User Library; answers that folder's path inside the prefix.
    QString addWineLive(const QString &prefix, const QString &version, const QString &folder,
                        bool create = true)
    {
        const QString cfg =
            prefix + "/drive_c/users/me/AppData/Roaming/Ableton/" + version + "/Preferences/Library.cfg";
        writeFile(cfg, libraryCfg("C:\\Users\\me\\Documents\\" + folder, "User Library").toUtf8());
        const QString library = prefix + "/drive_c/users/me/Documents/" + folder + "/User Library";
        if (create) QDir().mkpath(library);
        return library;
    }

private slots:
    void initTestCase()
    {
        // QSettings settles its folder at first use: point it at our own before anything runs.
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    }

    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        QVERIFY(m_home->isValid());
        const QString home = m_home->path();
        qputenv("HOME", QFile::encodeName(home));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home + "/.local/share"));
        qunsetenv("WINEPREFIX");
        QSettings("Vintrelle", "Vintrelle").remove("VintrelleUserLibrary");

        m_source = home + "/resources/VintrelleBridge";
        writeFile(m_source + "/__init__.py", "from .bridge import create_instance\n");
        writeFile(m_source + "/bridge.py", "def create_instance(c_instance):\n    return None\n");
        qputenv("VINTRELLE_RESOURCES", QFile::encodeName(home + "/resources"));
        m_library = home + "/Music/Ableton/User Library";
        QVERIFY(QDir().mkpath(m_library));
        m_backups = home + "/backups";
    }

    void cleanup() { failFinalMove = false; }

    void firstInstallation()
    {
        std::optional<QString> error;
        QVERIFY(VintrelleInstaller::installFrom(m_source, m_library, m_backups, &error));
        QCOMPARE(text(error), none);

        QCOMPARE(QDir(m_library + "/Remote Scripts")
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"VintrelleBridge"});
        QCOMPARE(QDir(installed()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 (QStringList{"__init__.py", "bridge.py", "config.json"}));
        QCOMPARE(readFile(installed() + "/__init__.py"), readFile(m_source + "/__init__.py"));
        QCOMPARE(readFile(installed() + "/bridge.py"), readFile(m_source + "/bridge.py"));

        const QByteArray text = readFile(installed() + "/config.json");
        QVERIFY2(text.contains("\n    \""), text); // pretty-printed
        const QJsonObject settings = readObject(installed() + "/config.json");
        QCOMPARE(settings.keys(), (QStringList{"port", "token"}));
        QCOMPARE(settings.value("port"), QJsonValue(45873));
        const QString token = settings.value("token").toString();
        QVERIFY2(QRegularExpression("^[0-9a-f]{64}$").match(token).hasMatch(), qPrintable(token));
        QCOMPARE(modeOf(installed() + "/config.json"), 0600);
        QVERIFY(!QFileInfo::exists(m_backups));

        // Each installation draws its own token.
        const QString otherLibrary = m_home->path() + "/other";
        QVERIFY(VintrelleInstaller::installFrom(m_source, otherLibrary, m_backups, &error));
        QVERIFY(readObject(otherLibrary + "/Remote Scripts/VintrelleBridge/config.json").value("token") !=
                token);
    }

    void reinstallationKeepsSettingsAndFiles()
    {
        const QJsonObject settings{
            {"port", 50123}, {"token", "kept-token"}, {"extra", QJsonObject{{"k", QJsonArray{1, 2}}}}};
        installOldBridge(QJsonDocument(settings).toJson());
        QVERIFY(QFile::link("notes.txt", installed() + "/notes-link"));
        const auto before = snapshot(installed());

        std::optional<QString> error;
        QVERIFY(VintrelleInstaller::installFrom(m_source, m_library, {}, &error)); // default backups folder
        QCOMPARE(text(error), none);

        QCOMPARE(readObject(installed() + "/config.json"), settings);
        QCOMPARE(modeOf(installed() + "/config.json"), 0600);
        QCOMPARE(readFile(installed() + "/__init__.py"), readFile(m_source + "/__init__.py"));
        QCOMPARE(readFile(installed() + "/bridge.py"), readFile(m_source + "/bridge.py"));
        QCOMPARE(readFile(installed() + "/notes.txt"), QByteArray("the user's notes\n"));
        QCOMPARE(readFile(installed() + "/presets/a.json"), QByteArray("{}\n"));
        QCOMPARE(QFileInfo(installed() + "/notes-link").symLinkTarget(), installed() + "/notes.txt");
        QCOMPARE(QDir(m_library + "/Remote Scripts")
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"VintrelleBridge"});

        const QString backups = VintrelleBridgeBackupsPath();
        QVERIFY(backups.startsWith(m_home->path() + "/.local/share/"));
        const QStringList kept =
            QDir(backups).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(kept.size(), 1);
        QVERIFY2(!QUuid::fromString(kept.first()).isNull(), qPrintable(kept.first()));
        QCOMPARE(snapshot(backups + '/' + kept.first()), before);
    }

    // Links in an installed bridge (a developer's working copy, a shared config.json) are
    // replaced, never written through: what they point at stays as it was.
    void reinstallationDoesNotWriteThroughLinks_data()
    {
        QTest::addColumn<bool>("linkedFolder");
        QTest::newRow("linked files") << false;
        QTest::newRow("linked bridge folder") << true;
    }
    void reinstallationDoesNotWriteThroughLinks()
    {
        QFETCH(bool, linkedFolder);
        const QString elsewhere = m_home->path() + "/checkout";
        writeFile(elsewhere + "/bridge.py", "working copy\n");
        writeFile(elsewhere + "/config.json", "{\"token\": \"shared\"}");
        QVERIFY(QDir().mkpath(m_library + "/Remote Scripts"));
        if (linkedFolder) {
            QVERIFY(QFile::link(elsewhere, installed()));
        } else {
            writeFile(installed() + "/__init__.py", "old init\n");
            QVERIFY(QFile::link(elsewhere + "/bridge.py", installed() + "/bridge.py"));
            QVERIFY(QFile::link(elsewhere + "/config.json", installed() + "/config.json"));
        }
        const auto outside = snapshot(elsewhere);

        QVERIFY(VintrelleInstaller::installFrom(m_source, m_library, m_backups));

        QCOMPARE(snapshot(elsewhere), outside);
        QVERIFY(!QFileInfo(installed()).isSymLink());
        QVERIFY(!QFileInfo(installed() + "/bridge.py").isSymLink());
        QCOMPARE(readFile(installed() + "/bridge.py"), readFile(m_source + "/bridge.py"));
        QCOMPARE(readObject(installed() + "/config.json"), (QJsonObject{{"token", "shared"}}));
        QCOMPARE(modeOf(installed() + "/config.json"), 0600);
    }

    void invalidExistingSettingsChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::newRow("not JSON") << QByteArray("{\"token\": \"abc\"");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("not an object") << QByteArray("[\"abc\"]");
        QTest::newRow("no token") << QByteArray("{\"port\": 45873}");
        QTest::newRow("empty token") << QByteArray("{\"token\": \"\"}");
        QTest::newRow("token not a string") << QByteArray("{\"token\": 12345}");
        // Files the bridge client would refuse: keeping them would install a bridge nobody reaches.
        QTest::newRow("port out of range") << QByteArray("{\"token\": \"abc\", \"port\": 65536}");
        QTest::newRow("port as text") << QByteArray("{\"token\": \"abc\", \"port\": \"45873\"}");
        QTest::newRow("folder named config.json") << QByteArray("<folder>");
    }
    void invalidExistingSettingsChangeNothing()
    {
        QFETCH(QByteArray, settings);
        installOldBridge("{}");
        if (settings == "<folder>") {
            QVERIFY(QFile::remove(installed() + "/config.json"));
            QVERIFY(QDir().mkpath(installed() + "/config.json"));
        } else {
            writeFile(installed() + "/config.json", settings);
        }
        const auto before = snapshot(m_library);

        std::optional<QString> error;
        QVERIFY(!VintrelleInstaller::installFrom(m_source, m_library, m_backups, &error));
        QCOMPARE(text(error), unreadableSettings);
        QCOMPARE(snapshot(m_library), before);
        QVERIFY(!QFileInfo::exists(m_backups));
    }

    void failuresLeaveTheLibraryAsItWas_data()
    {
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<QString>("expectedError"); // empty: any platform text of our own making
        QTest::newRow("Remote Scripts is a file") << Failure::RemoteScriptsIsAFile << QString();
        QTest::newRow("source lacks bridge.py") << Failure::SourceScriptMissing << QString();
        QTest::newRow("bridge.py is a folder") << Failure::ScriptNameTakenByFolder << QString();
        QTest::newRow("bridge holds a named pipe") << Failure::UncopyableFileInBridge << platformText(EINVAL);
        QTest::newRow("backups folder is a file") << Failure::BackupsFolderIsAFile << QString();
        QTest::newRow("destination is a dangling link")
            << Failure::DestinationIsDanglingLink << platformText(ENOTDIR);
    }
    void failuresLeaveTheLibraryAsItWas()
    {
        QFETCH(Failure, failure);
        QFETCH(QString, expectedError);
        if (failure == Failure::RemoteScriptsIsAFile) {
            writeFile(m_library + "/Remote Scripts", "not a folder");
        } else if (failure == Failure::DestinationIsDanglingLink) {
            QVERIFY(QDir().mkpath(m_library + "/Remote Scripts"));
            QVERIFY(QFile::link(m_home->path() + "/gone", installed()));
        } else {
            installOldBridge("{\"token\": \"abc\"}");
        }
        if (failure == Failure::SourceScriptMissing) QVERIFY(QFile::remove(m_source + "/bridge.py"));
        if (failure == Failure::ScriptNameTakenByFolder) {
            QVERIFY(QFile::remove(installed() + "/bridge.py"));
            writeFile(installed() + "/bridge.py/inside.txt", "kept");
        }
        if (failure == Failure::UncopyableFileInBridge)
            QCOMPARE(::mkfifo(QFile::encodeName(installed() + "/pipe").constData(), 0600), 0);
        if (failure == Failure::BackupsFolderIsAFile) writeFile(m_backups, "not a folder");
        const auto library = snapshot(m_library);
        const auto backups = snapshot(m_backups);

        std::optional<QString> error;
        QVERIFY(!VintrelleInstaller::installFrom(m_source, m_library, m_backups, &error));
        QVERIFY(error.has_value());
        if (expectedError.isEmpty()) {
            QVERIFY(!error->isEmpty());
            QVERIFY2(*error != unreadableSettings && *error != couldNotInstall, qPrintable(*error));
        } else {
            QCOMPARE(*error, expectedError);
        }
        QCOMPARE(snapshot(m_library), library);
        QCOMPARE(snapshot(m_backups), backups);
        QCOMPARE(QFileInfo(m_backups).isFile(), failure == Failure::BackupsFolderIsAFile);
    }

    // The old folder has already gone to the backups when the last move fails: it must come back,
    // also when the backups live on another file system (tmpfs /dev/shm against the disk).
    void failedFinalMoveRestoresThePreviousBridge_data()
    {
        QTest::addColumn<bool>("otherFileSystem");
        QTest::newRow("same file system") << false;
        QTest::newRow("backups on another file system") << true;
    }
    void failedFinalMoveRestoresThePreviousBridge()
    {
        QFETCH(bool, otherFileSystem);
        QTemporaryDir shm("/dev/shm/tst_installer-XXXXXX");
        if (otherFileSystem) {
            struct stat a, b;
            if (!shm.isValid() || ::stat("/dev/shm", &a) != 0 ||
                ::stat(QFile::encodeName(m_library).constData(), &b) != 0 || a.st_dev == b.st_dev)
                QSKIP("needs /dev/shm on a file system of its own");
            m_backups = shm.path() + "/backups";
        }
        installOldBridge("{\"token\": \"abc\", \"port\": 45900}");
        QVERIFY(QFile::link("notes.txt", installed() + "/notes-link"));
        const auto before = snapshot(m_library);

        failFinalMove = true;
        std::optional<QString> error;
        QVERIFY(!VintrelleInstaller::installFrom(m_source, m_library, m_backups, &error));
        QCOMPARE(text(error), platformText(EBUSY));
        QCOMPARE(snapshot(m_library), before);
        QCOMPARE(QDir(m_backups).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());

        // And without the fault the same installation goes through, the backup holding the old folder.
        failFinalMove = false;
        QVERIFY(VintrelleInstaller::installFrom(m_source, m_library, m_backups, &error));
        const QStringList kept =
            QDir(m_backups).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(kept.size(), 1);
        QMap<QString, QString> oldBridge;
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (it.key().startsWith("Remote Scripts/VintrelleBridge/"))
                oldBridge.insert(it.key().mid(int(strlen("Remote Scripts/VintrelleBridge/"))), it.value());
        }
        QCOMPARE(snapshot(m_backups + '/' + kept.first()), oldBridge);
        QCOMPARE(QDir(m_library + "/Remote Scripts")
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"VintrelleBridge"});
        QCOMPARE(readObject(installed() + "/config.json").value("port"), QJsonValue(45900));
    }

    void newestLiveVersionWins_data()
    {
        QTest::addColumn<QStringList>("versions");
        QTest::addColumn<QString>("expected");
        QTest::newRow("patch numbers")
            << QStringList{"Live 12.1.5", "Live 11.3.2", "Live 12.1.10"} << "Live 12.1.10";
        QTest::newRow("minor numbers") << QStringList{"Live 11.3.13", "Live 12.0.5"} << "Live 12.0.5";
        QTest::newRow("two-digit major") << QStringList{"Live 10.1.30", "Live 9.7.7"} << "Live 10.1.30";
    }
    void newestLiveVersionWins()
    {
        QFETCH(QStringList, versions);
        QFETCH(QString, expected);
        QString expectedLibrary;
        for (const QString &version : versions) {
            const QString library = addWineLive(m_home->path() + "/.wine", version, "Ableton " + version);
            if (version == expected) expectedLibrary = library;
        }
        QCOMPARE(detected(), expectedLibrary);
    }

    // A newer preference folder that does not lead to a usable folder gives way to an older one.
    void unusableSettingsAreSkipped_data()
    {
        QTest::addColumn<QString>("folderName");
        QTest::addColumn<QByteArray>("cfg"); // empty: no Library.cfg at all
        const auto cfg = [](const QString &path, const QString &name) {
            return libraryCfg(path, name).toUtf8();
        };
        QTest::newRow("empty project path") << "Live 13.0" << cfg("", "User Library");
        QTest::newRow("empty project name") << "Live 13.0" << cfg("C:\\Users\\me\\Documents\\Ableton", "");
        QTest::newRow("values on other elements")
            << "Live 13.0"
            << QByteArray("<Ableton><UserLibrary><ProjectPath Value=\"C:\\Users\\me\\Documents\\Ableton\"/>"
                          "<ProjectName Value=\"User Library\"/></UserLibrary></Ableton>");
        QTest::newRow("malformed XML")
            << "Live 13.0"
            << cfg("C:\\Users\\me\\Documents\\Ableton", "User Library").replace("</Ableton>", "");
        QTest::newRow("folder missing")
            << "Live 13.0" << cfg("C:\\Users\\me\\Documents\\Nowhere", "User Library");
        QTest::newRow("names a file") << "Live 13.0" << cfg("C:\\Users\\me\\Documents\\Ableton", "a file");
        QTest::newRow("not a Windows path") << "Live 13.0" << cfg("Documents\\Ableton", "User Library");
        QTest::newRow("no Library.cfg") << "Live 13.0" << QByteArray();
        QTest::newRow("not a Live folder")
            << "Lives 13.0" << cfg("C:\\Users\\me\\Documents\\Ableton", "User Library");
    }
    void unusableSettingsAreSkipped()
    {
        QFETCH(QString, folderName);
        QFETCH(QByteArray, cfg);
        const QString prefix = m_home->path() + "/.wine";
        const QString older = addWineLive(prefix, "Live 12.0", "Older");
        QVERIFY(QDir().mkpath(prefix + "/drive_c/users/me/Documents/Ableton/User Library"));
        writeFile(prefix + "/drive_c/users/me/Documents/Ableton/a file", "x");
        const QString preferences =
            prefix + "/drive_c/users/me/AppData/Roaming/Ableton/" + folderName + "/Preferences";
        if (cfg.isEmpty())
            QVERIFY(QDir().mkpath(preferences));
        else
            writeFile(preferences + "/Library.cfg", cfg);

        QCOMPARE(detected(), older);
    }

    // Library.cfg is parsed without ever loading what an external entity or DTD names. Each row
    // names a file whose text would lead to an existing library if it were read; the control row
    // declares the same text inline and must find it.
    void externalEntitiesAreNotLoaded_data()
    {
        QTest::addColumn<QString>("doctype");
        QTest::addColumn<QString>("projectPath");
        QTest::addColumn<bool>("found");
        QTest::newRow("external entity in the value")
            << "<!DOCTYPE Ableton [<!ENTITY where SYSTEM \"file://%SECRET%\">]>\n"
            << "&where;" << false;
        QTest::newRow("external DTD declaring the entity") << "<!DOCTYPE Ableton SYSTEM \"file://%DTD%\">\n"
                                                           << "&where;" << false;
        QTest::newRow("parameter entity pulling in a DTD")
            << "<!DOCTYPE Ableton [<!ENTITY % outside SYSTEM \"file://%DTD%\"> %outside;]>\n"
            << "&where;" << false;
        QTest::newRow("internal entity (control)")
            << "<!DOCTYPE Ableton [<!ENTITY where \"C:\\Users\\me\\Documents\\Ableton\">]>\n"
            << "&where;" << true;
    }
    void externalEntitiesAreNotLoaded()
    {
        QFETCH(QString, doctype);
        QFETCH(QString, projectPath);
        QFETCH(bool, found);
        const QString prefix = m_home->path() + "/.wine";
        const QString library = prefix + "/drive_c/users/me/Documents/Ableton/User Library";
        QVERIFY(QDir().mkpath(library));
        const QString secret = m_home->path() + "/secret.txt";
        const QString dtd = m_home->path() + "/outside.dtd";
        writeFile(secret, "C:\\Users\\me\\Documents\\Ableton");
        writeFile(dtd, "<!ENTITY where \"C:\\Users\\me\\Documents\\Ableton\">");
        doctype.replace("%SECRET%", secret).replace("%DTD%", dtd);

        QString cfg = libraryCfg("PLACEHOLDER", "User Library", doctype);
        cfg.replace("PLACEHOLDER", projectPath); // unescaped: the entity reference itself
        writeFile(prefix + "/drive_c/users/me/AppData/Roaming/Ableton/Live 12.0/Preferences/Library.cfg",
                  cfg.toUtf8());

        QCOMPARE(detected(), found ? library : none);
    }

    void winePrefixes()
    {
        const QString chosen = m_home->path() + "/prefixes/ableton";
        const QString standard = m_home->path() + "/.wine";
        qputenv("WINEPREFIX", QFile::encodeName(chosen + '/'));

        // Nothing yet.
        QCOMPARE(detected(), none);

        // ~/.wine is searched as well as $WINEPREFIX.
        const QString inStandard = addWineLive(standard, "Live 11.3.2", "Standard");
        QCOMPARE(detected(), inStandard);

        // Other drive letters go through dosdevices; backslashes and a trailing one are fine.
        const QString music = m_home->path() + "/music-disk";
        QVERIFY(QDir().mkpath(music + "/Ableton/User Library"));
        QVERIFY(QDir().mkpath(chosen + "/dosdevices"));
        QVERIFY(QFile::link(music, chosen + "/dosdevices/d:"));
        writeFile(chosen + "/drive_c/users/me/AppData/Roaming/Ableton/Live 12.0.5/Preferences/Library.cfg",
                  libraryCfg("D:\\Ableton\\", "User Library").toUtf8());
        QCOMPARE(detected(), chosen + "/dosdevices/d:/Ableton/User Library");

        // Equal versions: $WINEPREFIX before ~/.wine.
        addWineLive(standard, "Live 12.0.5", "Standard 12");
        QCOMPARE(detected(), chosen + "/dosdevices/d:/Ableton/User Library");

        // A drive letter the prefix does not map leads nowhere.
        writeFile(chosen + "/drive_c/users/me/AppData/Roaming/Ableton/Live 12.0.5/Preferences/Library.cfg",
                  libraryCfg("E:\\Ableton", "User Library").toUtf8());
        QCOMPARE(detected(), standard + "/drive_c/users/me/Documents/Standard 12/User Library");
    }

    void userDefaultComesFirst_data()
    {
        QTest::addColumn<QString>("remembered"); // relative to the home folder
        QTest::addColumn<bool>("used");
        QTest::newRow("existing folder") << "Elsewhere/User Library" << true;
        QTest::newRow("missing folder") << "Gone/User Library" << false;
        QTest::newRow("a file") << "a file" << false;
    }
    void userDefaultComesFirst()
    {
        QFETCH(QString, remembered);
        QFETCH(bool, used);
        QVERIFY(QDir().mkpath(m_home->path() + "/Elsewhere/User Library"));
        writeFile(m_home->path() + "/a file", "x");
        const QString fromCfg = addWineLive(m_home->path() + "/.wine", "Live 12.0", "Ableton");
        QSettings("Vintrelle", "Vintrelle")
            .setValue("VintrelleUserLibrary", m_home->path() + '/' + remembered);

        QCOMPARE(detected(), used ? m_home->path() + '/' + remembered : fromCfg);
    }

    void installBridge_data()
    {
        QTest::addColumn<bool>("detected");
        QTest::addColumn<QString>("chosen"); // null: the chooser answers "cancelled"
        QTest::addColumn<bool>("sourcePresent");
        QTest::addColumn<QByteArray>("existingSettings"); // empty: no bridge installed yet
        QTest::addColumn<QString>("message");             // empty: cancelled, no result
        QTest::addColumn<bool>("ok");
        QTest::newRow("detected library")
            << true << QString() << true << QByteArray() << installedText << true;
        QTest::newRow("chosen folder") << false << "Chosen" << true << QByteArray() << installedText << true;
        QTest::newRow("chooser cancelled")
            << false << QString() << true << QByteArray() << QString() << false;
        QTest::newRow("no bridge in the resources")
            << false << "Chosen" << false << QByteArray() << couldNotInstall << false;
        QTest::newRow("unreadable settings")
            << false << "Chosen" << true << QByteArray("[]") << unreadableSettings << false;
    }
    void installBridge()
    {
        QFETCH(bool, detected);
        QFETCH(QString, chosen);
        QFETCH(bool, sourcePresent);
        QFETCH(QByteArray, existingSettings);
        QFETCH(QString, message);
        QFETCH(bool, ok);
        const QString chosenPath = m_home->path() + '/' + chosen;
        const QString detectedPath = addWineLive(m_home->path() + "/.wine", "Live 12.0", "Ableton", detected);
        if (!sourcePresent) QVERIFY(QDir(m_source).removeRecursively());
        if (!existingSettings.isEmpty())
            writeFile(chosenPath + "/Remote Scripts/VintrelleBridge/config.json", existingSettings);
        const auto before = snapshot(m_home->path());

        int chooserCalls = 0;
        const VintrelleInstaller::FolderChooser chooser = [&]() -> std::optional<QString> {
            ++chooserCalls;
            return chosen.isNull() ? std::nullopt : std::optional(chosenPath);
        };
        int replies = 0;
        std::optional<QJsonObject> result;
        std::optional<QString> error;
        VintrelleInstaller::installBridge(chooser,
                                          [&](std::optional<QJsonObject> r, std::optional<QString> e) {
                                              ++replies;
                                              result = r;
                                              error = e;
                                          });

        QCOMPARE(replies, 1);
        QCOMPARE(chooserCalls, detected ? 0 : 1);
        const QString library = detected ? detectedPath : chosenPath;
        const QString remembered =
            QSettings("Vintrelle", "Vintrelle").value("VintrelleUserLibrary").toString();
        if (message.isEmpty()) {
            QVERIFY(!result);
            QCOMPARE(text(error), cancelled);
        } else {
            QVERIFY(result);
            QCOMPARE(*result, (QJsonObject{{"ok", ok}, {"message", message}}));
            QCOMPARE(text(error), ok ? none : message);
        }
        if (ok) {
            QCOMPARE(remembered, library);
            QVERIFY(QFileInfo(library + "/Remote Scripts/VintrelleBridge/config.json").isFile());
        } else {
            QCOMPARE(remembered, QString());
            QCOMPARE(snapshot(m_home->path()), before);
        }
    }
};

QTEST_GUILESS_MAIN(tst_installer)
#include "tst_installer.moc"
