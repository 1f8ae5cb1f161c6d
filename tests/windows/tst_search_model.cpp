#include "EditorFixtures.h"
#include "VintrelleSearchModel.h"

#include <QJsonDocument>
#include <QtTest>

namespace {

QJsonArray parsed(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).array();
}

QString destinationsText(const QList<VintrelleSearchDestination> &list)
{
    QStringList parts;
    for (const VintrelleSearchDestination &entry : list)
        parts << QStringLiteral("%1=%2|%3").arg(entry.id, entry.title, entry.toolTip);
    return parts.join(';');
}

// A result named `name`; its uri is "u:" and the name in lower case, so "Serum" is the sample's u:serum.
QJsonObject result(const QString &name)
{
    return {{"name", name}, {"uri", "u:" + name.toLower()}, {"path", "Plugins/" + name}};
}

// Runs `script` against `model`, steps separated by '|':
//   search:TEXT     the field's text is searched (its command, when any, is kept in `sent`)
//   reply:G:NAMES   the reply of generation G: comma-separated result names, "-" for a reply
//                   without "items", "!text" for an error
//   close           the window closes
//   dest:ID         the destination is chosen
//   select:ROW      a result row is selected (-1: none)
//   add             "+ Add Selected" is pressed (its command, when any, is kept in `sent`)
//   finish:ERROR    the addition answers (empty: success)
//   remove:ID       the library changes: category ID is gone
void run(VintrelleSearchModel &model, const QString &script, QList<QJsonObject> &sent)
{
    for (const QString &step : script.split('|')) {
        const QString verb = step.section(':', 0, 0), argument = step.section(':', 1);
        if (verb == u"search") {
            if (const std::optional<QJsonObject> command = model.beginSearch(argument))
                sent << *command;
        } else if (verb == u"reply") {
            const quint64 generation = argument.section(':', 0, 0).toULongLong();
            const QString payload = argument.section(':', 1);
            if (payload.startsWith('!')) {
                model.finishSearch(generation, std::nullopt, payload.mid(1));
            } else if (payload == u"-") {
                model.finishSearch(generation, QJsonObject{{"complete", true}}, std::nullopt);
            } else {
                QJsonArray items;
                for (const QString &name : payload.split(',', Qt::SkipEmptyParts))
                    items << result(name);
                model.finishSearch(generation, QJsonObject{{"items", items}}, std::nullopt);
            }
        } else if (verb == u"close") {
            model.closed();
        } else if (verb == u"dest") {
            model.selectDestination(argument);
        } else if (verb == u"select") {
            model.selectRow(argument.toInt() < 0 ? std::nullopt : std::optional<int>(argument.toInt()));
        } else if (verb == u"add") {
            if (const std::optional<QJsonObject> command = model.beginAdding())
                sent << *command;
        } else if (verb == u"finish") {
            model.finishAdding(argument.isEmpty() ? std::nullopt : std::optional<QString>(argument));
        } else if (verb == u"remove") {
            QJsonArray categories;
            for (const QJsonValue category : model.categories())
                if (category["id"].toString() != argument)
                    categories << category;
            model.setCategories(categories);
        } else {
            QTest::qFail(qPrintable("unknown step " + step), __FILE__, __LINE__);
        }
    }
}

QString names(const QJsonArray &items)
{
    QStringList list;
    for (const QJsonValue item : items)
        list << item["name"].toString();
    return list.join(',');
}

} // namespace

class TestSearchModel : public QObject
{
    Q_OBJECT

private slots:
    void destinations_data()
    {
        QTest::addColumn<QJsonArray>("categories");
        QTest::addColumn<QString>("expected");
        QTest::newRow("tree order, children right after their parent") << sampleCategories()
            << "I=INSTRUMENTS|Instruments;S=INSTRUMENTS / SYNTHS|Instruments / Synths;K=INSTRUMENTS / KEYS|Instruments / Keys;"
               "E=EFFECTS|Effects;R=EFFECTS / REVERB|Effects / Reverb;M=EMPTY|Empty";
        QTest::newRow("a child stored before its parent") << parsed(R"([{"id":"c","name":"Child","parentId":"p","entries":[]},
            {"id":"p","name":"Parent","parentId":null,"entries":[]}])") << "p=PARENT|Parent;c=PARENT / CHILD|Parent / Child";
        QTest::newRow("no parentId key is top level") << parsed(R"([{"id":"a","name":"a","entries":[]}])") << "a=A|a";
        QTest::newRow("a repeated id is not descended into twice") << parsed(R"([{"id":"x","name":"Top","parentId":null},
            {"id":"x","name":"Loop","parentId":"x"},{"id":"y","name":"Under","parentId":"x"}])")
            << "x=TOP|Top;y=TOP / UNDER|Top / Under";
        QTest::newRow("a category that is its own parent never shows") << parsed(R"([{"id":"a","name":"A","parentId":"a"},
            {"id":"b","name":"B","parentId":null}])") << "b=B|B";
        QTest::newRow("upper case is Unicode's") << parsed(R"([{"id":"s","name":"straße émue","parentId":null}])")
            << "s=STRASSE ÉMUE|straße émue";
    }

    void destinations()
    {
        QFETCH(QJsonArray, categories);
        QFETCH(QString, expected);
        QCOMPARE(destinationsText(VintrelleSearchModel::destinationList(categories)), expected);
    }

    void flow_data()
    {
        QTest::addColumn<QJsonArray>("categories");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("items");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("sent");

        const QJsonArray sample = sampleCategories();
        const QString idle = VintrelleSearchModel::idleStatus, found = VintrelleSearchModel::resultsStatus;
        const QString add = "+ Add Selected:on", cannotAdd = "+ Add Selected:off", added = "Added ✓:off";
        const QString search = R"({"op":"search","query":"a"})";
        const QString twoSearches = search + R"( {"op":"search","query":"b"})";

        QTest::newRow("search and its results") << sample << "dest:E|search:  a \n|reply:1:Reverb,Hybrid Reverb"
            << "Reverb,Hybrid Reverb" << found << cannotAdd << search;
        QTest::newRow("blank query sends nothing") << sample << "search: \t \n" << "" << VintrelleSearchModel::blankQueryStatus
            << cannotAdd << "";
        QTest::newRow("replies in order: the latest wins") << sample << "search:a|search:b|reply:1:A|reply:2:B" << "B" << found
            << cannotAdd << twoSearches;
        QTest::newRow("replies reversed: the stale one is dropped") << sample << "search:a|search:b|reply:2:B|reply:1:A" << "B"
            << found << cannotAdd << twoSearches;
        QTest::newRow("an error keeps the results") << sample << "search:a|reply:1:A|search:b|reply:2:!Ableton is not running."
            << "A" << "Ableton is not running." << cannotAdd << twoSearches;
        QTest::newRow("a reply without items") << sample << "search:a|reply:1:-" << "" << VintrelleSearchModel::noResultsStatus
            << cannotAdd << search;
        QTest::newRow("closed while searching: the late reply changes nothing") << sample << "search:a|close|reply:1:A" << ""
            << idle << cannotAdd << search;
        QTest::newRow("a new search clears the selection") << sample << "dest:E|search:a|reply:1:A|select:0|search:b|reply:2:B"
            << "B" << found << cannotAdd << twoSearches;

        const QString addNew = search + R"( {"categoryID":"E","entry":{"name":"New","path":"Plugins/New","uri":"u:new"},"op":"addPlugin"})";
        QTest::newRow("adding disables the button") << sample << "dest:E|search:a|reply:1:New|select:0|add" << "New"
            << VintrelleSearchModel::addingStatus << cannotAdd << addNew;
        QTest::newRow("added") << sample << "dest:E|search:a|reply:1:New|select:0|add|finish:" << "New"
            << VintrelleSearchModel::addedStatus << add << addNew;
        QTest::newRow("a failed addition enables the button again") << sample
            << "dest:E|search:a|reply:1:New|select:0|add|finish:Already added to this category." << "New"
            << "Already added to this category." << add << addNew;
        QTest::newRow("the destination already holds it") << sample << "dest:S|search:a|reply:1:Serum|select:0|add" << "Serum"
            << found << added << search;
        QTest::newRow("another category holding it does not count") << sample << "dest:E|search:a|reply:1:Serum|select:0" << "Serum"
            << found << add << search;
        QTest::newRow("switching to a category that holds it") << sample << "dest:E|search:a|reply:1:Serum|select:0|dest:S"
            << "Serum" << found << added << search;
        QTest::newRow("another category deleted keeps the destination") << sample << "dest:E|search:a|reply:1:New|select:0|remove:S"
            << "New" << found << add << search;
        QTest::newRow("the destination deleted chooses none") << sample << "dest:E|search:a|reply:1:New|select:0|remove:E"
            << "New" << found << cannotAdd << search;
        QTest::newRow("an unknown destination chooses none") << sample << "dest:gone|search:a|reply:1:New|select:0|add" << "New"
            << found << cannotAdd << search;
    }

    void flow()
    {
        QFETCH(QJsonArray, categories);
        QFETCH(QString, script);
        VintrelleSearchModel model;
        model.setCategories(categories);
        QList<QJsonObject> sent;
        run(model, script, sent);
        QStringList sentText;
        for (const QJsonObject &command : sent)
            sentText << QString::fromUtf8(QJsonDocument(command).toJson(QJsonDocument::Compact));
        QTEST(names(model.items()), "items");
        QTEST(model.status(), "status");
        const VintrelleSearchAddButton button = model.addButton();
        QTEST(button.title + (button.enabled ? ":on" : ":off"), "button");
        QTEST(sentText.join(' '), "sent");
    }

    // Rows never shorter than the least height, and a fraction of a pixel is not cut off.
    void rowHeights_data()
    {
        QTest::addColumn<double>("textHeight");
        QTest::addColumn<int>("rowHeight");
        QTest::newRow("short text keeps the least height") << 0.0 << 52;
        QTest::newRow("a fraction rounds up") << 32.1 << 53;
    }

    void rowHeights()
    {
        QFETCH(double, textHeight);
        QTEST(VintrelleSearchModel::rowHeight(textHeight), "rowHeight");
    }
};

QTEST_GUILESS_MAIN(TestSearchModel)
#include "tst_search_model.moc"
