#pragma once

#include <QByteArray>
#include <QJsonValue>

// Compact JSON text in UTF-8, as QJsonDocument::toJson(Compact) gives but several times faster:
// the whole library is written on every change, so this sits on the path of every command.
QByteArray VintrelleCompactJson(const QJsonValue &value, qsizetype expectedSize = 0);
