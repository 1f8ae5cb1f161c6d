#include "EditorFixtures.h"
#include "VintrelleAppDelegate.h"
#include "VintrelleBridgeSimulator.h"
#include "VintrelleCommandRouter.h"
#include "VintrelleEditTreeModel.h"
#include "VintrelleNativeConnection.h"
#include "VintrelleNativeEdit.h"
#include "VintrelleNativeSearch.h"
#include "VintrelleNativeStore.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTcpServer>
#include <QtTest>

#include <memory>

namespace {

constexpr int bridgeWait = 15000;

struct HeldReply
{
    std::optional<QJsonObject> result;
    std::optional<QString> error;
    VintrelleReply reply;
};

QStringList rowTexts(const QTableWidget *table)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << table->item(row, 0)->text();
    return texts;
}

int rowNamed(const QTableWidget *table, const QString &name)
{
    for (int row = 0; row < table->rowCount(); ++row)
        if (table->item(row, 0)->text().section('\n', 0, 0).remove(QStringLiteral("  ✓")) == name)
            return row;
    return -1;
}

} // namespace

// The search window against the real router, store and bridge script (under the simulator).
// Replies can be held back and handed over in any order, as a slow bridge would.
class TestNativeSearch : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;
    std::unique_ptr<VintrelleBridgeSimulator> m_simulator;
    std::unique_ptr<VintrelleNativeStore> m_store;
    std::unique_ptr<VintrelleNativeConnection> m_connection;
    std::unique_ptr<VintrelleCommandRouter> m_router;
    std::unique_ptr<VintrelleNativeSearch> m_search;
    QList<QJsonObject> m_sent;
    QList<HeldReply> m_held;
    bool m_holding = false;
    int m_closes = 0;

    QJsonArray saved() const { return m_store->state()->value("categories").toArray(); }

    void useLibrary(const QJsonArray &categories)
    {
        QVERIFY(m_store->commit(stateWith(categories), nullptr));
        m_search->updateLibrary(saved());
    }

    void typeAndSearch(const QString &text)
    {
        m_search->query()->clear();
        QTest::keyClicks(m_search->query(), text);
        QTest::keyClick(m_search->query(), Qt::Key_Return);
    }

    void releaseHeld(int index)
    {
        const HeldReply held = m_held.at(index);
        held.reply(held.result, held.error);
    }

private slots:
    void initTestCase()
    {
        m_home.apply();
        QDir().mkpath(m_home.path("simulator"));
        m_simulator = std::make_unique<VintrelleBridgeSimulator>(m_home.path("simulator"));
        QVERIFY2(m_simulator->ready(), "the bridge simulator did not start");
        qputenv("VINTRELLE_BRIDGE_CONFIG", m_simulator->configPath().toUtf8());
    }

    void init()
    {
        QFile::remove(m_home.libraryPath());
        m_store = std::make_unique<VintrelleNativeStore>(m_home.libraryPath());
        QVERIFY(m_store->initializeFromPreviousLibrary(QJsonValue(QJsonValue::Undefined), nullptr));
        m_connection = std::make_unique<VintrelleNativeConnection>();
        m_router = std::make_unique<VintrelleCommandRouter>(m_connection.get());
        m_router->setStore(m_store.get());
        m_search = std::make_unique<VintrelleNativeSearch>();
        // As the application does: a saved change reaches the window before the command's reply.
        m_store->changed = [this] { m_search->updateLibrary(saved()); };
        m_search->command = [this](const QJsonObject &command, VintrelleReply reply) {
            m_sent << command;
            m_router->executeNativeCommand(command, [this, reply](std::optional<QJsonObject> result, std::optional<QString> error) {
                if (m_holding)
                    m_held.append({result, error, reply});
                else
                    reply(result, error);
            });
        };
        m_search->onClose = [this] { ++m_closes; };
        m_sent.clear();
        m_held.clear();
        m_holding = false;
        m_closes = 0;
        useLibrary(sampleCategories());
    }

    void cleanup()
    {
        m_search.reset();
        m_router.reset();
        m_connection.reset();
        m_store.reset();
    }

    void cleanupTestCase() { m_simulator.reset(); }

    void searchAndAddReverb()
    {
        m_search->openForCategory("E", QPoint(50, 60));
        QVERIFY(m_search->isVisible());
        QCOMPARE(m_search->pos(), QPoint(50, 60));
        QCOMPARE(m_search->destination()->currentText(), QStringLiteral("EFFECTS"));
        QCOMPARE(m_search->destination()->itemText(1), QStringLiteral("INSTRUMENTS / SYNTHS"));
        QCOMPARE(m_search->destination()->itemData(1, Qt::ToolTipRole).toString(), QStringLiteral("Instruments / Synths"));
        QCOMPARE(m_search->status()->text(), VintrelleSearchModel::idleStatus);
        QVERIFY(!m_search->addButton()->isEnabled());

        typeAndSearch("  reverb ");
        QCOMPARE(m_sent.value(0), (QJsonObject{{"op", "search"}, {"query", "reverb"}}));
        QCOMPARE(m_search->status()->text(), VintrelleSearchModel::searchingStatus);
        QTRY_COMPARE_WITH_TIMEOUT(m_search->status()->text(), VintrelleSearchModel::resultsStatus, bridgeWait);
        QTableWidget *table = m_search->table();
        const int row = rowNamed(table, "Reverb");
        QVERIFY2(row >= 0, qPrintable(rowTexts(table).join(" | ")));
        for (int each = 0; each < table->rowCount(); ++each)
            QVERIFY(table->rowHeight(each) >= 52);
        QVERIFY(!m_search->addButton()->isEnabled());

        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(row, 0)).center());
        QCOMPARE(m_search->addButton()->text(), QStringLiteral("+ ADD SELECTED"));
        QVERIFY(m_search->addButton()->isEnabled());
        QTest::mouseClick(m_search->addButton(), Qt::LeftButton);
        QCOMPARE(m_sent.value(1).value("op"), QStringLiteral("addPlugin"));
        QTRY_COMPARE(m_search->status()->text(), VintrelleSearchModel::addedStatus);

        const QString uri = m_search->searchModel().items().at(row)["uri"].toString();
        const QJsonArray effects = saved().at(2)["entries"].toArray();
        QCOMPARE(effects.last()["uri"].toString(), uri);
        QCOMPARE(effects.last()["label"].toString(), QStringLiteral("Reverb"));
        QVERIFY(readFile(m_home.libraryPath()).contains(uri.toUtf8()));
        QVERIFY(table->item(row, 0)->text().startsWith(QStringLiteral("Reverb  ✓\n")));
        QCOMPARE(m_search->addButton()->text(), QStringLiteral("ADDED ✓"));
        QVERIFY(!m_search->addButton()->isEnabled());
        QCOMPARE(table->selectionModel()->selectedRows().value(0).row(), row); // kept through the update

        // An added result does nothing on a double-click; another category takes it.
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(row, 0)).center());
        QCOMPARE(m_sent.size(), 2);
        m_search->destination()->setCurrentIndex(0);
        m_search->destinationChanged(0);
        QVERIFY(!table->item(row, 0)->text().contains(QStringLiteral("✓")));
        QVERIFY(m_search->addButton()->isEnabled());
    }

    // Two searches whose replies come back in either order: only the second one's results show.
    void staleRepliesAreDropped_data()
    {
        QTest::addColumn<QList<int>>("order");
        QTest::newRow("reversed") << QList<int>{1, 0};
        QTest::newRow("in order") << QList<int>{0, 1};
    }

    void staleRepliesAreDropped()
    {
        QFETCH(QList<int>, order);
        m_search->openForCategory("E", QPoint(50, 60));
        m_holding = true;
        typeAndSearch("reverb");
        typeAndSearch("delay");
        QTRY_COMPARE_WITH_TIMEOUT(m_held.size(), 2, bridgeWait);
        QVERIFY(!m_held[0].error && !m_held[1].error);
        for (int index : order)
            releaseHeld(index);
        QCOMPARE(m_search->status()->text(), VintrelleSearchModel::resultsStatus);
        QVERIFY(rowNamed(m_search->table(), "Delay") >= 0);
        QCOMPARE(rowNamed(m_search->table(), "Reverb"), -1);
    }

    void aReplyAfterClosingChangesNothing()
    {
        m_search->openForCategory("E", QPoint(50, 60));
        typeAndSearch("reverb");
        QTRY_COMPARE_WITH_TIMEOUT(m_search->status()->text(), VintrelleSearchModel::resultsStatus, bridgeWait);
        const QStringList before = rowTexts(m_search->table());
        m_holding = true;
        typeAndSearch("delay");
        QTRY_COMPARE_WITH_TIMEOUT(m_held.size(), 1, bridgeWait);
        QTest::mouseClick(m_search->doneButton(), Qt::LeftButton);
        QVERIFY(!m_search->isVisible());
        QCOMPARE(m_closes, 1);
        releaseHeld(0);
        QCOMPARE(rowTexts(m_search->table()), before);
        QCOMPARE(m_search->status()->text(), VintrelleSearchModel::resultsStatus);
    }

    void aFailedSearchKeepsTheResults()
    {
        m_search->openForCategory("E", QPoint(50, 60));
        typeAndSearch("reverb");
        QTRY_COMPARE_WITH_TIMEOUT(m_search->status()->text(), VintrelleSearchModel::resultsStatus, bridgeWait);
        const QStringList before = rowTexts(m_search->table());
        // A bridge configuration pointing at a port nobody listens on.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        writeFile(m_home.path("dead-config.json"), compact({{"port", port}, {"token", "dead"}}));
        qputenv("VINTRELLE_BRIDGE_CONFIG", m_home.path("dead-config.json").toUtf8());
        typeAndSearch("delay");
        QTRY_VERIFY_WITH_TIMEOUT(m_search->status()->text() != VintrelleSearchModel::searchingStatus, bridgeWait);
        qputenv("VINTRELLE_BRIDGE_CONFIG", m_simulator->configPath().toUtf8());
        QVERIFY(m_search->status()->text() != VintrelleSearchModel::resultsStatus);
        QVERIFY(!m_search->status()->text().isEmpty());
        QCOMPARE(rowTexts(m_search->table()), before);
    }

    void aBlankQuerySendsNothing()
    {
        m_search->openForCategory("E", QPoint(50, 60));
        typeAndSearch("   ");
        QTest::mouseClick(m_search->searchButton(), Qt::LeftButton);
        QCOMPARE(m_search->status()->text(), VintrelleSearchModel::blankQueryStatus);
        QVERIFY(m_sent.isEmpty());
    }

    void anEmptyLibrary()
    {
        useLibrary({});
        m_search->openForCategory("", QPoint(50, 60));
        QCOMPARE(m_search->status()->text(), VintrelleSearchModel::noCategoriesStatus);
        QCOMPARE(m_search->destination()->count(), 0);
        typeAndSearch("reverb");
        QTRY_COMPARE_WITH_TIMEOUT(m_search->status()->text(), VintrelleSearchModel::resultsStatus, bridgeWait);
        m_search->table()->selectRow(0);
        QVERIFY(!m_search->addButton()->isEnabled());
        m_search->addSelected();
        QCOMPARE(m_sent.size(), 1);
    }

    void closing_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Done") << false;
        QTest::newRow("Escape") << true;
    }

    void closing()
    {
        m_search->openForCategory("E", QPoint(50, 60));
        QVERIFY(QTest::qWaitForWindowActive(m_search.get()));
        QFETCH(bool, escape);
        if (escape)
            QTest::keyClick(m_search->query(), Qt::Key_Escape);
        else
            QTest::mouseClick(m_search->doneButton(), Qt::LeftButton);
        QVERIFY(!m_search->isVisible());
        QCOMPARE(m_closes, 1);
    }

    // The running program: the editor's "+ Plug-in" opens the search where the editor stood,
    // an addition reaches the library and the window, and closing goes back to the editor.
    void fromTheEditorAndBack()
    {
        cleanup();
        writeFile(m_home.libraryPath(), compact(stateWith(sampleCategories())));
        VintrelleAppDelegate delegate;
        QSignalSpy ready(&delegate, &VintrelleAppDelegate::libraryReady);
        delegate.launch();
        QVERIFY(!ready.isEmpty() || ready.wait(10000));
        QTRY_COMPARE(delegate.quickMenuOpenings(), 1);
        delegate.openNativeEditor();
        VintrelleNativeEdit *editor = delegate.editor();
        QVERIFY(editor->isVisible());
        editor->outline()->selectionModel()->setCurrentIndex(editor->treeModel()->indexForID("R"),
                                                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QVERIFY(editor->button("+ Plug-in")->isEnabled());
        const QPoint editorAt = editor->pos();
        QTest::mouseClick(editor->button("+ Plug-in"), Qt::LeftButton);

        VintrelleNativeSearch *search = delegate.pluginSearch();
        QTRY_VERIFY(search->isVisible());
        QVERIFY(!editor->isVisible());
        QCOMPARE(search->pos(), editorAt);
        QCOMPARE(search->destination()->currentText(), QStringLiteral("EFFECTS / REVERB"));
        QTest::keyClicks(search->query(), "hybrid");
        QTest::keyClick(search->query(), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(search->status()->text(), VintrelleSearchModel::resultsStatus, bridgeWait);
        const int row = rowNamed(search->table(), "Hybrid Reverb");
        QVERIFY(row >= 0);
        search->table()->selectRow(row);
        search->addSelected();
        QTRY_COMPARE(search->status()->text(), VintrelleSearchModel::addedStatus);
        QCOMPARE(search->addButton()->text(), QStringLiteral("ADDED ✓"));
        QCOMPARE(delegate.quickMenuCategories().at(4)["entries"].toArray().size(), 2);

        search->done();
        QTRY_VERIFY(editor->isVisible());
        QVERIFY(!search->isVisible());
    }
};

QTEST_MAIN(TestNativeSearch)
#include "tst_native_search.moc"
