#include "VintrelleNamePanel.h"
#include "VintrelleNativeNamePrompt.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest>

namespace {

// Every call of one opening's completion, as text: a name, or "none" for a cancel.
struct CompletionLog
{
    QStringList calls;
    VintrelleNativeNamePrompt::Completion completion(const QString &tag = {})
    {
        return [this, tag](std::optional<QString> name) { calls << tag + name.value_or(QStringLiteral("none")); };
    }
};

VintrelleNamePanel *panelOf(VintrelleNativeNamePrompt &prompt)
{
    return static_cast<VintrelleNamePanel *>(prompt.window());
}

} // namespace

class TestNamePrompt : public QObject
{
    Q_OBJECT

private slots:
    void finishing_data();
    void finishing();
    void opening_data();
    void opening();
    void newestCompletionOnly();
    void completionMayReopen();
    void placement_data();
    void placement();
    void movedWindowIsReported();
};

void TestNamePrompt::finishing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<QString>("completion"); // "" while still open
    QTest::addColumn<int>("beeps");

    QTest::newRow("Return with a name") << "Reverbs" << "return" << "Reverbs" << 0;
    QTest::newRow("keypad Enter") << "Reverbs" << "enter" << "Reverbs" << 0;
    QTest::newRow("Save button") << "Reverbs" << "save" << "Reverbs" << 0;
    QTest::newRow("spaces and tabs trimmed") << " \t Tape  Delays \t " << "return" << "Tape  Delays" << 0;
    QTest::newRow("non-breaking and ideographic spaces trimmed")
        << QStringLiteral("\u00a0Bus FX\u3000") << "return" << "Bus FX" << 0;
    QTest::newRow("blank name beeps and stays open") << "    " << "return" << "" << 1;
    QTest::newRow("empty name beeps and stays open") << "" << "save" << "" << 1;
    QTest::newRow("Escape cancels") << "Reverbs" << "escape" << "none" << 0;
    QTest::newRow("Escape cancels a blank name without a beep") << "  " << "escape" << "none" << 0;
    QTest::newRow("Cancel button") << "Reverbs" << "cancel" << "none" << 0;
    QTest::newRow("close button cancels") << "Reverbs" << "closeButton" << "none" << 0;
    QTest::newRow("window close request cancels") << "Reverbs" << "close" << "none" << 0;
}

void TestNamePrompt::finishing()
{
    QFETCH(QString, text);
    QFETCH(QString, gesture);
    QFETCH(QString, completion);
    QFETCH(int, beeps);

    VintrelleNativeNamePrompt prompt;
    QSignalSpy refused(&prompt, &VintrelleNativeNamePrompt::blankNameRefused);
    CompletionLog log;
    prompt.openWithTitle("Rename", std::nullopt, QPoint(40, 40), log.completion());
    prompt.field()->setText(text);

    VintrelleNamePanel *panel = panelOf(prompt);
    if (gesture == "return")
        QTest::keyClick(prompt.field(), Qt::Key_Return);
    else if (gesture == "enter")
        QTest::keyClick(prompt.field(), Qt::Key_Enter, Qt::KeypadModifier);
    else if (gesture == "escape")
        QTest::keyClick(prompt.field(), Qt::Key_Escape);
    else if (gesture == "save")
        QTest::mouseClick(panel->saveButton(), Qt::LeftButton);
    else if (gesture == "cancel")
        QTest::mouseClick(panel->cancelButton(), Qt::LeftButton);
    else if (gesture == "closeButton")
        QTest::mouseClick(panel->closeButton(), Qt::LeftButton);
    else if (gesture == "close")
        QVERIFY(!panel->close()); // refused: the prompt hides the window itself

    QCOMPARE(refused.count(), beeps);
    QCOMPARE(log.calls, completion.isEmpty() ? QStringList() : QStringList{completion});
    QCOMPARE(panel->isVisible(), completion.isEmpty());

    // Whatever happens next, one opening completes at most once.
    QTest::keyClick(prompt.field(), Qt::Key_Escape);
    QTest::keyClick(prompt.field(), Qt::Key_Return);
    QCOMPARE(log.calls.size(), 1);
}

void TestNamePrompt::opening_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("name"); // "<none>" for no name
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("saved");

    QTest::newRow("a name is fully selected, so typing replaces it") << "Rename" << "Old Name" << "Synths" << "Synths";
    QTest::newRow("no name gives an empty field") << "New Category" << "<none>" << "Drums" << "Drums";
    QTest::newRow("the name is kept as given") << "Rename" << "  Mixed Case  " << "" << "Mixed Case";
    QTest::newRow("typing after a blank refusal") << "New Subcategory" << "<none>" << "" << "";
}

void TestNamePrompt::opening()
{
    QFETCH(QString, title);
    QFETCH(QString, name);
    QFETCH(QString, typed);
    QFETCH(QString, saved);

    VintrelleNativeNamePrompt prompt;
    CompletionLog log;
    const std::optional<QString> initial = name == "<none>" ? std::nullopt : std::optional<QString>(name);
    prompt.openWithTitle(title, initial, QPoint(40, 40), log.completion());
    QCOMPARE(prompt.window()->windowTitle(), title);
    QCOMPARE(prompt.window()->findChild<QLabel *>("title")->text(), title);
    QCOMPARE(prompt.field()->text(), initial.value_or(QString()));
    QCOMPARE(prompt.field()->selectedText(), initial.value_or(QString()));

    QTest::keyClicks(prompt.field(), typed);
    QTest::keyClick(prompt.field(), Qt::Key_Return);
    if (saved.isEmpty()) {
        QVERIFY(log.calls.isEmpty());
        QTest::keyClicks(prompt.field(), "Late");
        QTest::keyClick(prompt.field(), Qt::Key_Return);
        saved = "Late";
    }
    QCOMPARE(log.calls, QStringList{saved});
}

void TestNamePrompt::newestCompletionOnly()
{
    VintrelleNativeNamePrompt prompt;
    CompletionLog log;
    prompt.openWithTitle("New Category", std::nullopt, QPoint(40, 40), log.completion("first:"));
    prompt.openWithTitle("Rename", QStringLiteral("Keys"), QPoint(60, 60), log.completion("second:"));
    QCOMPARE(prompt.field()->text(), QStringLiteral("Keys"));
    QTest::keyClick(prompt.field(), Qt::Key_Return);
    QCOMPARE(log.calls, QStringList{"second:Keys"});
}

// The controller reopens the prompt from its completion when the name is refused by the store.
void TestNamePrompt::completionMayReopen()
{
    VintrelleNativeNamePrompt prompt;
    CompletionLog log;
    prompt.openWithTitle("New Category", std::nullopt, QPoint(40, 40), [&](std::optional<QString> name) {
        log.calls << name.value_or("none");
        prompt.openWithTitle("New Category", name, QPoint(40, 40), log.completion("again:"));
    });
    QTest::keyClicks(prompt.field(), "Pads");
    QTest::keyClick(prompt.field(), Qt::Key_Return);
    QVERIFY(prompt.window()->isVisible());
    QCOMPARE(prompt.field()->text(), QStringLiteral("Pads"));
    QTest::keyClick(prompt.field(), Qt::Key_Escape);
    QCOMPARE(log.calls, (QStringList{"Pads", "again:none"}));
    QVERIFY(!prompt.window()->isVisible());
}

void TestNamePrompt::placement_data()
{
    QTest::addColumn<QPoint>("requested");
    QTest::addColumn<QPoint>("placed"); // relative to the visible area's top-left; -1 means "at the far edge"

    QTest::newRow("inside the screen") << QPoint(100, 120) << QPoint(100, 120);
    QTest::newRow("near the right edge") << QPoint(100000, 120) << QPoint(-1, 120);
    QTest::newRow("near the bottom edge") << QPoint(100, 100000) << QPoint(100, -1);
    QTest::newRow("left of and above the screen") << QPoint(-500, -500) << QPoint(0, 0);
}

void TestNamePrompt::placement()
{
    QFETCH(QPoint, requested);
    QFETCH(QPoint, placed);
    const QRect visible = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize size(VintrelleNamePanel::panelWidth, VintrelleNamePanel::panelHeight);
    const QPoint origin = visible.topLeft();
    const QPoint expected(placed.x() < 0 ? visible.right() + 1 - size.width() : origin.x() + placed.x(),
                          placed.y() < 0 ? visible.bottom() + 1 - size.height() : origin.y() + placed.y());

    VintrelleNativeNamePrompt prompt;
    prompt.openWithTitle("Rename", std::nullopt, origin + requested, nullptr);
    QCOMPARE(prompt.window()->pos(), expected);
    QVERIFY(visible.contains(prompt.window()->frameGeometry()));
}

void TestNamePrompt::movedWindowIsReported()
{
    VintrelleNativeNamePrompt prompt;
    QList<QPoint> reported;
    prompt.onMoved = [&](QWidget *window) {
        QCOMPARE(window, prompt.window());
        reported << window->pos();
    };
    prompt.window()->move(30, 30); // hidden: not the user's doing
    QVERIFY(reported.isEmpty());
    prompt.openWithTitle("Rename", std::nullopt, QPoint(40, 40), nullptr);
    reported.clear();
    prompt.window()->move(200, 150);
    QTRY_COMPARE(reported.value(reported.size() - 1), QPoint(200, 150));
}

QTEST_MAIN(TestNamePrompt)
#include "tst_name_prompt.moc"
