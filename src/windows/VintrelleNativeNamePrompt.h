#pragma once

// Asks for one name: a new category's, a new sub-category's, or a new name for an item. It knows
// nothing of the library; the entered name (trimmed) or none for a cancel goes to the completion,
// at most once per opening.

#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QLineEdit;
class QWidget;
class VintrelleNamePanel;

class VintrelleNativeNamePrompt : public QObject
{
    Q_OBJECT

public:
    using Completion = std::function<void(std::optional<QString> name)>;

    VintrelleNativeNamePrompt();
    ~VintrelleNativeNamePrompt() override;

    // Opens with `name` (none: an empty field) fully selected, the window's top-left corner at
    // `topLeft` in global coordinates. An earlier completion still waiting is dropped uncalled.
    void openWithTitle(const QString &title, const std::optional<QString> &name, const QPoint &topLeft,
                       Completion completion);

    void save();
    void cancel();
    void finish(const std::optional<QString> &name);

    // Called with the window whenever the user moves it.
    std::function<void(QWidget *window)> onMoved;

    QWidget *window() const;
    QLineEdit *field() const;

signals:
    // A blank name was refused with the system beep; the prompt stays open.
    void blankNameRefused();

private:
    void placeAtTopLeft(const QPoint &topLeft);

    std::unique_ptr<VintrelleNamePanel> m_panel;
    Completion m_completion;
};
