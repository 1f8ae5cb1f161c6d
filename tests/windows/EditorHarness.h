#pragma once

// What the windows' tests share: libraries as outlines, a real store behind the router, the editor run by user steps.

#include "VintrelleCommandRouter.h"
#include "VintrelleEditEntryPoints.h"
#include "VintrelleEditModel.h"
#include "VintrelleEditTreeModel.h"
#include "VintrelleNativeConnection.h"
#include "VintrelleNativeEdit.h"
#include "VintrelleNativeNamePrompt.h"
#include "VintrelleNativeStore.h"
#include "VintrelleTestSupport.h"
#include "menu/QuickMenuTestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include <memory>

// The library an outline describes, e.g. "I[S[s1 s2] i1] E": upper-case ids are categories, lower-case
// ids plug-ins of the category around them; "S=Synthesizers" names one differently. A plug-in's uri
// comes from its usual title, so i2 and s1 share "u:serum".
inline QJsonArray library(const QString &outline)
{
    static const QHash<QString, QString> titles{
        {"I", "Instruments"}, {"S", "Synths"},  {"K", "Keys"},      {"E", "Effects"},  {"R", "Reverb"},
        {"M", "Empty"},       {"N", "New"},     {"i1", "Kontakt"},  {"i2", "Serum"},   {"i3", "Pianoteq"},
        {"s1", "Serum"},      {"s2", "Vital"},  {"k1", "Piano"},    {"e1", "Pro-Q"},   {"r1", "Valhalla"}};
    QJsonArray categories;
    QList<qsizetype> open{-1}; // the enclosing categories, innermost last
    for (const QString &token : QString(outline).replace("[", " [ ").replace("]", " ] ").split(' ', Qt::SkipEmptyParts)) {
        const QString id = token.section('=', 0, 0), usual = titles.value(id, id),
                      title = token.contains('=') ? token.section('=', 1).replace('_', ' ') : usual;
        if (token == "[") {
            open << categories.size() - 1;
        } else if (token == "]") {
            open.removeLast();
        } else if (id[0].isUpper()) {
            categories.append(categoryObject(id, title, open.last() < 0 ? QJsonValue() : categories[open.last()].toObject()["id"]));
        } else {
            QJsonObject owner = categories[open.last()].toObject();
            owner["entries"] = owner["entries"].toArray() << entryObject(id, title, "u:" + usual.toLower());
            categories[open.last()] = owner;
        }
    }
    return categories;
}

inline const QString sampleOutline = QStringLiteral("I[S[s1 s2] K[k1] i1 i2 i3] E[R[r1] e1] M");
inline QJsonArray sampleCategories() { return library(sampleOutline); }

// The tree in the notation of library(), by ids or by titles.
inline QString outlineText(const VintrelleEditModel &model, bool titles = false, const QString &parent = {})
{
    QStringList parts;
    for (const QString &id : model.childrenOf(parent)) {
        const QString name = titles ? model.node(id)->title : id, inner = outlineText(model, titles, id);
        parts << (inner.isEmpty() ? name : QStringLiteral("%1[%2]").arg(name, inner));
    }
    return parts.join(' ');
}
inline QString titledOutline(const QJsonArray &categories) { return outlineText(VintrelleEditModel(categories), true); }

// The rows a list item model offers, as the titles it shows.
inline QString shownOutline(const QAbstractItemModel *model, const QModelIndex &parent = {})
{
    QStringList parts;
    for (int row = 0; row < model->rowCount(parent); ++row) {
        const QModelIndex index = model->index(row, 0, parent);
        const QString inner = shownOutline(model, index);
        parts << (inner.isEmpty() ? index.data().toString() : QStringLiteral("%1[%2]").arg(index.data().toString(), inner));
    }
    return parts.join(' ');
}

// A real store at `path` holding `categories`, behind the command router.
struct LibraryHarness
{
    std::unique_ptr<VintrelleNativeStore> store;
    VintrelleNativeConnection connection;
    VintrelleCommandRouter router{&connection};
    bool ok = false;

    LibraryHarness(const QString &path, const QJsonArray &categories)
    {
        QFile::remove(path);
        store = std::make_unique<VintrelleNativeStore>(path);
        ok = store->initializeFromPreviousLibrary(QJsonValue(QJsonValue::Undefined), nullptr)
             && store->commit(stateWith(categories), nullptr);
        router.setStore(store.get());
    }
    QJsonArray saved() const { return store->state()->value("categories").toArray(); }
    void send(const QJsonObject &command, VintrelleReply reply) { router.executeNativeCommand(command, std::move(reply)); }
};

// The editor wired as the application wires it, with the name prompt and the edit entry points.
struct EditorHarness : LibraryHarness
{
    VintrelleNativeNamePrompt prompt;
    VintrelleEditEntryPoints entry{&prompt};
    VintrelleNativeEdit editor;
    int closes = 0, browses = 0;
    QPoint moved;

    EditorHarness(const QString &path, const QJsonArray &categories) : LibraryHarness(path, categories)
    {
        editor.command = entry.command = [this](const QJsonObject &command, VintrelleReply reply) { send(command, std::move(reply)); };
        store->changed = [this] { editor.updateLibrary(saved()); }; // as the application's hook, before the reply
        editor.editAction = [this](const QJsonObject &request) { entry.performNativeEdit(request); };
        editor.onClose = [this] { ++closes; };
        editor.onMoved = [this](const QPoint &topLeft) { moved = topLeft; };
        entry.anchor = [] { return QPoint(60, 60); };
        entry.openEditor = [this] { editor.showAtTopLeft(QPoint(40, 40)); };
        entry.editorWindow = [this] { return &editor; };
        entry.returnToBrowse = [this] { ++browses; };
        editor.updateLibrary(saved());
        editor.showAtTopLeft(QPoint(40, 40));
    }

    QWidget *viewport() const { return editor.outline()->viewport(); }
    QRect rowRect(const QString &id) const { return editor.outline()->visualRect(editor.treeModel()->indexForID(id)); }

    // Runs one user step (see tst_native_edit for the notation).
    void step(const QString &step)
    {
        const QString verb = step.section(':', 0, 0), argument = step.section(':', 1);
        QLineEdit *field = prompt.field();
        if (step.startsWith('@')) {
            QTest::mouseClick(viewport(), Qt::LeftButton, {}, rowRect(step.mid(1)).center());
        } else if (step.startsWith('[')) {
            QPushButton *button = editor.button(step.mid(1).chopped(1));
            QVERIFY2(button && button->isEnabled(), qPrintable(step));
            QTest::mouseClick(button, Qt::LeftButton);
        } else if (step.startsWith('>') || step == "esc") {
            QTRY_VERIFY(prompt.window()->isVisible());
            QTest::keyClicks(field, step == "esc" ? QString() : step.mid(1));
            QTest::keyClick(field, step == "esc" ? Qt::Key_Escape : Qt::Key_Return);
        } else if (verb == "alert") {
            QTRY_VERIFY(entry.alert() && entry.alert()->isVisible());
            QCOMPARE(entry.alert()->text() + '|' + entry.alert()->informativeText(), "Could not complete edit|" + argument);
            entry.alert()->reject();
            QTRY_VERIFY(!prompt.window()->isVisible());
        } else if (verb == "quick") {
            QMenu quickMenu;
            const QString id = editor.selectedID().value_or(QString());
            const QJsonObject request{{"op", argument}, {"id", id}, {"name", editor.editModel().node(id)->title}, {"returnToBrowse", true}};
            VintrelleEditCommand(&quickMenu, "QUICK", &entry, request)->trigger();
        } else if (verb == "menu" || verb == "move" || verb == "moveoff") {
            QAction *moveTo = actionTitled(editor.contextMenu()->actions(), "Move to");
            QAction *item = actionTitled(verb == "menu" ? editor.contextMenu()->actions() : moveTo && moveTo->menu() ? moveTo->menu()->actions() : QList<QAction *>(), argument);
            QVERIFY2(item && item->isEnabled() == (verb != "moveoff"), qPrintable(step));
            item->trigger();
        } else if (verb == "drag") { // past the drag distance, then over the middle or the lower edge of a row
            const QStringList part = argument.split(':');
            VintrelleEditOutline *outline = editor.outline();
            const QRect over = rowRect(part[1]);
            const QPoint start = rowRect(part[0]).center(), end(over.center().x(), part[2] == "down" ? over.bottom() - 3 : over.center().y());
            QTest::mousePress(viewport(), Qt::LeftButton, {}, start);
            QTest::mouseMove(viewport(), start + QPoint(0, QApplication::startDragDistance() + 2));
            QVERIFY(outline->verticalDragActive() && outline->verticalPreview());
            QTest::mouseMove(viewport(), end);
            QCOMPARE(outline->verticalPreview()->notice(), part.value(3));
            QTest::mouseRelease(viewport(), Qt::LeftButton, {}, end);
            QVERIFY(!outline->verticalDragActive() && !outline->verticalPreview() && outline->suppressRowClick());
            QVERIFY(rowRect(editor.selectedID().value_or(QString())).intersects(viewport()->rect())); // revealed
        } else if (verb == "undo") {
            editor.undo();
        } else if (verb == "close") {
            editor.move(editor.pos() + QPoint(30, 10));
            QVERIFY(QTest::qWaitForWindowExposed(&editor));
            QTest::keyClick(editor.outline(), Qt::Key_Escape);
        } else {
            QFAIL(qPrintable("unknown step " + step));
        }
    }

    // What the user sees, as "key=value" pairs.
    QHash<QString, QString> state() const
    {
        const auto onOff = [](bool on) { return QString(on ? "on" : "off"); };
        const QSet<QString> expanded = editor.expandedIDs();
        QStringList open(expanded.begin(), expanded.end());
        open.sort();
        return {{"sel", editor.selectedID().value_or(QString())}, {"open", open.join(' ')},
                {"status", editor.status()->isHidden() ? QString() : editor.status()->text()},
                {"undo", onOff(editor.button("Undo")->isEnabled())}, {"redo", onOff(editor.button("Redo")->isEnabled())},
                {"browses", QString::number(browses)}, {"closes", QString::number(closes)}, {"shown", onOff(editor.isVisible())},
                {"moved", QStringLiteral("%1,%2").arg(moved.x()).arg(moved.y())}};
    }
};
