// Shows the library editor as a user meets it, for the screenshot in docs/: a realistic library
// with one category open and a plug-in selected. Prints the window's geometry ("x y width
// height") once it is shown, and quits after the given milliseconds.

#include "VintrelleEditTreeModel.h"
#include "VintrelleNativeEdit.h"
#include "VintrelleTestSupport.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    const int lifetime = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 4000;
    QWidget backdrop(nullptr, Qt::FramelessWindowHint);
    backdrop.setStyleSheet(QStringLiteral("background: qlineargradient(x1:0, y1:0, x2:1, y2:1, stop:0 #4b5563, stop:1 #374151);"));
    backdrop.setGeometry(0, 0, 640, 640);
    backdrop.show();

    const QJsonArray library{
        categoryObject("inst", "Instruments", QJsonValue::Null,
                       {entryObject("p1", "Serum", "u:serum"), entryObject("p2", "Diva", "u:diva"),
                        entryObject("p3", "Pigments", "u:pigments"), entryObject("p4", "Kontakt 7", "u:kontakt")}),
        categoryObject("synths", "Analog Synths", "inst", {entryObject("p5", "Repro-5", "u:repro")}),
        categoryObject("drums", "Drums", QJsonValue::Null, {entryObject("p6", "Battery 4", "u:battery")}),
        categoryObject("mix", "Mixing", QJsonValue::Null,
                       {entryObject("p7", "Pro-Q 3", "u:proq"), entryObject("p8", "Pro-C 2", "u:proc")}),
        categoryObject("space", "Reverb & Delay", QJsonValue::Null,
                       {entryObject("p9", "Valhalla VintageVerb", "u:vv"), entryObject("p10", "EchoBoy", "u:echoboy")}),
        categoryObject("master", "Mastering", QJsonValue::Null, {entryObject("p11", "Ozone 11", "u:ozone")}),
    };
    VintrelleNativeEdit editor;
    editor.command = [](const QJsonObject &command, VintrelleReply reply) {
        reply(command.value("op") == "history" ? QJsonObject{{"canUndo", 1}, {"canRedo", 0}} : QJsonObject{}, std::nullopt);
    };
    editor.onAddPlugin = [](const QString &) {};
    editor.setConnected(true);
    editor.updateLibrary(library);
    editor.showAtTopLeft(QPoint(170, 60));
    editor.openCategoryAtRow(editor.treeModel()->indexForID("inst"));
    editor.revealMovedPlugin("p2");
    QTimer::singleShot(600, &editor, [&editor] {
        const QRect frame = editor.frameGeometry();
        std::printf("%d %d %d %d\n", frame.x(), frame.y(), frame.width(), frame.height());
        std::fflush(stdout);
    });
    QTimer::singleShot(lifetime, &application, &QApplication::quit);
    return application.exec();
}
