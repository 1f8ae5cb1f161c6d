#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Replaces the file at `path` with `pieces`, written one after another, so that a crash or a
// power cut leaves either the old file or the new one whole: a new file (owner-only) in the same
// folder, its data synced, renamed over the old one, then the folder synced so the rename itself
// lasts. A symbolic link at `path` stays, and its target is replaced. On failure nothing changed
// and `reason` holds the system's reason.
bool VintrelleWriteDurably(const QString &path, const QList<QByteArray> &pieces, QString *reason);
