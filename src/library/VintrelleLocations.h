#pragma once

#include "VintrelleLibraryDocument.h"

#include <QString>

// Where Vintrelle keeps its files. Every path honours the XDG variables, so tests redirect them
// to temporary folders by setting XDG_DATA_HOME and HOME.

// The library file: <application data>/Vintrelle/native-library.json.
QString VintrelleNativeLibraryPath();

// Where copies of the library are kept before a command replaces or removes much of it: the folder
// "Library Backups" beside the library file.
QString VintrelleLibraryBackupsPath(const QString &libraryPath = VintrelleNativeLibraryPath());

// The folder that receives the previous bridge folder when the bridge is reinstalled.
QString VintrelleBridgeBackupsPath();

// The resources folder (launcher page, VintrelleBridge Remote Script): $VINTRELLE_RESOURCES when
// set, else share/vintrelle beside an installed binary, else the source tree's resources/.
QString VintrelleResourcesPath();

// Creates `folder` and any missing parents, each new one readable only by its owner.
bool VintrelleMakeOwnerOnlyPath(const QString &folder, VintrelleError *error);
