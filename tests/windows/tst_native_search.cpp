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

    // Two searches whose replies come back in either order, and a search whose window closed
    // before its reply: only the latest open search's reply shows.
    void replies_data()
    {
        QTest::addColumn<QList<int>>("order"); // the held replies, handed over in this order
        QTest::addColumn<bool>("closeFirst");
        QTest::addColumn<QString>("shown");
        QTest::newRow("reversed") << QList<int>{1, 0} << false << "Delay";
        QTest::newRow("in order") << QList<int>{0, 1} << false << "Delay";
        QTest::newRow("closed with Escape before the replies") << QList<int>{1, 0} << true << "";
    }

    void replies()
    {
        QFETCH(QList<int>, order);
        QFETCH(bool, closeFirst);
        m_search->openForCategory("E", QPoint(50, 60));
        QVERIFY(QTest::qWaitForWindowActive(m_search.get()));
        m_holding = true;
        typeAndSearch("reverb");
        typeAndSearch("delay");
        QCOMPARE(m_sent.size(), 2);
        QCOMPARE(m_sent[1], (QJsonObject{{"op", "search"}, {"query", "delay"}}));
        QTRY_COMPARE_WITH_TIMEOUT(m_held.size(), 2, bridgeWait);
        QVERIFY(!m_held[0].error && !m_held[1].error);
        if (closeFirst) {
            QTest::keyClick(m_search->query(), Qt::Key_Escape);
            QVERIFY(!m_search->isVisible());
            QCOMPARE(m_closes, 1);
        }
        for (int index : order)
            m_held.at(index).reply(m_held.at(index).result, m_held.at(index).error);
        QFETCH(QString, shown);
        QCOMPARE(rowNamed(m_search->table(), "Reverb"), -1);
        QCOMPARE(rowNamed(m_search->table(), "Delay") >= 0, !shown.isEmpty());
        QCOMPARE(m_search->status()->text(), shown.isEmpty() ? VintrelleSearchModel::idleStatus : VintrelleSearchModel::resultsStatus);
    }

    // An empty library leaves nothing to file into: the window says so and asks Ableton nothing.
    void emptyLibrary()
    {
        useLibrary({});
        m_search->openForCategory("", QPoint(50, 60));
        QCOMPARE(m_search->status()->text(), VintrelleSearchModel::noCategoriesStatus);
        QCOMPARE(m_search->destination()->count(), 0);
        typeAndSearch("   ");
        QVERIFY(!m_search->addButton()->isEnabled());
        QVERIFY(m_sent.isEmpty());
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
        QTableWidget *table = search->table();
        const int row = rowNamed(table, "Hybrid Reverb");
        QVERIFY2(row >= 0, qPrintable(rowTexts(table).join(" | ")));
        QVERIFY(!search->addButton()->isEnabled());
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(row, 0)).center());
        QTest::mouseClick(search->addButton(), Qt::LeftButton);
        QTRY_COMPARE(search->status()->text(), VintrelleSearchModel::addedStatus);

        // Filed in the chosen category and saved; the row and the button say so.
        const QString uri = search->searchModel().items().at(row)["uri"].toString();
        const QJsonArray entries = delegate.quickMenuCategories().at(4)["entries"].toArray();
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries.last()["uri"].toString(), uri);
        QCOMPARE(entries.last()["label"].toString(), QStringLiteral("Hybrid Reverb"));
        QVERIFY(readFile(m_home.libraryPath()).contains(uri.toUtf8()));
        QVERIFY(table->item(row, 0)->text().startsWith(QStringLiteral("Hybrid Reverb  ✓\n")));
        QCOMPARE(search->addButton()->text(), QStringLiteral("ADDED ✓"));
        QVERIFY(!search->addButton()->isEnabled());
        QCOMPARE(table->selectionModel()->selectedRows().value(0).row(), row); // kept through the update

        // Double-clicking it again adds nothing; another category would take it.
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(row, 0)).center());
        QCOMPARE(delegate.quickMenuCategories().at(4)["entries"].toArray().size(), 2);
        search->destination()->setCurrentIndex(0);
        search->destinationChanged(0);
        QVERIFY(!table->item(row, 0)->text().contains(QStringLiteral("✓")));
        QVERIFY(search->addButton()->isEnabled());

        QTest::mouseClick(search->doneButton(), Qt::LeftButton);
        QTRY_VERIFY(editor->isVisible());
        QVERIFY(!search->isVisible());
    }
};

QTEST_MAIN(TestNativeSearch)
#include "tst_native_search.moc"
