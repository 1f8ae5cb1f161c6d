#pragma once

// What the tests share: whole files, library documents, a temporary home, running programs.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

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

// `object` with `key` set to `value`, or removed when `value` is undefined.
inline QJsonObject with(QJsonObject object, const QString &key, const QJsonValue &value = QJsonValue::Undefined)
{
    if (value.isUndefined())
        object.remove(key);
    else
        object.insert(key, value);
    return object;
}

inline QJsonObject entryObject(const QString &id, const QString &label, const QString &uri, const QString &path = {})
{
    return {{"id", id}, {"label", label}, {"uri", uri}, {"path", path}};
}

inline QJsonObject categoryObject(const QString &id, const QString &name, const QJsonValue &parentId = QJsonValue::Null,
                                  const QJsonArray &entries = {})
{
    return {{"id", id}, {"name", name}, {"parentId", parentId}, {"entries", entries}};
}

// `count` categories named "Level", ids L0, L1 and so on, each the parent of the next.
inline QJsonArray chainCategories(int count)
{
    QJsonArray list;
    for (int level = 0; level < count; ++level)
        list.append(categoryObject(QStringLiteral("L%1").arg(level), "Level", level == 0 ? QJsonValue() : QJsonValue(QStringLiteral("L%1").arg(level - 1))));
    return list;
}

inline QJsonObject stateWith(const QJsonArray &categories)
{
    return {{"nativeVersion", 1}, {"categories", categories}, {"bridgeUrl", "http://127.0.0.1:45873"}, {"token", ""}};
}

inline QJsonObject libraryFile(const QJsonArray &categories)
{
    return {{"format", "Vintrelle Library"}, {"version", 1}, {"categories", categories}};
}

inline QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// `categories` categories (every fourth one top level, the others under it) holding `entries`
// plug-ins in total. Identifiers are `idWidth` characters long at least (36 is a UUID's length)
// and uris `uriLength`, so a caller can build a library of a realistic or of the largest size.
inline QJsonArray generatedCategories(int categories, int entries, int idWidth = 0, int uriLength = 300)
{
    const auto id = [idWidth](const QString &text) { return text.leftJustified(idWidth, QLatin1Char('-')); };
    QJsonArray list;
    for (int c = 0; c < categories; ++c) {
        QJsonArray items;
        const int count = entries / categories + (c < entries % categories ? 1 : 0);
        for (int e = 0; e < count; ++e) {
            const QString uri = QStringLiteral("query:Plugins#VST3:Vendor:%1:%2:").arg(c).arg(e);
            items.append(entryObject(id(QStringLiteral("E%1-%2").arg(c).arg(e)), QStringLiteral("Plug-in number %1").arg(e),
                                     uri.leftJustified(uriLength, QLatin1Char('x')), QStringLiteral("Plugins/VST3/Vendor %1").arg(c)));
        }
        const QJsonValue parent = c % 4 == 0 ? QJsonValue() : QJsonValue(id(QStringLiteral("C%1").arg(c - c % 4)));
        list.append(categoryObject(id(QStringLiteral("C%1").arg(c)), QStringLiteral("Category number %1").arg(c), parent, items));
    }
    return list;
}

// A throwaway home: HOME, the XDG data, config and runtime folders all live in one temporary
// folder, and nothing of the developer's own (Wine prefix, bridge configuration) leaks in.
class VintrelleTestHome
{
public:
    VintrelleTestHome()
    {
        QDir().mkpath(home());
        QDir().mkpath(runtime());
        QFile::setPermissions(runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QString path(const QString &relative = {}) const { return relative.isEmpty() ? m_root.path() : m_root.filePath(relative); }
    QString home() const { return path("home"); }
    QString data() const { return path("data"); }
    QString config() const { return path("config"); }
    QString runtime() const { return path("runtime"); }
    QString libraryPath() const { return path("data/Vintrelle/native-library.json"); }
    // Where the running instance listens.
    QString instanceFolder() const { return path("runtime/vintrelle"); }
    QString instanceSocket() const { return path("runtime/vintrelle/vintrelle.socket"); }

    // Points this process at the home (for tests that run the code in-process).
    void apply() const
    {
        const QProcessEnvironment environment = processEnvironment();
        for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"})
            qputenv(name, QFile::encodeName(environment.value(QString::fromLatin1(name))));
        qunsetenv("WINEPREFIX");
        qunsetenv("VINTRELLE_BRIDGE_CONFIG");
    }

    // The environment of a child process that lives in this home.
    QProcessEnvironment processEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home());
        environment.insert("XDG_DATA_HOME", data());
        environment.insert("XDG_CONFIG_HOME", config());
        environment.insert("XDG_RUNTIME_DIR", runtime());
        environment.remove("WINEPREFIX");
        environment.remove("VINTRELLE_BRIDGE_CONFIG");
        return environment;
    }

private:
    QTemporaryDir m_root;
};

// One finished run of a program: exit status (-1 for a crash or a time-out) and every stdout
// line parsed as a JSON object.
struct VintrelleRun
{
    int status = -1;
    QList<QJsonObject> lines;
    QByteArray out, err;
};

inline VintrelleRun runProgram(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
                               const QByteArray &input = {}, int timeoutMilliseconds = 30000)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    VintrelleRun run;
    if (!process.waitForFinished(timeoutMilliseconds)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    for (const QByteArray &line : run.out.split('\n'))
        if (!line.isEmpty())
            run.lines << QJsonDocument::fromJson(line).object();
    return run;
}

#ifdef VINTRELLE_BINARY
inline VintrelleRun runVintrelle(const QStringList &arguments, const QProcessEnvironment &environment,
                                 const QByteArray &input = {}, int timeoutMilliseconds = 30000)
{
    return runProgram(QStringLiteral(VINTRELLE_BINARY), arguments, environment, input, timeoutMilliseconds);
}
#endif

// What `program` prints on its standard output (it has 10 s to finish).
inline QString outputOf(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Drives the X server like a user: `arguments` are xdotool's, separated by spaces.
inline bool xdotool(const QString &arguments)
{
    return QProcess::execute("xdotool", arguments.split(u' ', Qt::SkipEmptyParts)) == 0;
}

#ifdef QT_NETWORK_LIB
#include <QElapsedTimer>
#include <QTcpSocket>

// Everything a peer sends on `socket` until it closes; `closed` tells whether it closed within 10 s.
inline QByteArray readToEnd(QTcpSocket &socket, bool *closed = nullptr)
{
    QElapsedTimer timer;
    timer.start();
    QByteArray bytes;
    while (socket.state() == QAbstractSocket::ConnectedState && timer.elapsed() < 10000) {
        socket.waitForReadyRead(100);
        bytes += socket.readAll();
    }
    if (closed)
        *closed = socket.state() != QAbstractSocket::ConnectedState;
    return bytes + socket.readAll();
}

// Everything a loopback server at `port` answers to `request`, sent on a connection of its own.
inline QByteArray exchange(quint16 port, const QByteArray &request, bool *closed = nullptr)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return "client failed";
    socket.write(request);
    return readToEnd(socket, closed);
}
#endif

#if defined(VINTRELLE_BINARY) && defined(QT_NETWORK_LIB)
#include <QLocalSocket>

// The desktop program running in a home (offscreen unless the environment says otherwise);
// stopped, and killed if need be, when the object goes.
class VintrelleRunningApp
{
public:
    explicit VintrelleRunningApp(const QProcessEnvironment &environment, const QStringList &arguments = {})
    {
        // A first start migrates through the browser engine (its own tests cover that); here the
        // instance starts from the starter library, saved by an in-process run.
        if (!QFile::exists(environment.value("XDG_DATA_HOME") + "/Vintrelle/native-library.json"))
            runVintrelle({"--command", R"({"op":"history"})"}, environment);
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(VINTRELLE_BINARY), arguments);
        m_process.waitForStarted();
    }
    ~VintrelleRunningApp() { stop(); }

    QProcess &process() { return m_process; }
    qint64 pid() const { return m_process.processId(); }
    bool isRunning() const { return m_process.state() == QProcess::Running; }

    // Waits until `socketPath` accepts connections (the instance listens).
    bool waitUntilListening(const QString &socketPath, int timeoutMilliseconds = 15000)
    {
        QDeadlineTimer deadline(timeoutMilliseconds);
        while (!deadline.hasExpired() && isRunning()) {
            QLocalSocket probe;
            probe.connectToServer(socketPath);
            if (probe.waitForConnected(200))
                return true;
            QTest::qWait(25);
        }
        return false;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    QProcess m_process;
};
#endif

#ifdef QT_WIDGETS_LIB
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>

// What a test saw of a modal dialog it answered.
struct VintrelleModalAnswer
{
    bool seen = false;
    QString title, text, informativeText;
    QStringList buttons; // push buttons, in order
};

// Answers the next application-modal dialog from the event loop (first look on a zero timer):
// `answer` acts on it; if it leaves it open the dialog is rejected, so a test never stays
// blocked. Gives up after `waitMilliseconds` without a dialog.
inline std::shared_ptr<VintrelleModalAnswer> answerNextModal(std::function<void(QWidget *)> answer,
                                                             int waitMilliseconds = 10000)
{
    auto seen = std::make_shared<VintrelleModalAnswer>();
    auto *timer = new QTimer(qApp);
    const QDeadlineTimer deadline(waitMilliseconds);
    QObject::connect(timer, &QTimer::timeout, qApp, [timer, seen, answer, deadline] {
        timer->setInterval(10);
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal && !deadline.hasExpired())
            return;
        timer->stop();
        timer->deleteLater();
        if (!modal)
            return;
        seen->seen = true;
        seen->title = modal->windowTitle();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            seen->text = box->text();
            seen->informativeText = box->informativeText();
            for (QAbstractButton *button : box->buttons())
                seen->buttons << button->text();
        } else {
            for (QPushButton *button : modal->findChildren<QPushButton *>())
                seen->buttons << button->text();
        }
        QPointer<QWidget> dialog(modal);
        answer(modal);
        if (dialog && dialog->isVisible())
            if (auto *asDialog = qobject_cast<QDialog *>(dialog.data()))
                asDialog->reject();
    });
    timer->start(0);
    return seen;
}

// Presses the button titled `title` of the next modal dialog.
inline std::shared_ptr<VintrelleModalAnswer> pressInNextModal(const QString &title)
{
    return answerNextModal([title](QWidget *modal) {
        for (QAbstractButton *button : modal->findChildren<QAbstractButton *>())
            if (button->text() == title && button->isVisible())
                return button->click();
    });
}
#endif

// What a reply callback was given: how often, and the last result and error.
struct VintrelleAnswer
{
    int calls = 0;
    std::optional<QJsonObject> result;
    std::optional<QString> error;
};

// Calls `start` with a reply callback that records into the answer returned; with `wait`, waits
// up to 15 s for the first reply (callers check what arrived).
template <typename Start>
std::shared_ptr<VintrelleAnswer> recordAnswer(Start start, bool wait = false)
{
    auto answer = std::make_shared<VintrelleAnswer>();
    start([answer](std::optional<QJsonObject> result, std::optional<QString> error) {
        ++answer->calls;
        answer->result = std::move(result);
        answer->error = std::move(error);
    });
    if (wait)
        (void)QTest::qWaitFor([&] { return answer->calls > 0; }, 15000);
    return answer;
}

// Declares the columns of a data-driven test at once: addColumns<QString, int>({"name", "count"}).
template <typename... Types>
void addColumns(std::initializer_list<const char *> names)
{
    auto name = names.begin();
    (QTest::addColumn<Types>(*name++), ...);
}
