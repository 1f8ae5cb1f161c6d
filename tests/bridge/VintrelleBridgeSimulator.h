#pragma once

// The real VintrelleBridge script under the bridge simulator on a free loopback port (needs VINTRELLE_SOURCE_DIR).

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

class VintrelleBridgeSimulator
{
public:
    // Writes into `folder`: config.json, loads.jsonl and, when given, catalogue.json.
    explicit VintrelleBridgeSimulator(const QString &folder, const QByteArray &catalogue = {})
        : m_folder(folder)
    {
        QStringList arguments{VINTRELLE_SOURCE_DIR "/tools/bridge-simulator/vintrelle-bridge-simulator.py", "--config", configPath(), "--port", "0", "--load-log", loadLogPath()};
        QFile file(m_folder.filePath("catalogue.json"));
        if (!catalogue.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(catalogue) == catalogue.size()) arguments << "--catalogue" << file.fileName();
        file.close();
        m_process.setStandardErrorFile(m_folder.filePath("simulator.log"));
        m_process.start("python3", arguments);
        while (!m_process.canReadLine() && m_process.waitForReadyRead(15000)) {} // one JSON line once it listens
        const QJsonObject ready = QJsonDocument::fromJson(m_process.readLine()).object();
        m_port = ready.value("port").toInt();
        m_token = ready.value("token").toString();
    }
    ~VintrelleBridgeSimulator()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) m_process.kill(), m_process.waitForFinished(5000);
    }
    bool ready() const { return m_port > 0 && !m_token.isEmpty(); }
    int port() const { return m_port; }
    QString token() const { return m_token; }
    QString bridgeURL() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    QString configPath() const { return m_folder.filePath("config.json"); }
    QString loadLogPath() const { return m_folder.filePath("loads.jsonl"); }

    // The uris the fake Live loaded, in order.
    QStringList loadedURIs() const
    {
        QFile file(loadLogPath());
        QStringList uris;
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray &line : file.readAll().split('\n'))
                if (!line.isEmpty()) uris << QJsonDocument::fromJson(line)["uri"].toString();
        return uris;
    }

private:
    QDir m_folder;
    QProcess m_process;
    int m_port = 0;
    QString m_token;
};
