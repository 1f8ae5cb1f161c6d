#include "VintrelleWindowActions.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QWidget>

namespace {

QAction *addAction(QWidget *window, const QString &title, const QKeySequence &keys, const std::function<void()> &handler)
{
    auto *action = new QAction(title, window);
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    action->setEnabled(bool(handler));
    if (handler)
        QObject::connect(action, &QAction::triggered, window, handler);
    window->addAction(action);
    return action;
}

// QLineEdit, QTextEdit and QPlainTextEdit all have these slots; other widgets ignore the call.
std::function<void()> onFocusedField(const char *slot)
{
    return [slot] {
        QWidget *focused = QApplication::focusWidget();
        if (focused && focused->metaObject()->indexOfSlot(QByteArray(slot) + "()") >= 0)
            QMetaObject::invokeMethod(focused, slot);
    };
}

} // namespace

QList<QAction *> VintrelleInstallWindowActions(QWidget *window, const VintrelleWindowActionHandlers &handlers)
{
    return {
        addAction(window, QStringLiteral("About Vintrelle"), {}, handlers.about),
        addAction(window, QStringLiteral("Settings…"), QKeySequence(Qt::CTRL | Qt::Key_Comma), handlers.openSettings),
        addAction(window, QStringLiteral("Hide Vintrelle"), QKeySequence(Qt::CTRL | Qt::Key_H), handlers.hide),
        addAction(window, QStringLiteral("Quit Vintrelle"), QKeySequence(Qt::CTRL | Qt::Key_Q), handlers.quit),
        addAction(window, QStringLiteral("Undo"), QKeySequence::Undo, onFocusedField("undo")),
        addAction(window, QStringLiteral("Cut"), QKeySequence::Cut, onFocusedField("cut")),
        addAction(window, QStringLiteral("Copy"), QKeySequence::Copy, onFocusedField("copy")),
        addAction(window, QStringLiteral("Paste"), QKeySequence::Paste, onFocusedField("paste")),
        addAction(window, QStringLiteral("Select All"), QKeySequence::SelectAll, onFocusedField("selectAll")),
    };
}
