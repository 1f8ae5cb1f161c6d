#pragma once

#include <QString>

// The ready-made category tree, as a library file in compact JSON: 8 top-level categories
// ("starter-0" ...) each followed by its sub-categories ("starter-0-0" ...), all without plug-ins.
QString VintrelleStarterLibraryContents();
