#include "VintrelleInstaller.h"

#include "VintrelleBridgeConfiguration.h"
#include "VintrelleLocations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSettings>
#include <QUuid>
#include <QXmlStreamReader>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

const QString unreadableSettingsMessage =
    QStringLiteral("The existing bridge settings could not be read. Your files were left unchanged.");
const QString cancelledMessage = QStringLiteral("Installation cancelled. Your files were not changed.");
const QString genericFailureMessage = QStringLiteral("The bridge could not be installed. Please try again.");
const QString installedMessage = QStringLiteral(
    "Installed. Restart Ableton, then select VintrelleBridge in its Control Surface settings.");

// Symbolic links inside the bridge folder are carried over as links, not as the files they name.
constexpr auto treeCopy = fs::copy_options::recursive | fs::copy_options::copy_symlinks;

// ---- Finding the User Library

// Orders digit runs by their value, so "Live 12.1.10" sorts after "Live 12.1.5".
int compareNumerically(QStringView a, QStringView b)
{
    const auto isDigit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (!isDigit(a[i]) || !isDigit(b[j])) {
            if (a[i] != b[j]) return a[i] < b[j] ? -1 : 1;
            ++i, ++j;
            continue;
        }
        const qsizetype startA = i, startB = j;
        while (i < a.size() && isDigit(a[i]))
            ++i;
        while (j < b.size() && isDigit(b[j]))
            ++j;
        QStringView runA = a.sliced(startA, i - startA), runB = b.sliced(startB, j - startB);
        while (runA.size() > 1 && runA.front() == u'0')
            runA = runA.sliced(1);
        while (runB.size() > 1 && runB.front() == u'0')
            runB = runB.sliced(1);
        if (runA.size() != runB.size()) return runA.size() < runB.size() ? -1 : 1;
        if (const int order = runA.compare(runB)) return order < 0 ? -1 : 1;
    }
    return int(i < a.size()) - int(j < b.size());
}

struct LibrarySettings
{
    QString liveVersion; // the preference folder's name, "Live 12.0.5"
    QString file;        // its Library.cfg
    QString winePrefix;  // empty for a native Live
};

void addLiveFolders(QList<LibrarySettings> &found, const QString &preferences, const QString &fileInside,
                    const QString &winePrefix)
{
    const QStringList names = QDir(preferences).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        if (name.startsWith(QLatin1String("Live ")))
            found.append({name, preferences + '/' + name + fileInside, winePrefix});
    }
}

QList<LibrarySettings> librarySettingsNewestFirst()
{
    QList<LibrarySettings> found;
#ifdef Q_OS_MACOS
    addLiveFolders(found, QDir::homePath() + "/Library/Preferences/Ableton", "/Library.cfg", {});
#endif
#ifdef Q_OS_LINUX
    // Live for Windows under Wine keeps one preferences folder per Windows user of the prefix.
    QStringList prefixes;
    const QString chosenPrefix = qEnvironmentVariable("WINEPREFIX");
    if (!chosenPrefix.isEmpty()) prefixes << QDir::cleanPath(chosenPrefix);
    if (const QString standardPrefix = QDir::homePath() + "/.wine"; !prefixes.contains(standardPrefix))
        prefixes << standardPrefix;
    for (const QString &prefix : std::as_const(prefixes)) {
        const QString users = prefix + "/drive_c/users";
        for (const QString &user : QDir(users).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
            addLiveFolders(found, users + '/' + user + "/AppData/Roaming/Ableton", "/Preferences/Library.cfg",
                           prefix);
    }
#endif
    std::stable_sort(found.begin(), found.end(), [](const LibrarySettings &a, const LibrarySettings &b) {
        return compareNumerically(a.liveVersion, b.liveVersion) > 0;
    });
    return found;
}

// The first Value of //UserLibrary/LibraryProject/ProjectPath and .../ProjectName, empty when
// absent; none when the file cannot be read or is not well-formed XML. QXmlStreamReader never
// loads external entities or DTDs: a reference to one is refused or left unexpanded.
std::optional<std::pair<QString, QString>> userLibraryProject(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QXmlStreamReader reader(&file);
    QStringList open;
    std::optional<QString> projectPath, projectName;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            open << reader.qualifiedName().toString();
            const qsizetype depth = open.size();
            if (depth < 3 || open[depth - 3] != u"UserLibrary" || open[depth - 2] != u"LibraryProject" ||
                !reader.attributes().hasAttribute("Value"))
                break;
            const QString value = reader.attributes().value("Value").toString();
            if (open.last() == u"ProjectPath" && !projectPath)
                projectPath = value;
            else if (open.last() == u"ProjectName" && !projectName)
                projectName = value;
            break;
        }
        case QXmlStreamReader::EndElement:
            open.removeLast();
            break;
        default:
            break;
        }
    }
    if (reader.hasError()) return std::nullopt;
    return std::pair(projectPath.value_or(QString()), projectName.value_or(QString()));
}

// Windows ignores case, and Wine's own folders are lower case ("C:\Users" is drive_c/users): each
// component that is not there as written is looked up as Wine would.
QString pathIgnoringCase(const QString &root, const QString &relative)
{
    QString path = root;
    for (const QString &part : relative.split(u'/', Qt::SkipEmptyParts)) {
        QString next = path + '/' + part;
        if (!QFileInfo::exists(next)) {
            const QStringList entries =
                QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
            for (const QString &entry : entries) {
                if (entry.compare(part, Qt::CaseInsensitive) == 0) {
                    next = path + '/' + entry;
                    break;
                }
            }
        }
        path = next;
    }
    return path;
}

// "C:\Users\me\Documents\Ableton\User Library" inside a Wine prefix: C: is the prefix's drive_c,
// any other drive letter whatever dosdevices maps it to.
std::optional<QString> pathInWinePrefix(const QString &prefix, QString windowsPath)
{
    windowsPath.replace(u'\\', u'/');
    const QChar drive = windowsPath.isEmpty() ? QChar() : windowsPath[0].toLower();
    if (windowsPath.size() < 2 || windowsPath[1] != u':' || drive < u'a' || drive > u'z') return std::nullopt;
    const QString root = drive == u'c' ? prefix + "/drive_c" : prefix + "/dosdevices/" + drive + ':';
    return QDir::cleanPath(pathIgnoringCase(root, windowsPath.mid(2)));
}

// ---- Installing

fs::path fsPath(const QString &path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

QString errorText(const std::error_code &code)
{
    return QString::fromLocal8Bit(code.message());
}

QString errnoText(int number)
{
    return errorText(std::error_code(number, std::generic_category()));
}

QString newUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// 0, or the errno of the failed rename().
int renamePath(const QString &from, const QString &to)
{
    const QByteArray fromName = QFile::encodeName(from), toName = QFile::encodeName(to);
    return ::rename(fromName.constData(), toName.constData()) == 0 ? 0 : errno;
}

// rename() where it can; across file systems (the backups folder may well live on another disk
// than the User Library) a copy. The original is first parked under a temporary name beside
// itself, so a failed copy puts it back whole and a failed clean-up never leaves it half deleted.
bool moveItem(const QString &from, const QString &to, QString *message)
{
    int failure = renamePath(from, to);
    if (failure == 0) return true;
    const QString parked = QFileInfo(from).path() + "/.vintrelle-moving-" + newUuid();
    if (failure == EXDEV) failure = renamePath(from, parked);
    if (failure != 0) {
        *message = errnoText(failure);
        return false;
    }
    std::error_code code;
    fs::copy(fsPath(parked), fsPath(to), treeCopy, code);
    if (code) {
        std::error_code ignored;
        fs::remove_all(fsPath(to), ignored);
        renamePath(parked, from);
        *message = errorText(code);
        return false;
    }
    fs::remove_all(fsPath(parked), code); // a leftover is a second complete copy; nothing relies on it
    return true;
}

bool readFile(const QString &path, QByteArray *bytes, QString *message)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        *bytes = file.readAll();
        if (file.error() == QFile::NoError) return true;
    }
    *message = file.errorString();
    return false;
}

bool writeFile(const QString &path, const QByteArray &bytes,
               std::optional<QFileDevice::Permissions> permissions, QString *message)
{
    // What the copied folder holds here may be a symbolic link; the write must not follow it out
    // of the staging folder.
    QFile::remove(path);
    QSaveFile file(path);
    // Permissions go on before the content, so the token is never readable by others.
    const bool written = file.open(QIODevice::WriteOnly) &&
                         (!permissions || file.setPermissions(*permissions)) &&
                         file.write(bytes) == bytes.size() && file.commit();
    if (!written) *message = file.errorString();
    return written;
}

// An existing config.json counts when the bridge client would accept it (the same rule), and is
// then kept with every key it holds.
std::optional<QJsonObject> readSettings(const QString &path)
{
    QFile file(path);
    if (!VintrelleReadBridgeConfiguration(path) || !file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject()) return std::nullopt;
    return document.object();
}

QString freshToken()
{
    std::array<quint32, 8> words;
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(words.data()), sizeof words).toHex());
}

} // namespace

std::optional<QString> VintrelleInstaller::detectedUserLibrary()
{
    const QString remembered = QSettings("Vintrelle", "Vintrelle").value("VintrelleUserLibrary").toString();
    if (!remembered.isEmpty() && QFileInfo(remembered).isDir()) return remembered;

    for (const LibrarySettings &settings : librarySettingsNewestFirst()) {
        const auto project = userLibraryProject(settings.file);
        if (!project || project->first.isEmpty() || project->second.isEmpty()) continue;
        const QString windowsOrNative = project->first + '/' + project->second;
        const std::optional<QString> folder = settings.winePrefix.isEmpty()
                                                  ? QDir::cleanPath(windowsOrNative)
                                                  : pathInWinePrefix(settings.winePrefix, windowsOrNative);
        if (folder && QDir::isAbsolutePath(*folder) && QFileInfo(*folder).isDir()) return folder;
    }
    return std::nullopt;
}

bool VintrelleInstaller::installFrom(const QString &source, const QString &library, const QString &backups,
                                     std::optional<QString> *error)
{
    const QString remoteScripts = library + "/Remote Scripts";
    const QString installed = remoteScripts + "/VintrelleBridge";
    const QString staging = remoteScripts + "/.vintrelle-install-" + newUuid();
    const bool replacing = QFileInfo::exists(installed);

    const auto fail = [error](const QString &message) {
        if (error) *error = message;
        return false;
    };
    const auto failStaged = [&](const QString &message) {
        std::error_code ignored;
        fs::remove_all(fsPath(staging), ignored);
        return fail(message);
    };

    QJsonObject settings;
    const QString settingsPath = installed + "/config.json";
    if (QFileInfo::exists(settingsPath)) {
        const std::optional<QJsonObject> existing = readSettings(settingsPath);
        if (!existing) return fail(unreadableSettingsMessage);
        settings = *existing;
    } else {
        settings = {{"port", VintrelleBridgeConfiguration::defaultPort}, {"token", freshToken()}};
    }

    std::error_code code;
    fs::create_directories(fsPath(remoteScripts), code);
    if (code) return fail(errorText(code));
    // A bridge folder that is itself a link is copied from where it points: the staging folder
    // must be a real folder of its own.
    if (replacing)
        fs::copy(fsPath(QFileInfo(installed).canonicalFilePath()), fsPath(staging), treeCopy, code);
    else
        fs::create_directory(fsPath(staging), code);
    if (code) return failStaged(errorText(code));

    QString message;
    for (const char *name : {"__init__.py", "bridge.py"}) {
        QByteArray script;
        if (!readFile(source + '/' + name, &script, &message) ||
            !writeFile(staging + '/' + name, script, std::nullopt, &message))
            return failStaged(message);
    }
    if (!writeFile(staging + "/config.json", QJsonDocument(settings).toJson(QJsonDocument::Indented),
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner, &message))
        return failStaged(message);

    QString backup;
    if (replacing) {
        const QString backupsFolder = backups.isEmpty() ? VintrelleBridgeBackupsPath() : backups;
        fs::create_directories(fsPath(backupsFolder), code);
        if (code) return failStaged(errorText(code));
        backup = backupsFolder + '/' + newUuid();
        if (!moveItem(installed, backup, &message)) return failStaged(message);
    }
    if (const int failure = renamePath(staging, installed)) {
        message = errnoText(failure);
        QString ignored;
        if (replacing) moveItem(backup, installed, &ignored);
        return failStaged(message);
    }
    return true;
}

void VintrelleInstaller::installBridge(const FolderChooser &chooseFolder, const Reply &reply)
{
    std::optional<QString> library = detectedUserLibrary();
    if (!library && chooseFolder) library = chooseFolder();
    if (!library || library->isEmpty()) {
        reply(std::nullopt, cancelledMessage);
        return;
    }
    const QString userLibrary = QFileInfo(*library).absoluteFilePath();
    const QString source = VintrelleResourcesPath() + "/VintrelleBridge";
    std::optional<QString> error;
    const bool installed = QFileInfo(source).isDir() && installFrom(source, userLibrary, {}, &error);
    if (installed) QSettings("Vintrelle", "Vintrelle").setValue("VintrelleUserLibrary", userLibrary);
    const QString message = installed ? installedMessage : error.value_or(genericFailureMessage);
    reply(QJsonObject{{"ok", installed}, {"message", message}},
          installed ? std::nullopt : std::optional<QString>(message));
}
