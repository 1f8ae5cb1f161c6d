#pragma once

#include <QString>

#include <functional>
#include <optional>

// Runs script in the palette page. The web view implements it; the router only needs to know
// whether the evaluation itself failed.
class VintrellePageEvaluator
{
public:
    using Completion = std::function<void(std::optional<QString> error)>;

    virtual ~VintrellePageEvaluator() = default;
    virtual void evaluate(const QString &script, Completion completion) = 0;
};
