#pragma once

// A library editor wired as the application wires it: a real store in a temporary home behind a
// command router, the name prompt and the edit entry points, with every call back counted.

#include "EditorFixtures.h"
#include "VintrelleCommandRouter.h"
#include "VintrelleEditEntryPoints.h"
#include "VintrelleEditTreeModel.h"
#include "VintrelleNativeConnection.h"
#include "VintrelleNativeEdit.h"
#include "VintrelleNativeNamePrompt.h"
#include "VintrelleNativeStore.h"

#include <QAbstractItemView>
#include <QScrollBar>

#include <memory>

struct EditorHarness
{
    VintrelleTestHome home;
    std::unique_ptr<VintrelleNativeStore> store;
    VintrelleNativeConnection connection;
    std::unique_ptr<VintrelleCommandRouter> router;
    VintrelleNativeNamePrompt prompt;
    VintrelleEditEntryPoints entry{&prompt};
    VintrelleNativeEdit editor;
    int closes = 0, browses = 0, editorOpens = 0;

    // Starts with `categories` saved and the editor shown; `ok` tells whether the library was taken.
    explicit EditorHarness(const QJsonArray &categories, bool show = true)
    {
        home.apply();
        store = std::make_unique<VintrelleNativeStore>(home.libraryPath());
        VintrelleError error;
        ok = store->initializeFromPreviousLibrary(QJsonValue(QJsonValue::Undefined), &error)
             && store->commit(stateWith(categories), &error);
        router = std::make_unique<VintrelleCommandRouter>(&connection);
        router->setStore(store.get());
        const auto send = [this](const QJsonObject &command, VintrelleReply reply) {
            router->executeNativeCommand(command, std::move(reply));
        };
        // The application's library-changed hook runs before the reply reaches the editor.
        store->changed = [this] { editor.updateLibrary(saved()); };
        editor.command = send;
        editor.editAction = [this](const QJsonObject &request) { entry.performNativeEdit(request); };
        editor.onClose = [this] { ++closes; };
        entry.command = send;
        entry.anchor = [] { return QPoint(60, 60); };
        entry.openEditor = [this] {
            ++editorOpens;
            editor.showAtTopLeft(QPoint(40, 40));
        };
        entry.editorWindow = [this] { return &editor; };
        entry.returnToBrowse = [this] { ++browses; };
        editor.updateLibrary(saved());
        if (show)
            editor.showAtTopLeft(QPoint(40, 40));
    }

    bool ok = false;

    QJsonArray saved() const { return store->state()->value("categories").toArray(); }
    // What is on disk, read back as the next start would.
    QJsonArray onDisk() const
    {
        return QJsonDocument::fromJson(readFile(home.libraryPath())).object().value("categories").toArray();
    }

    QWidget *viewport() const { return editor.outline()->viewport(); }
    QRect rowRect(const QString &id) const
    {
        return editor.outline()->visualRect(editor.treeModel()->indexForID(id));
    }
    void clickRow(const QString &id, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(viewport(), button, {}, rowRect(id).center());
    }
};

// The library as titles: "Instruments[Synths[Serum Vital] Keys[Piano] Kontakt Serum Pianoteq] ...".
inline QString titledOutline(const QJsonArray &categories)
{
    const VintrelleEditModel model(categories);
    std::function<QString(const QString &)> text = [&](const QString &parent) {
        QStringList parts;
        for (const QString &id : model.childrenOf(parent)) {
            const VintrelleEditModel::Node *node = model.node(id);
            const QString inner = node->kind == VintrelleEditModel::Kind::Category ? text(id) : QString();
            parts << (inner.isEmpty() ? node->title : QStringLiteral("%1[%2]").arg(node->title, inner));
        }
        return parts.join(' ');
    };
    return text({});
}
