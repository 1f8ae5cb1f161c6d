#pragma once

#include <QString>

#include <optional>

// Asks the user for their Ableton User Library in a folder dialog, modally, above the program's
// floating windows. None when they cancel.
std::optional<QString> VintrelleChooseUserLibrary();
