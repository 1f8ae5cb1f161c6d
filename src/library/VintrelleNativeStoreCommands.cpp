// The library commands: every edit works on a copy, is validated and saved whole, and only then
// replaces the store's state.

#include "VintrelleLibraryKeys.h"
#include "VintrelleNativeStore.h"

#include <QHash>
#include <QJsonDocument>
#include <QSet>
#include <QUuid>

#include <cmath>
#include <queue>

namespace {

namespace key = VintrelleKeys;

QString newIdentifier()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// Where the command's `id` and `categoryID` point in the working list; -1 when nowhere.
struct Lookup
{
    qsizetype destination = -1; // category named by `categoryID`
    qsizetype category = -1;    // category named by `id`
    qsizetype owner = -1;       // category holding the entry named by `id`
    qsizetype entry = -1;       // that entry's position in its owner
};

bool replaces(const QJsonObject &importCommand)
{
    const QJsonValue replace = importCommand.value(QLatin1String("replace"));
    return replace.isBool() ? replace.toBool() : (replace.isDouble() && replace.toDouble() != 0);
}

// Reset, a replacing import, and deleting a category that holds anything throw away much at once.
bool discardsMuch(const QString &op, const QJsonObject &command, const QJsonArray &before, const Lookup &found)
{
    if (op == QLatin1String("reset"))
        return true;
    if (op == QLatin1String("import"))
        return replaces(command);
    if (op != QLatin1String("delete") || found.category < 0)
        return false;
    const QJsonObject category = before.at(found.category).toObject();
    if (!category.value(key::entries).toArray().isEmpty())
        return true;
    const QJsonValue id = category.value(key::id);
    for (const QJsonValue &other : before)
        if (other.toObject().value(key::parentId) == id)
            return true;
    return false;
}

bool holdsUri(const QJsonObject &category, const QJsonValue &uri)
{
    for (const QJsonValue &entry : category.value(key::entries).toArray())
        if (entry.toObject().value(key::uri) == uri)
            return true;
    return false;
}

void appendEntry(QJsonArray &list, qsizetype categoryIndex, const QJsonObject &entry)
{
    QJsonObject category = list.at(categoryIndex).toObject();
    QJsonArray entries = category.value(key::entries).toArray();
    entries.append(entry);
    category.insert(key::entries, entries);
    list.replace(categoryIndex, category);
}

QJsonObject takeEntry(QJsonArray &list, qsizetype categoryIndex, qsizetype position)
{
    QJsonObject category = list.at(categoryIndex).toObject();
    QJsonArray entries = category.value(key::entries).toArray();
    const QJsonObject entry = entries.takeAt(position).toObject();
    category.insert(key::entries, entries);
    list.replace(categoryIndex, category);
    return entry;
}

bool deleteItem(QJsonArray &list, const Lookup &found, VintrelleError *error)
{
    if (found.category >= 0) {
        QSet<QString> doomed{list.at(found.category).toObject().value(key::id).toString()};
        for (bool grew = true; grew;) { // each pass reaches one level deeper
            grew = false;
            for (const QJsonValue &value : std::as_const(list)) {
                const QJsonObject category = value.toObject();
                const QJsonValue parent = category.value(key::parentId);
                const QString id = category.value(key::id).toString();
                if (parent.isString() && doomed.contains(parent.toString()) && !doomed.contains(id)) {
                    doomed.insert(id);
                    grew = true;
                }
            }
        }
        QJsonArray kept;
        for (const QJsonValue &value : std::as_const(list))
            if (!doomed.contains(value.toObject().value(key::id).toString()))
                kept.append(value);
        list = kept;
        return true;
    }
    if (found.owner >= 0) {
        takeEntry(list, found.owner, found.entry);
        return true;
    }
    return VTFail(error, QStringLiteral("Item is no longer available."));
}

// `moved` tells whether the item left its position.
bool reorderItem(QJsonArray &list, const Lookup &found, const QJsonValue &indexValue, bool *moved, VintrelleError *error)
{
    const QString unavailable = QStringLiteral("Choose an available position.");
    if (found.category < 0 && found.owner < 0)
        return VTFail(error, unavailable);
    const auto validIndex = [&](qsizetype length) -> std::optional<qsizetype> {
        if (!indexValue.isDouble())
            return std::nullopt;
        const double index = indexValue.toDouble();
        if (!std::isfinite(index) || std::floor(index) != index || index < 0 || index >= double(length))
            return std::nullopt;
        return qsizetype(index);
    };

    if (found.owner >= 0 && found.category < 0) {
        QJsonObject category = list.at(found.owner).toObject();
        QJsonArray entries = category.value(key::entries).toArray();
        const auto index = validIndex(entries.size());
        if (!index)
            return VTFail(error, unavailable);
        if ((*moved = *index != found.entry)) {
            const QJsonValue entry = entries.takeAt(found.entry);
            entries.insert(*index, entry);
            category.insert(key::entries, entries);
            list.replace(found.owner, category);
        }
        return true;
    }

    const QJsonValue parent = list.at(found.category).toObject().value(key::parentId);
    QList<qsizetype> siblingSlots;
    QJsonArray siblings;
    qsizetype itemPosition = -1;
    for (qsizetype index = 0; index < list.size(); ++index) {
        if (list.at(index).toObject().value(key::parentId) != parent)
            continue;
        if (index == found.category)
            itemPosition = siblingSlots.size();
        siblingSlots.append(index);
        siblings.append(list.at(index));
    }
    const auto index = validIndex(siblings.size());
    if (!index)
        return VTFail(error, unavailable);
    if (!(*moved = *index != itemPosition))
        return true;
    const QJsonValue item = siblings.takeAt(itemPosition);
    siblings.insert(*index, item);
    for (qsizetype position = 0; position < siblingSlots.size(); ++position)
        list.replace(siblingSlots.at(position), siblings.at(position));
    return true;
}

// `added` tells whether the library changed: something added, or a library replaced.
bool importLibrary(QJsonArray &list, const QJsonObject &command, bool *added, VintrelleError *error)
{
    const QString unsupported = VintrelleMessages::unsupportedFile;
    const QJsonValue contents = command.value(QLatin1String("contents"));
    if (!contents.isString() || contents.toString().size() > VintrelleLimits::importTextUnits)
        return VTFail(error, unsupported);
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(contents.toString().toUtf8(), &parseError);
    const QJsonObject file = document.object();
    const QJsonValue version = file.value(QLatin1String("version"));
    if (parseError.error != QJsonParseError::NoError || !document.isObject() ||
        file.value(QLatin1String("format")) != QJsonValue(QStringLiteral("Vintrelle Library")) ||
        !version.isDouble() || version.toDouble() != 1 || !file.value(key::categories).isArray())
        return VTFail(error, unsupported);

    // Entry identifiers of a file never matter: they could collide with the library's own.
    QJsonArray imported = file.value(key::categories).toArray();
    for (qsizetype index = 0; index < imported.size(); ++index) {
        QJsonObject category = imported.at(index).toObject();
        if (!imported.at(index).isObject() || !category.value(key::entries).isArray())
            continue;
        QJsonArray entries = category.value(key::entries).toArray();
        for (qsizetype position = 0; position < entries.size(); ++position) {
            if (!entries.at(position).isObject())
                continue;
            QJsonObject entry = entries.at(position).toObject();
            entry.insert(key::id, newIdentifier());
            if (!entry.contains(key::path))
                entry.insert(key::path, QString());
            entries.replace(position, entry);
        }
        category.insert(key::entries, entries);
        imported.replace(index, category);
    }
    if (!VTValidateCategories(imported, error))
        return false;

    const bool replacing = replaces(command);
    *added = replacing && !list.isEmpty();
    if (replacing)
        list = QJsonArray();

    // Sibling positions by parent ("" stands for top level: identifiers are never blank).
    const auto parentKey = [](const QJsonValue &parent) { return parent.isNull() ? QString() : parent.toString(); };
    QHash<QString, QList<qsizetype>> childrenInList;
    for (qsizetype index = 0; index < list.size(); ++index)
        childrenInList[parentKey(list.at(index).toObject().value(key::parentId))].append(index);
    QHash<qsizetype, QSet<QString>> urisOfTarget;

    // Parents are placed before their children; among ready categories the file order decides.
    QHash<QString, QList<qsizetype>> childrenInFile;
    std::priority_queue<qsizetype, std::vector<qsizetype>, std::greater<>> ready;
    for (qsizetype index = 0; index < imported.size(); ++index) {
        const QJsonValue parent = imported.at(index).toObject().value(key::parentId);
        if (parent.isNull())
            ready.push(index);
        else
            childrenInFile[parent.toString()].append(index);
    }
    QHash<QString, QString> mapped; // file category id -> library category id
    while (!ready.empty()) {
        const QJsonObject source = imported.at(ready.top()).toObject();
        ready.pop();
        const QJsonValue fileParent = source.value(key::parentId);
        const QJsonValue newParent = fileParent.isNull() ? QJsonValue() : QJsonValue(mapped.value(fileParent.toString()));
        const QString name = source.value(key::name).toString();
        QList<qsizetype> &siblings = childrenInList[parentKey(newParent)];

        qsizetype target = -1;
        if (!replacing) {
            for (const qsizetype candidate : std::as_const(siblings)) {
                if (list.at(candidate).toObject().value(key::name).toString().compare(name, Qt::CaseInsensitive) == 0) {
                    target = candidate;
                    break;
                }
            }
        }
        if (target < 0) {
            target = list.size();
            list.append(QJsonObject{
                {key::id, newIdentifier()}, {key::name, name}, {key::parentId, newParent}, {key::entries, QJsonArray()}});
            siblings.append(target);
            *added = true;
        }
        const QString targetId = list.at(target).toObject().value(key::id).toString();
        const QString sourceId = source.value(key::id).toString();
        mapped.insert(sourceId, targetId);

        auto known = urisOfTarget.find(target);
        if (known == urisOfTarget.end()) {
            QSet<QString> uris;
            for (const QJsonValue &entry : list.at(target).toObject().value(key::entries).toArray())
                uris.insert(entry.toObject().value(key::uri).toString());
            known = urisOfTarget.insert(target, uris);
        }
        QJsonObject targetCategory = list.at(target).toObject();
        QJsonArray targetEntries = targetCategory.value(key::entries).toArray();
        for (const QJsonValue &entry : source.value(key::entries).toArray()) {
            const QString uri = entry.toObject().value(key::uri).toString();
            if (known->contains(uri))
                continue;
            known->insert(uri);
            targetEntries.append(entry);
            *added = true;
        }
        targetCategory.insert(key::entries, targetEntries);
        list.replace(target, targetCategory);

        for (const qsizetype child : childrenInFile.value(sourceId))
            ready.push(child);
    }
    return true;
}

} // namespace

std::optional<QJsonObject> VintrelleNativeStore::perform(const QJsonObject &command, VintrelleError *error)
{
    const QString op = command.value(QLatin1String("op")).toString();
    if (!m_state) {
        VTFail(error, QStringLiteral("Library is not ready. Try again."));
        return std::nullopt;
    }
    const QJsonArray current = m_state->value(key::categories).toArray();

    if (op == QLatin1String("history"))
        return QJsonObject{{"canUndo", m_undo.isEmpty() ? 0 : 1}, {"canRedo", m_redo.isEmpty() ? 0 : 1}};
    if (op == QLatin1String("export")) {
        const QJsonDocument file(QJsonObject{{"format", "Vintrelle Library"}, {"version", 1}, {"categories", current}});
        QByteArray text = file.toJson(QJsonDocument::Indented);
        // Deeply nested extra keys can indent past what import reads; compact text always fits.
        if (text.size() > VintrelleLimits::importFileBytes)
            text = file.toJson(QJsonDocument::Compact);
        return QJsonObject{{"contents", QString::fromUtf8(text)}};
    }

    // Qt's JSON containers copy on write: the working list and the snapshot never see each
    // other's changes, and neither can reach the saved state.
    const QJsonArray snapshot = current;
    QJsonArray list = current;
    // The cache describes the current categories: it saw them when they were read or saved.
    Lookup found;
    if (const auto item = m_cache.find(command.value(key::id))) {
        if (item->entry < 0) {
            found.category = item->category;
        } else {
            found.owner = item->category;
            found.entry = item->entry;
        }
    }
    if (const auto destination = m_cache.find(command.value(QLatin1String("categoryID"))); destination && destination->entry < 0)
        found.destination = destination->category;
    const QJsonValue nameValue = command.value(key::name);
    const QString name = nameValue.isString() ? nameValue.toString().trimmed() : QString();
    const bool nameFits = VTText(name, VintrelleLimits::name);

    bool ok = true, changes = true; // a command tells when it leaves the library as it was
    if (op == QLatin1String("undo") || op == QLatin1String("redo")) {
        const QList<QJsonArray> &history = op == QLatin1String("undo") ? m_undo : m_redo;
        if (history.isEmpty())
            ok = VTFail(error, op == QLatin1String("undo") ? QStringLiteral("Nothing to undo.")
                                                           : QStringLiteral("Nothing to redo."));
        else
            list = history.last();
    } else if (op == QLatin1String("addCategory")) {
        const QJsonValue parent = command.value(QLatin1String("categoryID"));
        const bool underParent = parent.isString() && !parent.toString().isEmpty();
        if (!nameFits)
            ok = VTFail(error, QStringLiteral("Enter a category name (up to 500 characters)."));
        else if (underParent && found.destination < 0)
            ok = VTFail(error, QStringLiteral("Category is no longer available."));
        else
            list.append(QJsonObject{{key::id, newIdentifier()},
                                    {key::name, name},
                                    {key::parentId, underParent ? parent : QJsonValue()},
                                    {key::entries, QJsonArray()}});
    } else if (op == QLatin1String("rename")) {
        if ((found.category < 0 && found.owner < 0) || !nameFits) {
            ok = VTFail(error, QStringLiteral("Choose an available item and enter a name."));
        } else if (found.category >= 0) {
            QJsonObject category = list.at(found.category).toObject();
            changes = category.value(key::name) != QJsonValue(name);
            category.insert(key::name, name);
            list.replace(found.category, category);
        } else {
            QJsonObject category = list.at(found.owner).toObject();
            QJsonArray entries = category.value(key::entries).toArray();
            QJsonObject entry = entries.at(found.entry).toObject();
            changes = entry.value(key::label) != QJsonValue(name);
            entry.insert(key::label, name);
            entries.replace(found.entry, entry);
            category.insert(key::entries, entries);
            list.replace(found.owner, category);
        }
    } else if (op == QLatin1String("delete")) {
        ok = deleteItem(list, found, error);
    } else if (op == QLatin1String("addPlugin")) {
        const QJsonValue result = command.value(QLatin1String("entry"));
        const QJsonObject source = result.toObject();
        if (found.destination < 0 || !result.isObject())
            ok = VTFail(error, QStringLiteral("Choose an available plug-in and another category."));
        else if (!VTText(source.value(key::uri), VintrelleLimits::uri) || !VTText(source.value(key::name), VintrelleLimits::name))
            ok = VTFail(error, QStringLiteral("Choose a valid search result."));
        else if (holdsUri(list.at(found.destination).toObject(), source.value(key::uri)))
            ok = VTFail(error, QStringLiteral("Already added to this category."));
        else
            appendEntry(list, found.destination,
                        {{key::id, newIdentifier()},
                         {key::label, source.value(key::name)},
                         {key::path, source.contains(key::path) ? source.value(key::path) : QJsonValue(QString())},
                         {key::uri, source.value(key::uri)}});
    } else if (op == QLatin1String("move")) {
        if (found.owner < 0 || found.category >= 0 || found.destination < 0 || found.destination == found.owner) {
            ok = VTFail(error, QStringLiteral("Choose an available plug-in and another category."));
        } else {
            const QJsonValue uri = list.at(found.owner).toObject().value(key::entries).toArray().at(found.entry).toObject().value(key::uri);
            if (holdsUri(list.at(found.destination).toObject(), uri))
                ok = VTFail(error, QStringLiteral("Already added to this category."));
            else
                appendEntry(list, found.destination, takeEntry(list, found.owner, found.entry));
        }
    } else if (op == QLatin1String("reorder")) {
        ok = reorderItem(list, found, command.value(QLatin1String("index")), &changes, error);
    } else if (op == QLatin1String("reset")) {
        changes = !list.isEmpty();
        list = QJsonArray();
    } else if (op == QLatin1String("import")) {
        ok = importLibrary(list, command, &changes, error);
    } else {
        ok = VTFail(error, QStringLiteral("Unknown library action."));
    }
    if (!ok)
        return std::nullopt;

    if (!changes)
        return QJsonObject();
    if (discardsMuch(op, command, snapshot, found) && !keepBackup(snapshot, error))
        return std::nullopt;
    QJsonObject working = *m_state;
    working.insert(key::categories, list);
    if (!commit(working, error))
        return std::nullopt;
    recordHistory(op, snapshot);
    return QJsonObject();
}
