#include "VintrelleNamePanel.h"
#include "VintrelleNativeNamePrompt.h"
#include "VintrelleTestSupport.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>

namespace {

// Logs every call of the completion as the tag and a name, or "none" for a cancel.
VintrelleNativeNamePrompt::Completion logTo(QStringList &calls, const QString &tag = {})
{
    return [&calls, tag](std::optional<QString> name) { calls << tag + name.value_or("none"); };
}

} // namespace

class TestNamePrompt : public QObject
{
    Q_OBJECT

private slots:
    // A given name is selected whole, so typing replaces it; other text is put in the field.
    // A blank name beeps and stays open until a real one comes; one opening completes once.
    void finishing_data()
    {
        addColumns<QString, QString, QString, QString, int>({"initial", "text", "gesture", "completion", "beeps"});
        QTest::newRow("typing replaces the given name") << "Old Name" << "Synths" << "return" << "Synths" << 0;
        QTest::newRow("the given name is kept, trimmed") << "  Mixed Case  " << "" << "return" << "Mixed Case" << 0;
        QTest::newRow("keypad Enter") << "" << "Reverbs" << "enter" << "Reverbs" << 0;
        QTest::newRow("Save button") << "" << "Reverbs" << "save" << "Reverbs" << 0;
        QTest::newRow("every kind of space trimmed") << "" << QStringLiteral(" \t\u00a0Tape  Delays\u3000 ") << "return" << "Tape  Delays" << 0;
        QTest::newRow("blank name beeps and stays open") << "" << "    " << "return" << "" << 1;
        QTest::newRow("Escape cancels a blank name without a beep") << "" << "  " << "escape" << "none" << 0;
        QTest::newRow("Cancel button") << "" << "Reverbs" << "cancel" << "none" << 0;
        QTest::newRow("close button cancels") << "" << "Reverbs" << "closeButton" << "none" << 0;
        QTest::newRow("window close request cancels") << "" << "Reverbs" << "close" << "none" << 0;
    }
    void finishing()
    {
        QFETCH(QString, initial); QFETCH(QString, text); QFETCH(QString, gesture); QFETCH(QString, completion);
        VintrelleNativeNamePrompt prompt;
        QSignalSpy refused(&prompt, &VintrelleNativeNamePrompt::blankNameRefused);
        QStringList calls;
        prompt.openWithTitle("Rename", initial.isEmpty() ? std::nullopt : std::optional(initial), QPoint(40, 40), logTo(calls));
        auto *panel = static_cast<VintrelleNamePanel *>(prompt.window());
        QLineEdit *field = prompt.field();
        QCOMPARE(panel->windowTitle() + '|' + panel->findChild<QLabel *>("title")->text(), "Rename|Rename");
        QCOMPARE(field->text() + '|' + field->selectedText(), initial + '|' + initial);
        if (initial.isEmpty())
            field->setText(text);
        else
            QTest::keyClicks(field, text);
        if (gesture == "return" || gesture == "enter" || gesture == "escape")
            QTest::keyClick(field, gesture == "escape" ? Qt::Key_Escape : gesture == "enter" ? Qt::Key_Enter : Qt::Key_Return,
                            gesture == "enter" ? Qt::KeypadModifier : Qt::NoModifier);
        else if (gesture == "close")
            QVERIFY(!panel->close()); // refused: the prompt hides the window itself
        else
            QTest::mouseClick(gesture == "save" ? panel->saveButton() : gesture == "cancel" ? panel->cancelButton() : panel->closeButton(),
                              Qt::LeftButton);
        QTEST(int(refused.count()), "beeps");
        QCOMPARE(panel->isVisible(), completion.isEmpty());
        if (completion.isEmpty()) {
            QVERIFY(calls.isEmpty());
            field->setText("Late");
            QTest::keyClick(field, Qt::Key_Return);
            completion = "Late";
        }
        QTest::keyClick(field, Qt::Key_Escape);
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(calls, QStringList{completion});
    }

    // Only the newest opening's completion runs; a completion may reopen the prompt (as the
    // controller does when the store refuses the name).
    void reopening()
    {
        VintrelleNativeNamePrompt prompt;
        QStringList calls;
        prompt.openWithTitle("New Category", std::nullopt, QPoint(40, 40), logTo(calls, "first:"));
        prompt.openWithTitle("Rename", QStringLiteral("Keys"), QPoint(60, 60), [&](std::optional<QString> name) {
            calls << "second:" + name.value_or("none");
            prompt.openWithTitle("Rename", name, QPoint(40, 40), logTo(calls, "again:"));
        });
        QTest::keyClick(prompt.field(), Qt::Key_Return);
        QVERIFY(prompt.window()->isVisible());
        QCOMPARE(prompt.field()->text(), QStringLiteral("Keys"));
        QTest::keyClick(prompt.field(), Qt::Key_Escape);
        QCOMPARE(calls, (QStringList{"second:Keys", "again:none"}));
        QVERIFY(!prompt.window()->isVisible());
    }

    // Kept on the visible area; -1 stands for "at the far edge".
    void placement_data()
    {
        addColumns<QPoint, QPoint>({"requested", "placed"});
        QTest::newRow("inside the screen") << QPoint(100, 120) << QPoint(100, 120);
        QTest::newRow("past the right and the bottom edge") << QPoint(100000, 100000) << QPoint(-1, -1);
        QTest::newRow("left of and above the screen") << QPoint(-500, -500) << QPoint(0, 0);
    }
    void placement()
    {
        QFETCH(QPoint, requested); QFETCH(QPoint, placed);
        const QRect visible = QGuiApplication::primaryScreen()->availableGeometry();
        const QPoint expected(placed.x() < 0 ? visible.right() + 1 - VintrelleNamePanel::panelWidth : visible.x() + placed.x(),
                              placed.y() < 0 ? visible.bottom() + 1 - VintrelleNamePanel::panelHeight : visible.y() + placed.y());
        VintrelleNativeNamePrompt prompt;
        prompt.openWithTitle("Rename", std::nullopt, visible.topLeft() + requested, nullptr);
        QCOMPARE(prompt.window()->pos(), expected);
        QVERIFY(visible.contains(prompt.window()->frameGeometry()));
    }

    // Moves of the shown window are the user's and are reported; moves while hidden are not.
    void movesAreReported()
    {
        VintrelleNativeNamePrompt prompt;
        QList<QPoint> reported;
        prompt.onMoved = [&](QWidget *window) { reported << window->pos(); };
        prompt.window()->move(30, 30);
        QVERIFY(reported.isEmpty());
        prompt.openWithTitle("Rename", std::nullopt, QPoint(40, 40), nullptr);
        reported.clear();
        prompt.window()->move(200, 150);
        QTRY_COMPARE(reported.value(reported.size() - 1), QPoint(200, 150));
    }
};

QTEST_MAIN(TestNamePrompt)
#include "tst_name_prompt.moc"
