#pragma once

#include "VintrellePageEvaluator.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

class QWebChannel;
class QWebEnginePage;
class QWebEngineProfile;

// The hidden page that the previous library is read from, and that answers commands while the
// library is not ready. Its script messages travel through a private world that the page's own
// scripts cannot reach, labelled there with the real origin of the frame that sent them, so a
// page of another origin or a frame inside one cannot pass for the launcher page.
class VintrelleMigrationPage : public QObject, public VintrellePageEvaluator
{
    Q_OBJECT

public:
    // The only origin whose main frame is trusted: the launcher server.
    static QString trustedOrigin();

    // Where the page's storage (the previous library included) lives: beside the library.
    static QString defaultStoragePath();

    // The browser profile whose storage holds the previous library. Make one per process and
    // keep it while pages use it: a second profile on the same folder waits for the first one's
    // storage lock, and its pages never load.
    static std::unique_ptr<QWebEngineProfile> createProfile(const QString &storagePath = defaultStoragePath());

    // `profile` must outlive the page.
    explicit VintrelleMigrationPage(QWebEngineProfile *profile, QObject *parent = nullptr);
    ~VintrelleMigrationPage() override;

    // Runs `source` at the end of every later document, in main frames only.
    void addDocumentEndScript(const QString &source);
    // The page's first navigation goes to a blank document first: a first navigation that
    // needs the network can wait forever on the profile's cookie store, which the engine sets
    // up only once some page has finished loading.
    void load(const QUrl &url);

    // `script` is one expression. Waits for the page to finish loading (a script run earlier
    // would run in a blank document); fails when the load fails, the script throws or the page
    // is closed first.
    void evaluate(const QString &script, Completion completion) override;

signals:
    // `body` is the posted message when it is an object, else empty. `trusted`: sent by the main
    // frame of the trusted origin.
    void scriptMessage(const QJsonObject &body, bool trusted);

private:
    struct PendingScript
    {
        QString script;
        Completion completion;
    };

    void run(const QString &script, Completion completion);
    void failPending(const QString &reason);
    void receive(const QString &origin, bool top, const QString &text);

    friend class VintrelleScriptMessageReceiver;

    // Destroyed in reverse order: the page before its channel.
    std::unique_ptr<QObject> m_receiver;
    std::unique_ptr<QWebChannel> m_channel;
    std::unique_ptr<QWebEnginePage> m_page;
    bool m_loaded = false;
    bool m_blankStarted = false;
    bool m_blankFinished = false;
    std::optional<QUrl> m_afterBlank;
    QList<PendingScript> m_pending;
};
