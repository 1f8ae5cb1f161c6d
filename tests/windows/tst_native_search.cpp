#include "EditorHarness.h"
#include "VintrelleAppDelegate.h"
#include "VintrelleBridgeSimulator.h"
#include "VintrelleNativeSearch.h"

#include <QComboBox>
#include <QTableWidget>

namespace {

void search(VintrelleNativeSearch *window, const QString &text)
{
    window->query()->clear();
    QTest::keyClicks(window->query(), text);
    QTest::keyClick(window->query(), Qt::Key_Return);
}

} // namespace

class TestNativeSearch : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;

private slots:
    void initTestCase() { m_home.apply(); }

    // Two searches whose replies come back reversed after Escape closed the window: neither shows.
    void repliesAfterClosing()
    {
        VintrelleNativeSearch window;
        QList<VintrelleReply> held;
        window.command = [&](const QJsonObject &, VintrelleReply reply) { held << std::move(reply); };
        window.updateLibrary(sampleCategories());
        window.openForCategory("E", QPoint(50, 60));
        QVERIFY(QTest::qWaitForWindowActive(&window));
        search(&window, "reverb");
        search(&window, "delay");
        QCOMPARE(held.size(), 2);
        QTest::keyClick(window.query(), Qt::Key_Escape);
        QVERIFY(!window.isVisible());
        for (const int index : {1, 0}) // the newer first
            held[index](QJsonObject{{"items", QJsonArray{QJsonObject{{"name", "Late"}, {"uri", "u:late"}}}}}, std::nullopt);
        QCOMPARE(window.table()->rowCount(), 0);
        QCOMPARE(window.status()->text(), VintrelleSearchModel::idleStatus);
    }

    // The running program and the real bridge script: from the editor's "+ Plug-in", adding, and back.
    void fromTheEditorAndBack()
    {
        QDir().mkpath(m_home.path("simulator"));
        VintrelleBridgeSimulator simulator(m_home.path("simulator"));
        QVERIFY2(simulator.ready(), "the bridge simulator did not start");
        qputenv("VINTRELLE_BRIDGE_CONFIG", simulator.configPath().toUtf8());
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
        QTest::mouseClick(editor->button("+ Plug-in"), Qt::LeftButton);

        VintrelleNativeSearch *window = delegate.pluginSearch();
        QTRY_VERIFY(window->isVisible() && !editor->isVisible());
        QCOMPARE(window->destination()->currentText(), QStringLiteral("EFFECTS / REVERB"));
        search(window, "hybrid");
        QTRY_COMPARE_WITH_TIMEOUT(window->status()->text(), VintrelleSearchModel::resultsStatus, 15000);
        QTableWidget *table = window->table();
        QVERIFY(table->rowCount() == 1 && table->item(0, 0)->text().startsWith("Hybrid Reverb\n") && !window->addButton()->isEnabled());
        const QPoint rowCenter = table->visualItemRect(table->item(0, 0)).center();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, rowCenter);
        QTest::mouseClick(window->addButton(), Qt::LeftButton);
        QTRY_COMPARE(window->status()->text(), VintrelleSearchModel::addedStatus);

        // Filed in the chosen category; the row and the button say so; a double click adds nothing more.
        const auto reverbEntries = [&] { return delegate.quickMenuCategories().at(4)["entries"].toArray(); };
        QCOMPARE(reverbEntries().size(), 2);
        QCOMPARE(reverbEntries().last()["uri"], window->searchModel().items().at(0)["uri"]);
        QVERIFY(table->item(0, 0)->text().startsWith(QStringLiteral("Hybrid Reverb  ✓\n")));
        QVERIFY(window->addButton()->text() == QStringLiteral("ADDED ✓") && !window->addButton()->isEnabled());
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, rowCenter);
        QCOMPARE(reverbEntries().size(), 2);
        QTest::mouseClick(window->doneButton(), Qt::LeftButton);
        QTRY_VERIFY(editor->isVisible() && !window->isVisible());
    }
};

QTEST_MAIN(TestNativeSearch)
#include "tst_native_search.moc"
