// Shows the name prompt as a user meets it, for the screenshot in docs/: prints the window's
// geometry ("x y width height") once it is shown, and quits after the given milliseconds.

#include "VintrelleNativeNamePrompt.h"

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    const int lifetime = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 4000;
    // A plain backdrop in place of a desktop, so the panel's rounded edge shows.
    QWidget backdrop(nullptr, Qt::FramelessWindowHint);
    backdrop.setStyleSheet(QStringLiteral("background: qlineargradient(x1:0, y1:0, x2:1, y2:1, stop:0 #4b5563, stop:1 #374151);"));
    backdrop.setGeometry(0, 0, 640, 400);
    backdrop.show();
    VintrelleNativeNamePrompt prompt;
    prompt.openWithTitle(QStringLiteral("Rename"), QStringLiteral("Valhalla VintageVerb"), QPoint(120, 100), nullptr);
    QTimer::singleShot(500, &prompt, [&prompt] {
        const QRect frame = prompt.window()->frameGeometry();
        std::printf("%d %d %d %d\n", frame.x(), frame.y(), frame.width(), frame.height());
        std::fflush(stdout);
    });
    QTimer::singleShot(lifetime, &application, &QApplication::quit);
    return application.exec();
}
