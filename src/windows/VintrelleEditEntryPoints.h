#pragma once

// Edits that may ask for a name first: the quick menu's RENAME, DELETE and "+", and the editor's
// add and rename buttons. A request ({"op": "renamePrompt" | "addCategoryPrompt" | "deletePrompt"
// | any finished command}) opens the name prompt when it needs a name, then sends the finished
// command; a failure is shown in the alert "Could not complete edit".

#include "VintrelleReply.h"

#include <QJsonObject>
#include <QObject>
#include <QPoint>
#include <QPointer>

#include <functional>

class QAction;
class QMenu;
#include <QMessageBox>
class QWidget;
class VintrelleNativeNamePrompt;

class VintrelleEditEntryPoints : public QObject
{
    Q_OBJECT

public:
    // `prompt` must outlive this object.
    explicit VintrelleEditEntryPoints(VintrelleNativeNamePrompt *prompt, QObject *parent = nullptr);

    std::function<void(const QJsonObject &command, VintrelleReply reply)> command; // executeNativeCommand
    std::function<QPoint()> anchor;           // where secondary windows open (top-left, global)
    std::function<void()> openEditor;         // shows the library editor
    std::function<QWidget *()> editorWindow;  // the editor's window, or none while there is no editor
    std::function<void()> returnToBrowse;     // back to the quick menu's main level

    // Handles a menu item made by VintrelleEditCommand: its data must be a command object.
    void performNativeEdit(const QVariant &itemData);
    // Processes an edit request on the next turn of the event loop.
    void performNativeEdit(const QJsonObject &request);
    void completeNativeEdit(const QJsonObject &command);

    // The alert currently shown, if any.
    QMessageBox *alert() const { return m_alert; }

private:
    void process(QJsonObject request);
    void showFailure(const QString &message, bool fromPrompt);

    VintrelleNativeNamePrompt *m_prompt;
    QPointer<QMessageBox> m_alert;
};

// Adds an item `title` to `menu` that hands `command` to `target`'s performNativeEdit.
QAction *VintrelleEditCommand(QMenu *menu, const QString &title, VintrelleEditEntryPoints *target,
                              const QJsonObject &command);
