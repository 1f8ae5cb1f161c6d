#pragma once

// What the tests share: whole files, a temporary home, and running the real `vintrelle` binary.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
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

// One finished run of the real binary: exit status (-1 for a crash or a time-out) and every
// stdout line parsed as a JSON object.
struct VintrelleRun
{
    int status = -1;
    QList<QJsonObject> lines;
    QByteArray out, err;
};

#ifdef VINTRELLE_BINARY
inline VintrelleRun runVintrelle(const QStringList &arguments, const QProcessEnvironment &environment,
                                 const QByteArray &input = {}, int timeoutMilliseconds = 30000)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VINTRELLE_BINARY), arguments);
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
#endif
