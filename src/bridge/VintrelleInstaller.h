#pragma once

#include "VintrelleReply.h"

#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>

// Puts the VintrelleBridge Remote Script into the Ableton User Library. The installed folder is
// replaced in a single move at the end, so a failed installation leaves it exactly as it was.
class VintrelleInstaller
{
public:
    // Answers the folder the user picked, or none when they cancelled.
    using FolderChooser = std::function<std::optional<QString>()>;
    using Reply = VintrelleReply;

    // The user default "VintrelleUserLibrary" when it names an existing folder, else the folder
    // named by the newest Ableton "Library.cfg" that points at an existing folder. Candidates from
    // every place Live keeps its preferences (~/Library/Preferences/Ableton on macOS; Wine
    // prefixes on Linux: $WINEPREFIX, then ~/.wine) are pooled and tried newest Live version
    // first; equal versions keep that order.
    static std::optional<QString> detectedUserLibrary();

    // Installs the bridge from the folder `source` (its __init__.py and bridge.py) into
    // `library`/Remote Scripts/VintrelleBridge, keeping a valid existing config.json and moving
    // the previous folder into `backups` (VintrelleBridgeBackupsPath() when empty). On failure
    // `error` gets a sentence for the user; nothing in the library has changed.
    static bool installFrom(const QString &source, const QString &library, const QString &backups = {},
                            std::optional<QString> *error = nullptr);

    // A whole installation as the settings window asks for it: the detected library, else the
    // folder `chooseFolder` answers; the bridge from the resources folder; the user default
    // recorded on success. `reply` is called once: with only the error when the user cancelled,
    // else with {"ok", "message"} and, on failure, the message as the error.
    static void installBridge(const FolderChooser &chooseFolder, const Reply &reply);
};
