#include "VintrelleNamePanel.h"
#include "VintrelleNativeNamePrompt.h"
#include "VintrelleTestSupport.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>

class TestNamePrompt : public QObject
{
    Q_OBJECT

private slots:
    // A given name is selected whole; a blank one beeps and stays open; one opening completes once.
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
        QTest::newRow("window close request cancels") << "" << "Reverbs" << "close" << "none" << 0;
    }
    void finishing()
    {
        QFETCH(QString, initial); QFETCH(QString, text); QFETCH(QString, gesture); QFETCH(QString, completion);
        VintrelleNativeNamePrompt prompt;
        QSignalSpy refused(&prompt, &VintrelleNativeNamePrompt::blankNameRefused);
        QStringList calls;
        prompt.openWithTitle("Rename", initial.isEmpty() ? std::nullopt : std::optional(initial), QPoint(40, 40),
                             [&](std::optional<QString> name) { calls << name.value_or("none"); });
        auto *panel = static_cast<VintrelleNamePanel *>(prompt.window());
        QLineEdit *field = prompt.field();
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
            QTest::mouseClick(gesture == "save" ? panel->saveButton() : panel->cancelButton(), Qt::LeftButton);
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

    // Only the newest opening's completion runs; a completion may reopen the prompt.
    void reopening()
    {
        VintrelleNativeNamePrompt prompt;
        QStringList calls;
        const auto logTo = [&](const QString &tag) { return [&calls, tag](std::optional<QString> name) { calls << tag + name.value_or("none"); }; };
        prompt.openWithTitle("New Category", std::nullopt, QPoint(40, 40), logTo("first:"));
        prompt.openWithTitle("Rename", QStringLiteral("Keys"), QPoint(60, 60), [&](std::optional<QString> name) {
            calls << "second:" + name.value_or("none");
            prompt.openWithTitle("Rename", name, QPoint(40, 40), logTo("again:"));
        });
        QTest::keyClick(prompt.field(), Qt::Key_Return);
        QVERIFY(prompt.window()->isVisible());
        QCOMPARE(prompt.field()->text(), QStringLiteral("Keys"));
        QTest::keyClick(prompt.field(), Qt::Key_Escape);
        QCOMPARE(calls, (QStringList{"second:Keys", "again:none"}));
        QVERIFY(!prompt.window()->isVisible());
    }

    // A request past the right and bottom edge is kept on the visible area.
    void placement()
    {
        const QRect visible = QGuiApplication::primaryScreen()->availableGeometry();
        VintrelleNativeNamePrompt prompt;
        prompt.openWithTitle("Rename", std::nullopt, visible.bottomRight() + QPoint(500, 500), nullptr);
        QCOMPARE(prompt.window()->frameGeometry().bottomRight(), visible.bottomRight());
    }
};

QTEST_MAIN(TestNamePrompt)
#include "tst_name_prompt.moc"
