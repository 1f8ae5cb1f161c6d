#pragma once

#include "VintrelleInstaller.h"
#include "VintrellePreferences.h"
#include "VintrelleReply.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QString>

class VintrelleNativeConnection;
class VintrelleNativeStore;
class VintrellePageEvaluator;

// The one entry point through which windows and the command line reach the library, the bridge
// and the installer. Every command is answered exactly once, through its reply, on the main
// thread. While the store holds no library yet, commands go to the palette page instead.
class VintrelleCommandRouter : public QObject
{
    Q_OBJECT

public:
    static constexpr int forwardTimeout = 25000;

    // `connection` must outlive the router.
    explicit VintrelleCommandRouter(VintrelleNativeConnection *connection, QObject *parent = nullptr);

    // The store and the page may be absent (none yet, or torn down); the caller keeps them alive
    // while they are set.
    void setStore(VintrelleNativeStore *store) { m_store = store; }
    void setPage(VintrellePageEvaluator *page) { m_page = page; }
    void setForwardTimeout(int milliseconds) { m_forwardTimeout = milliseconds; }

    // The shortcut and login preferences; the application installs its shortcut applier here.
    VintrellePreferences &preferences() { return m_preferences; }

    // Asks for the Ableton User Library when none is detected; none when the user cancels.
    VintrelleInstaller::FolderChooser chooseUserLibrary;

    // Called when the bridge confirms a load, before the load's reply: the quick menu and the
    // secondary windows close.
    std::function<void()> loadConfirmed;

    void executeNativeCommand(const QJsonObject &command, VintrelleReply reply);

    // The page's answer to a forwarded command: {"requestID", "result"?, "error"?}.
    void nativeCommandResult(const QJsonObject &message);

private:
    void savePreferences(const QJsonObject &command, VintrelleReply reply);
    void search(const QJsonObject &command, VintrelleReply reply);
    void load(const QJsonObject &command, VintrelleReply reply);
    void install(VintrelleReply reply);
    void forward(const QJsonObject &command, VintrelleReply reply);
    void answerForwarded(const QString &requestID, std::optional<QJsonObject> result, std::optional<QString> error);

    VintrelleNativeConnection *m_connection;
    VintrelleNativeStore *m_store = nullptr;
    VintrellePageEvaluator *m_page = nullptr;
    int m_forwardTimeout = forwardTimeout;
    QHash<QString, VintrelleReply> m_nativeReplies;
    VintrellePreferences m_preferences;
};
