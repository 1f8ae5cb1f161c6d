#pragma once

// A small library shaped like a real one, and the list the editor would show of it.

#include "VintrelleEditModel.h"
#include "VintrelleTestSupport.h"

#include <QJsonArray>
#include <QSet>
#include <QStringList>

// INSTRUMENTS holds SYNTHS and KEYS, then three plug-ins; the second (i2) shares its uri with s1.
// EFFECTS holds REVERB; EMPTY holds nothing.
inline QJsonArray sampleCategories()
{
    return {
        categoryObject("I", "Instruments", QJsonValue::Null,
                       {entryObject("i1", "Kontakt", "u:kontakt"), entryObject("i2", "Serum", "u:serum"),
                        entryObject("i3", "Pianoteq", "u:pianoteq")}),
        categoryObject("S", "Synths", "I", {entryObject("s1", "Serum", "u:serum"), entryObject("s2", "Vital", "u:vital")}),
        categoryObject("E", "Effects", QJsonValue::Null, {entryObject("e1", "Pro-Q", "u:proq")}),
        categoryObject("K", "Keys", "I", {entryObject("k1", "Piano", "u:piano")}),
        categoryObject("R", "Reverb", "E", {entryObject("r1", "Valhalla", "u:valhalla")}),
        categoryObject("M", "Empty", QJsonValue::Null),
    };
}

// `count` categories, each the parent of the next; the first is at the top level.
inline QJsonArray chainCategories(int count)
{
    QJsonArray list;
    for (int level = 0; level < count; ++level)
        list.append(categoryObject(QStringLiteral("L%1").arg(level), QStringLiteral("Level %1").arg(level),
                                   level ? QJsonValue(QStringLiteral("L%1").arg(level - 1)) : QJsonValue()));
    return list;
}

// The tree as text: "I[S[s1 s2] K[k1] i1 i2 i3] E[R[r1] e1] M".
inline QString outlineText(const VintrelleEditModel &model, const QString &parent = {})
{
    QStringList parts;
    for (const QString &id : model.childrenOf(parent)) {
        const VintrelleEditModel::Node *node = model.node(id);
        parts << (node->kind == VintrelleEditModel::Kind::Category && !node->children.isEmpty()
                      ? QStringLiteral("%1[%2]").arg(id, outlineText(model, id))
                      : id);
    }
    return parts.join(' ');
}

// The rows the list shows with `expanded` open, top to bottom.
inline QStringList visibleRows(const VintrelleEditModel &model, const QSet<QString> &expanded, const QString &parent = {})
{
    QStringList rows;
    for (const QString &id : model.childrenOf(parent)) {
        rows << id;
        if (expanded.contains(id))
            rows << visibleRows(model, expanded, id);
    }
    return rows;
}
