#include "EditorHarness.h"
#include "VintrelleAppDelegate.h"
#include "VintrelleBridgeSimulator.h"
#include "VintrelleNativeSearch.h"

#include <QComboBox>
#include <QTableWidget>

namespace {

constexpr int bridgeWait = 15000;

int rowNamed(const QTableWidget *table, const QString &name)
{
    for (int row = 0; row < table->rowCount(); ++row)
        if (table->item(row, 0)->text().section('\n', 0, 0).remove(QStringLiteral("  ✓")) == name)
            return row;
    return -1;
}

void search(VintrelleNativeSearch *window, const QString &text)
{
    window->query()->clear();
    QTest::keyClicks(window->query(), text);
    QTest::keyClick(window->query(), Qt::Key_Return);
}

} // namespace

// The search window against the real router, store and bridge script (under the simulator).
class TestNativeSearch : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;
    std::unique_ptr<VintrelleBridgeSimulator> m_simulator;

private slots:
    void initTestCase()
    {
        m_home.apply();
        QDir().mkpath(m_home.path("simulator"));
        m_simulator = std::make_unique<VintrelleBridgeSimulator>(m_home.path("simulator"));
        QVERIFY2(m_simulator->ready(), "the bridge simulator did not start");
        qputenv("VINTRELLE_BRIDGE_CONFIG", m_simulator->configPath().toUtf8());
    }

    // With nothing to file into, the window says so and offers no destination.
    void emptyLibrary()
    {
        LibraryHarness library(m_home.libraryPath(), {});
        VintrelleNativeSearch window;
        window.updateLibrary(library.saved());
        window.openForCategory("", QPoint(50, 60));
        QVERIFY(window.destination()->count() == 0 && !window.addButton()->isEnabled());
        QCOMPARE(window.status()->text(), VintrelleSearchModel::noCategoriesStatus);
    }

    // Two searches whose replies a slow bridge hands back reversed after Escape closed the window:
    // neither shows.
    void repliesAfterClosing()
    {
        LibraryHarness library(m_home.libraryPath(), sampleCategories());
        VintrelleNativeSearch window;
        QList<std::function<void()>> held;
        int closes = 0;
        window.command = [&](const QJsonObject &command, VintrelleReply reply) {
            library.send(command, [&, reply](std::optional<QJsonObject> result, std::optional<QString> error) {
                held << [=] { reply(result, error); };
            });
        };
        window.onClose = [&] { ++closes; };
        window.updateLibrary(library.saved());
        window.openForCategory("E", QPoint(50, 60));
        QVERIFY(QTest::qWaitForWindowActive(&window));
        search(&window, "reverb");
        search(&window, "delay");
        QTRY_COMPARE_WITH_TIMEOUT(held.size(), 2, bridgeWait);
        QTest::keyClick(window.query(), Qt::Key_Escape);
        QVERIFY(!window.isVisible());
        QCOMPARE(closes, 1);
        held[1]();
        held[0]();
        QCOMPARE(window.table()->rowCount(), 0);
        QCOMPARE(window.status()->text(), VintrelleSearchModel::idleStatus);
    }

    // The running program: the editor's "+ Plug-in" opens the search where the editor stood, an
    // addition reaches the library and the window, and closing goes back to the editor.
    void fromTheEditorAndBack()
    {
        writeFile(m_home.libraryPath(), compact(stateWith(sampleCategories())));
        VintrelleAppDelegate delegate;
        QSignalSpy ready(&delegate, &VintrelleAppDelegate::libraryReady);
        delegate.launch();
        QVERIFY(!ready.isEmpty() || ready.wait(10000));
        QTRY_COMPARE(delegate.quickMenuOpenings(), 1);
        delegate.openNativeEditor();
        VintrelleNativeEdit *editor = delegate.editor();
        editor->outline()->selectionModel()->setCurrentIndex(editor->treeModel()->indexForID("R"),
                                                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        const QPoint editorAt = editor->pos();
        QTest::mouseClick(editor->button("+ Plug-in"), Qt::LeftButton);

        VintrelleNativeSearch *window = delegate.pluginSearch();
        QTRY_VERIFY(window->isVisible() && !editor->isVisible());
        QCOMPARE(window->pos(), editorAt);
        QCOMPARE(window->destination()->currentText(), QStringLiteral("EFFECTS / REVERB"));
        search(window, "hybrid");
        QTRY_COMPARE_WITH_TIMEOUT(window->status()->text(), VintrelleSearchModel::resultsStatus, bridgeWait);
        QTableWidget *table = window->table();
        const int row = rowNamed(table, "Hybrid Reverb");
        QVERIFY(row >= 0 && !window->addButton()->isEnabled());
        const QPoint rowCenter = table->visualItemRect(table->item(row, 0)).center();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, rowCenter);
        QTest::mouseClick(window->addButton(), Qt::LeftButton);
        QTRY_COMPARE(window->status()->text(), VintrelleSearchModel::addedStatus);

        // Filed in the chosen category and saved; the row and the button say so.
        const QString uri = window->searchModel().items().at(row)["uri"].toString();
        const auto reverbEntries = [&] { return delegate.quickMenuCategories().at(4)["entries"].toArray(); };
        QCOMPARE(reverbEntries().size(), 2);
        QCOMPARE(reverbEntries().last()["uri"].toString(), uri);
        QVERIFY(readFile(m_home.libraryPath()).contains(uri.toUtf8()));
        QVERIFY(table->item(row, 0)->text().startsWith(QStringLiteral("Hybrid Reverb  ✓\n")));
        QVERIFY(window->addButton()->text() == QStringLiteral("ADDED ✓") && !window->addButton()->isEnabled());
        QCOMPARE(table->selectionModel()->selectedRows().value(0).row(), row); // kept through the update

        // Double-clicking it again adds nothing; another category would take it.
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, rowCenter);
        QCOMPARE(reverbEntries().size(), 2);
        window->destination()->setCurrentIndex(0);
        window->destinationChanged(0);
        QVERIFY(!table->item(row, 0)->text().contains(QStringLiteral("✓")) && window->addButton()->isEnabled());
        QTest::mouseClick(window->doneButton(), Qt::LeftButton);
        QTRY_VERIFY(editor->isVisible() && !window->isVisible());
    }
};

QTEST_MAIN(TestNativeSearch)
#include "tst_native_search.moc"
