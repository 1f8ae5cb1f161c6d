#pragma once

// What the windows' tests share: libraries written as outlines, a real store behind the command
// router, and the library editor driven by scripts of user steps.

#include "VintrelleCommandRouter.h"
#include "VintrelleEditEntryPoints.h"
#include "VintrelleEditModel.h"
#include "VintrelleEditTreeModel.h"
#include "VintrelleNativeConnection.h"
#include "VintrelleNativeEdit.h"
#include "VintrelleNativeNamePrompt.h"
#include "VintrelleNativeStore.h"
#include "VintrelleTestSupport.h"

#include <QAbstractItemView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>

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
    QString token;
    for (const QChar c : outline + ' ') {
        if (c != '[' && c != ']' && c != ' ') {
            token += c;
            continue;
        }
        if (!token.isEmpty()) {
            const QString id = token.section('=', 0, 0), usual = titles.value(id, id);
            const QString title = token.contains('=') ? token.section('=', 1).replace('_', ' ') : usual;
            if (id[0].isUpper()) {
                categories.append(categoryObject(id, title, open.last() < 0 ? QJsonValue() : categories[open.last()].toObject()["id"]));
            } else {
                QJsonObject owner = categories[open.last()].toObject();
                owner["entries"] = owner["entries"].toArray() << entryObject(id, title, "u:" + usual.toLower());
                categories[open.last()] = owner;
            }
            token.clear();
        }
        if (c == '[')
            open << categories.size() - 1;
        else if (c == ']')
            open.removeLast();
    }
    return categories;
}

inline const QString sampleOutline = QStringLiteral("I[S[s1 s2] K[k1] i1 i2 i3] E[R[r1] e1] M");
inline QJsonArray sampleCategories() { return library(sampleOutline); }

// `count` categories, each the parent of the next.
inline QJsonArray chainCategories(int count)
{
    QJsonArray list;
    for (int level = 0; level < count; ++level)
        list.append(categoryObject(QString("L%1").arg(level), "Level", level ? QJsonValue(QString("L%1").arg(level - 1)) : QJsonValue()));
    return list;
}

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

// The rows the list shows with `expanded` open, top to bottom.
inline QStringList visibleRows(const VintrelleEditModel &model, const QSet<QString> &expanded, const QString &parent = {})
{
    QStringList rows;
    for (const QString &id : model.childrenOf(parent))
        rows << id << (expanded.contains(id) ? visibleRows(model, expanded, id) : QStringList());
    return rows;
}

inline QString titledOutline(const QJsonArray &categories) { return outlineText(VintrelleEditModel(categories), true); }

// The rows a list item model offers, as the titles it shows.
inline QString shownOutline(const QAbstractItemModel *model, const QModelIndex &parent = {})
{
    QStringList parts;
    for (int row = 0; row < model->rowCount(parent); ++row) {
        const QModelIndex index = model->index(row, 0, parent);
        const QString inner = shownOutline(model, index);
        parts << (index.parent() != parent ? QStringLiteral("<wrong parent>")
                  : inner.isEmpty()        ? index.data().toString()
                                           : QStringLiteral("%1[%2]").arg(index.data().toString(), inner));
    }
    return parts.join(' ');
}

inline QAction *actionNamed(const QList<QAction *> &actions, const QString &title)
{
    const auto found = std::find_if(actions.begin(), actions.end(), [&](QAction *action) { return action->text() == title; });
    return found == actions.end() ? nullptr : *found;
}
inline std::optional<QString> optionalId(const QString &id) { return id.isEmpty() ? std::nullopt : std::optional(id); }
inline QString commandText(const std::optional<QJsonObject> &command) { return command ? QString(compact(*command)) : "none"; }
inline QSet<QString> idSet(const QString &spaced)
{
    const QStringList ids = spaced.split(' ', Qt::SkipEmptyParts);
    return {ids.begin(), ids.end()};
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

struct AppliedHome
{
    VintrelleTestHome home;
    AppliedHome() { home.apply(); }
};

// The editor wired as the application wires it, with the name prompt and the edit entry points.
struct EditorHarness : AppliedHome, LibraryHarness
{
    VintrelleNativeNamePrompt prompt;
    VintrelleEditEntryPoints entry{&prompt};
    VintrelleNativeEdit editor;
    int closes = 0, browses = 0, startHeight = 0, startTop = 0;
    QPoint moved;

    explicit EditorHarness(const QJsonArray &categories) : LibraryHarness(home.libraryPath(), categories)
    {
        const auto send = [this](const QJsonObject &command, VintrelleReply reply) { this->send(command, std::move(reply)); };
        // The application's library-changed hook runs before the reply reaches the editor.
        store->changed = [this] { editor.updateLibrary(saved()); };
        editor.command = entry.command = send;
        editor.editAction = [this](const QJsonObject &request) { entry.performNativeEdit(request); };
        editor.onClose = [this] { ++closes; };
        editor.onMoved = [this](const QPoint &topLeft) { moved = topLeft; };
        entry.anchor = [] { return QPoint(60, 60); };
        entry.openEditor = [this] { editor.showAtTopLeft(QPoint(40, 40)); };
        entry.editorWindow = [this] { return &editor; };
        entry.returnToBrowse = [this] { ++browses; };
        editor.updateLibrary(saved());
        editor.showAtTopLeft(QPoint(40, 40));
        startHeight = editor.height();
        startTop = editor.y();
    }

    QJsonArray onDisk() const { return QJsonDocument::fromJson(readFile(home.libraryPath()))["categories"].toArray(); }
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
        } else if (step.startsWith('>')) {
            QTRY_VERIFY(prompt.window()->isVisible());
            QTest::keyClicks(field, step.mid(1));
            QTest::keyClick(field, Qt::Key_Return);
        } else if (verb == "esc") {
            QVERIFY(prompt.window()->isVisible());
            QTest::keyClick(field, Qt::Key_Escape);
        } else if (verb == "prompt") {
            QTRY_VERIFY(prompt.window()->isVisible());
            QCOMPARE(prompt.window()->windowTitle(), argument);
            QCOMPARE(field->selectedText(), field->text()); // typing replaces the current name
        } else if (verb == "alert") {
            QTRY_VERIFY(entry.alert() && entry.alert()->isVisible());
            QCOMPARE(entry.alert()->text() + '|' + entry.alert()->informativeText(), "Could not complete edit|" + argument);
            QCOMPARE(entry.alert()->parentWidget(), prompt.window());
            entry.alert()->reject();
            QTRY_VERIFY(!prompt.window()->isVisible());
        } else if (verb == "quick") {
            QMenu quickMenu;
            const QString id = editor.selectedID().value_or(QString());
            const QJsonObject request{{"op", argument}, {"id", id}, {"name", editor.editModel().node(id)->title}, {"returnToBrowse", true}};
            VintrelleEditCommand(&quickMenu, "QUICK", &entry, request)->trigger();
        } else if (verb == "ctx") {
            const QPoint at = rowRect(argument).center();
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport()->mapToGlobal(at));
            QApplication::sendEvent(viewport(), &event);
            editor.contextMenu()->hide();
        } else if (verb == "menu" || verb == "move" || verb == "moveoff") {
            QAction *moveTo = actionNamed(editor.contextMenu()->actions(), "Move to");
            QAction *item = actionNamed(verb == "menu" ? editor.contextMenu()->actions() : moveTo && moveTo->menu() ? moveTo->menu()->actions() : QList<QAction *>(), argument);
            QVERIFY2(item && item->isEnabled() == (verb != "moveoff"), qPrintable(step));
            item->trigger();
        } else if (verb == "drag") {
            drag(argument.section(':', 0, 0), argument.section(':', 1, 1), argument.section(':', 2, 2), argument.section(':', 3));
        } else if (verb == "undo") {
            editor.undo();
        } else if (verb == "close") {
            QVERIFY(QTest::qWaitForWindowExposed(&editor));
            QTest::keyClick(editor.outline(), Qt::Key_Escape);
        } else if (verb == "nudge") {
            editor.move(editor.pos() + QPoint(30, 10));
        } else if (verb == "show") {
            editor.showAtTopLeft(QPoint(0, 0));
        } else {
            QFAIL(qPrintable("unknown step " + step));
        }
    }

    // Drags row `from` by the mouse over the upper or lower edge or the middle of row `over`;
    // the preview says `notice` there and stays inside the list.
    void drag(const QString &from, const QString &over, const QString &part, const QString &notice)
    {
        VintrelleEditOutline *outline = editor.outline();
        const QPoint start = rowRect(from).center();
        const QRect target = rowRect(over);
        const QPoint end(target.center().x(), part == "up" ? target.top() + 3 : part == "down" ? target.bottom() - 3 : target.center().y());
        QTest::mousePress(viewport(), Qt::LeftButton, {}, start);
        QTest::mouseMove(viewport(), start + QPoint(0, QApplication::startDragDistance() + 2));
        QVERIFY(outline->verticalDragActive() && outline->verticalPreview());
        QTest::mouseMove(viewport(), end);
        QCOMPARE(outline->verticalPreview()->notice(), notice);
        QTest::qWait(3 * VintrelleEditOutline::previewInterval);
        const QRect list(viewport()->mapTo(&editor, QPoint(0, 0)), viewport()->size());
        QVERIFY(list.contains(outline->verticalPreview()->geometry()));
        QTest::mouseRelease(viewport(), Qt::LeftButton, {}, end);
        QVERIFY(!outline->verticalDragActive() && !outline->verticalPreview() && outline->suppressRowClick());
        const QModelIndex selected = editor.treeModel()->indexForID(editor.selectedID().value_or(QString()));
        QVERIFY(outline->visualRect(selected).intersects(viewport()->rect())); // revealed
    }

    // What the user sees, as "key=value" pairs.
    QHash<QString, QString> state() const
    {
        const auto onOff = [](bool on) { return QString(on ? "on" : "off"); };
        const auto point = [](QPoint p) { return QStringLiteral("%1,%2").arg(p.x()).arg(p.y()); };
        const QSet<QString> expanded = editor.expandedIDs();
        QStringList open(expanded.begin(), expanded.end());
        open.sort();
        return {{"sel", editor.selectedID().value_or(QString())},
                {"open", open.join(' ')},
                {"status", editor.status()->isHidden() ? QString() : editor.status()->text()},
                {"undo", onOff(editor.button("Undo")->isEnabled())},
                {"redo", onOff(editor.button("Redo")->isEnabled())},
                {"height", editor.height() == startHeight ? "same" : editor.height() > startHeight ? "taller" : "shorter"},
                {"top", editor.y() == startTop ? "same" : "moved"},
                {"browses", QString::number(browses)},
                {"closes", QString::number(closes)},
                {"shown", onOff(editor.isVisible())},
                {"moved", point(moved)},
                {"pos", point(editor.pos())}};
    }
};
