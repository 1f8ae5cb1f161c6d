#include "VintrelleTestSupport.h"
#include "VintrelleBridgeConfiguration.h"
#include "VintrelleInstaller.h"
#include "VintrelleLocations.h"

#include <QDirIterator>
#include <QSettings>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>

// Fault injection: while set, moving the staged bridge into place fails with EBUSY, after the old folder went to the
// backups. The installer is linked statically, so its rename() calls land here; all others reach the system.
static std::atomic<bool> failFinalMove = false;

extern "C" int rename(const char *from, const char *to) noexcept
{
    if (failFinalMove && std::strstr(from, "/.vintrelle-install-") && QByteArray(to).endsWith("/VintrelleBridge")) return errno = EBUSY, -1;
    return ::renameat(AT_FDCWD, from, AT_FDCWD, to);
}

namespace {

const QString unreadableSettings = "The existing bridge settings could not be read. Your files were left unchanged.";
const QString couldNotInstall = "The bridge could not be installed. Please try again.";
const QString none = "<none>";

int modeOf(const QString &path) { struct stat info; return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1; }

// Every entry under `root` (links not followed) with permissions and type, link target or content.
QMap<QString, QString> snapshot(const QString &root)
{
    QMap<QString, QString> tree;
    for (QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories); it.hasNext();) {
        const QFileInfo entry(it.next());
        const QString kind = entry.isSymLink() ? "link " + QString::fromStdString(std::filesystem::read_symlink(QFile::encodeName(entry.filePath()).toStdString()))
                             : entry.isDir()   ? QString("dir")
                             : entry.isFile()  ? "file " + QString::fromUtf8(readFile(entry.filePath())) : QString("other");
        tree.insert(entry.filePath().mid(root.size()), QString::number(modeOf(entry.filePath()), 8) + ' ' + kind);
    }
    return tree;
}

QStringList entries(const QString &folder) { return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); }
QJsonObject readObject(const QString &path) { return QJsonDocument::fromJson(readFile(path)).object(); }

// Live's Library.cfg naming `projectPath` (XML as it stands) as the folder of the User Library.
QString libraryCfg(const QString &projectPath, const QString &doctype = {})
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + doctype + "<Ableton><ContentLibrary><UserLibrary><LibraryProject><ProjectName Value=\"User Library\" />"
           "<ProjectPath Value=\"" + projectPath + "\" /></LibraryProject></UserLibrary></ContentLibrary></Ableton>\n";
}

// A case of the config.json table the bridge script's tests share, at `path`: a file, a folder or nothing.
bool createConfigCase(const QJsonObject &row, const QString &path)
{
    QFile::remove(path);
    QDir(path).removeRecursively();
    QDir().mkpath(QFileInfo(path).path());
    if (row["file"] == "missing") return true;
    if (row["file"] == "folder") return QDir().mkpath(path);
    QByteArray bytes = row.contains("hex") ? QByteArray::fromHex(row["hex"].toString().toLatin1()) : row["text"].toString().toUtf8();
    if (row.contains("nest")) bytes = R"({"token": "t", "x": )" + QByteArray(row["nest"].toInt() - 1, '[') + QByteArray(row["nest"].toInt() - 1, ']') + "}";
    if (row.contains("padTo")) bytes.append(QByteArray(row["padTo"].toInt() - bytes.size(), ' '));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class tst_installer : public QObject
{
    Q_OBJECT

    std::unique_ptr<VintrelleTestHome> m_home;
    QString m_source, m_library, m_backups;

    QString installed() const { return m_library + "/Remote Scripts/VintrelleBridge"; }

    // A bridge as an earlier installation left it, with a file, a folder and a link of the user's own.
    void installOldBridge(const QByteArray &settings)
    {
        for (const auto &[name, contents] : {std::pair{"__init__.py", "old init\n"}, {"bridge.py", "old bridge\n"}, {"notes.txt", "notes\n"}, {"presets/a.json", "{}\n"}})
            writeFile(installed() + '/' + name, contents);
        writeFile(installed() + "/config.json", settings);
        QVERIFY(QFile::link("notes.txt", installed() + "/notes-link"));
    }

private slots:
    void init()
    {
        m_home = std::make_unique<VintrelleTestHome>();
        m_home->apply();
        QSettings("Vintrelle", "Vintrelle").remove("VintrelleUserLibrary");
        m_source = m_home->path("resources/VintrelleBridge");
        writeFile(m_source + "/__init__.py", "from .bridge import create_instance\n");
        writeFile(m_source + "/bridge.py", "def create_instance(c_instance):\n    return None\n");
        qputenv("VINTRELLE_RESOURCES", QFile::encodeName(m_home->path("resources")));
        m_library = m_home->home() + "/Music/Ableton/User Library";
        QVERIFY(QDir().mkpath(m_library));
        m_backups = m_home->path("backups");
    }
    void cleanup()
    {
        failFinalMove = false;
        qunsetenv("WINEPREFIX");
    }

    // Settings the program refuses are never kept by an installation either: that bridge could not be reached.
    void sharedConfigurationCases_data()
    {
        QTest::addColumn<QJsonObject>("configCase");
        const QJsonArray cases = QJsonDocument::fromJson(readFile(VINTRELLE_TEST_DATA "/bridge-config-cases.json"))["cases"].toArray();
        QVERIFY(cases.size() > 40);
        for (const QJsonValue value : cases) QTest::newRow(qPrintable(value["case"].toString())) << value.toObject();
    }
    void sharedConfigurationCases()
    {
        QFETCH(QJsonObject, configCase);
        const QString path = installed() + "/config.json", next = m_home->path("next.json");
        installOldBridge("{}");
        QVERIFY(createConfigCase(configCase, path));
        writeFile(next, R"({"port": 50000, "token": "next"})");
        const QJsonArray expect = configCase["expect"].toArray();
        const auto found = VintrelleReadBridgeConfiguration(path);
        QCOMPARE(found.has_value(), !expect.isEmpty());
        if (found) {
            QCOMPARE(QStringList({QString::number(found->port), found->token, found->bridgeURL}),
                     QStringList({QString::number(expect[0].toInt()), expect[1].toString(), QString("http://127.0.0.1:%1").arg(expect[0].toInt())}));
            return;
        }
        QCOMPARE(VintrelleFindBridgeConfiguration({path, next}).value_or(VintrelleBridgeConfiguration()).path, next);
        const bool missing = configCase["file"] == "missing"; // then settings of its own, as on a first installation
        const auto before = snapshot(m_library);
        std::optional<QString> error;
        QCOMPARE(VintrelleInstaller::installFrom(m_source, m_library, m_backups, &error), missing);
        if (missing) { QCOMPARE(readObject(path)["token"].toString().size(), 64); return; }
        QCOMPARE(error.value_or(none), unreadableSettings);
        QCOMPARE(snapshot(m_library), before);
        QVERIFY(!QFileInfo::exists(m_backups));
    }
    // A first installation draws settings; a second keeps them and the user's files, backing up the old folder and replacing links, never writing through them.
    void installAndReinstall()
    {
        std::optional<QString> error;
        QVERIFY2(VintrelleInstaller::installFrom(m_source, m_library, m_backups, &error), qPrintable(error.value_or(none)));
        QCOMPARE(entries(installed()), QStringList({"__init__.py", "bridge.py", "config.json"}));
        const QJsonObject settings = readObject(installed() + "/config.json");
        QCOMPARE(settings.keys() + QStringList{settings["port"].toVariant().toString()}, QStringList({"port", "token", "45873"}));
        QVERIFY(settings["token"].toString().size() == 64 && QByteArray::fromHex(settings["token"].toString().toLatin1()).toHex() == settings["token"].toString());
        QCOMPARE(modeOf(installed() + "/config.json"), 0600);
        QVERIFY(!QFileInfo::exists(m_backups));
        QVERIFY(VintrelleInstaller::installFrom(m_source, m_home->path("other"), m_backups)); // each installation draws its own token
        QVERIFY(readObject(m_home->path("other/Remote Scripts/VintrelleBridge/config.json"))["token"] != settings["token"]);
        const QJsonObject kept{{"port", 50123}, {"token", "kept-token"}, {"extra", QJsonObject{{"k", QJsonArray{1, 2}}}}};
        installOldBridge(QJsonDocument(kept).toJson());
        writeFile(m_home->path("checkout/bridge.py"), "working copy\n");
        QVERIFY(QFile::remove(installed() + "/bridge.py") && QFile::link(m_home->path("checkout/bridge.py"), installed() + "/bridge.py"));
        const auto before = snapshot(installed());
        QVERIFY(VintrelleInstaller::installFrom(m_source, m_library)); // the default backups folder
        QCOMPARE(readObject(installed() + "/config.json"), kept);
        QCOMPARE(modeOf(installed() + "/config.json"), 0600);
        QCOMPARE(readFile(installed() + "/bridge.py") + readFile(m_home->path("checkout/bridge.py")), readFile(m_source + "/bridge.py") + "working copy\n");
        QCOMPARE(readFile(installed() + "/presets/a.json"), QByteArray("{}\n"));
        QCOMPARE(QFileInfo(installed() + "/notes-link").symLinkTarget(), installed() + "/notes.txt");
        const QString backups = VintrelleBridgeBackupsPath();
        QCOMPARE(entries(backups).size(), 1);
        QCOMPARE(snapshot(backups + '/' + entries(backups).first()), before);
    }
    // The row's tag names the fault; the error is the system's own text.
    void failuresLeaveTheLibraryAsItWas_data()
    {
        QTest::addColumn<QString>("expectedError");
        const auto platformText = [](int number) { return QString::fromLocal8Bit(std::generic_category().message(number)); };
        QTest::newRow("bridge holds a named pipe") << platformText(EINVAL);
        // The old folder must come back from the backups, also from another file system (tmpfs /dev/shm).
        QTest::newRow("final move fails") << platformText(EBUSY);
        QTest::newRow("final move fails, backups elsewhere") << platformText(EBUSY);
    }
    void failuresLeaveTheLibraryAsItWas()
    {
        QFETCH(QString, expectedError);
        const QByteArray failure = QTest::currentDataTag();
        QTemporaryDir shm("/dev/shm/tst_installer-XXXXXX");
        if (failure.endsWith("elsewhere")) {
            struct stat a, b;
            if (!shm.isValid() || ::stat("/dev/shm", &a) != 0 || ::stat(QFile::encodeName(m_library).constData(), &b) != 0 || a.st_dev == b.st_dev)
                QSKIP("needs /dev/shm on a file system of its own");
            m_backups = shm.path() + "/backups";
        }
        installOldBridge("{\"token\": \"abc\", \"port\": 45900}");
        if (failure.endsWith("named pipe")) QCOMPARE(::mkfifo(QFile::encodeName(installed() + "/pipe").constData(), 0600), 0);
        const auto library = snapshot(m_library), backups = snapshot(m_backups), oldBridge = snapshot(installed());
        failFinalMove = failure.startsWith("final move");
        std::optional<QString> error;
        QVERIFY(!VintrelleInstaller::installFrom(m_source, m_library, m_backups, &error));
        QCOMPARE(error.value_or(none), expectedError);
        QCOMPARE(snapshot(m_library), library);
        QCOMPARE(snapshot(m_backups), backups);
        if (!failFinalMove) return;
        // Without the fault the same installation goes through, the backup holding the old folder.
        failFinalMove = false;
        QVERIFY(VintrelleInstaller::installFrom(m_source, m_library, m_backups, &error));
        QCOMPARE(entries(m_backups).size(), 1);
        QCOMPARE(snapshot(m_backups + '/' + entries(m_backups).first()), oldBridge);
        QCOMPARE(readObject(installed() + "/config.json").value("port"), QJsonValue(45900));
    }
    // The newest Live preferences leading to an existing folder win. Cells: "<Live folder>|<Library.cfg>"; %SECRET%, %DTD%: files outside.
    void detection_data()
    {
        addColumns<QStringList, QString>({"preferences", "expected"}); // expected: relative to the prefix's Documents, or none
        const QString good = libraryCfg("C:\\Users\\me\\Documents\\Ableton"), older = "Live 12.0|" + libraryCfg("C:\\Users\\me\\Documents\\Older");
        QTest::newRow("patch numbers") << QStringList{"Live 12.1.5|" + good, "Live 12.1.10|" + older.section('|', 1), "Live 11.3.2|" + good} << "Older";
        const QList<std::pair<const char *, QString>> unusable{
            {"malformed XML", QString(good).replace("</Ableton>", "")},
            {"folder missing", libraryCfg("C:\\Users\\me\\Documents\\Nowhere")},
            {"external entity", libraryCfg("&x;", "<!DOCTYPE Ableton [<!ENTITY x SYSTEM \"file://%SECRET%\">]>")},
            {"external DTD", libraryCfg("&x;", "<!DOCTYPE Ableton SYSTEM \"file://%DTD%\">")},
            {"parameter entity", libraryCfg("&x;", "<!DOCTYPE Ableton [<!ENTITY % o SYSTEM \"file://%DTD%\"> %o;]>")}};
        for (const auto &[name, cfg] : unusable) QTest::newRow(name) << QStringList{older, "Live 13.0|" + cfg} << "Older";
    }
    void detection()
    {
        QFETCH(QStringList, preferences); QFETCH(QString, expected);
        const QString documents = m_home->home() + "/.wine/drive_c/users/me/Documents";
        QVERIFY(QDir().mkpath(documents + "/Ableton/User Library") && QDir().mkpath(documents + "/Older/User Library"));
        writeFile(m_home->path("secret.txt"), "C:\\Users\\me\\Documents\\Ableton");
        writeFile(m_home->path("outside.dtd"), "<!ENTITY x \"C:\\Users\\me\\Documents\\Ableton\">");
        for (const QString &preference : preferences)
            writeFile(m_home->home() + "/.wine/drive_c/users/me/AppData/Roaming/Ableton/" + preference.section('|', 0, 0) + "/Preferences/Library.cfg",
                      preference.section('|', 1).replace("%SECRET%", m_home->path("secret.txt")).replace("%DTD%", m_home->path("outside.dtd")).toUtf8());
        QCOMPARE(VintrelleInstaller::detectedUserLibrary().value_or(none), expected == none ? none : documents + '/' + expected + "/User Library");
    }
    // $WINEPREFIX is searched besides ~/.wine, other drives go through dosdevices, and a remembered folder comes first while it exists.
    void winePrefixesAndTheUserDefault()
    {
        const QString chosen = m_home->path("prefixes/ableton"), onDiskD = chosen + "/dosdevices/d:/Ableton/User Library";
        qputenv("WINEPREFIX", QFile::encodeName(chosen + '/'));
        QVERIFY(QDir().mkpath(m_home->path("music-disk/Ableton/User Library")) && QDir().mkpath(chosen + "/dosdevices"));
        QVERIFY(QFile::link(m_home->path("music-disk"), chosen + "/dosdevices/d:"));
        writeFile(chosen + "/drive_c/users/me/AppData/Roaming/Ableton/Live 12.0.5/Preferences/Library.cfg", libraryCfg("D:\\Ableton\\").toUtf8());
        QCOMPARE(VintrelleInstaller::detectedUserLibrary().value_or(none), onDiskD);
        QSettings("Vintrelle", "Vintrelle").setValue("VintrelleUserLibrary", m_library);
        QCOMPARE(VintrelleInstaller::detectedUserLibrary().value_or(none), m_library);
        QSettings("Vintrelle", "Vintrelle").setValue("VintrelleUserLibrary", m_home->path("gone"));
        QCOMPARE(VintrelleInstaller::detectedUserLibrary().value_or(none), onDiskD);
    }
    // A failed installation from the menu says why and changes nothing (the settings window's test installs).
    void installBridgeWithoutTheBridge()
    {
        QVERIFY(QDir(m_source).removeRecursively());
        const auto before = snapshot(m_home->path());
        const auto answer = recordAnswer([&](VintrelleReply reply) { VintrelleInstaller::installBridge([&]() -> std::optional<QString> { return m_library; }, reply); });
        QCOMPARE(answer->calls, 1);
        QCOMPARE(answer->result, std::optional(QJsonObject{{"ok", false}, {"message", couldNotInstall}}));
        QCOMPARE(answer->error, std::optional(couldNotInstall));
        QCOMPARE(snapshot(m_home->path()), before);
    }
};

QTEST_GUILESS_MAIN(tst_installer)
#include "tst_installer.moc"
