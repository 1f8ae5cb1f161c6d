#pragma once

#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>

// The answer to a command or request: a result, or an error message written for the user.
// Called exactly once, on the main thread.
using VintrelleReply = std::function<void(std::optional<QJsonObject> result, std::optional<QString> error)>;
