#include "VintrelleTestSupport.h"
#include "XSettingsBytes.h"
#include "VintrelleX11Platform.h"

// X headers last: they define None, Bool and Status.
#include <X11/Xlib.h>

// Reduced motion on a real X server: a settings daemon's published word, played by this test
// owning the XSETTINGS selection, wins over the settings files; without a daemon the files count.
class TestX11ReducedMotion : public QObject
{
    Q_OBJECT

    QTemporaryDir m_config;

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    }

    void daemonThenFiles_data()
    {
        QTest::addColumn<int>("published"); // -1: no daemon, -2: a daemon without the setting, else the value
        QTest::addColumn<bool>("gtkFileOff");
        QTest::addColumn<bool>("reduced");
        QTest::newRow("no daemon, no file") << -1 << false << false;
        QTest::newRow("no daemon, GTK file off") << -1 << true << true;
        QTest::newRow("daemon says off") << 0 << false << true;
        QTest::newRow("daemon says on, GTK file off") << 1 << true << false;
        QTest::newRow("daemon without the setting, GTK file off") << -2 << true << true;
    }

    void daemonThenFiles()
    {
        QFETCH(int, published);
        QFETCH(bool, gtkFileOff);
        QFETCH(bool, reduced);
        const QString gtk = m_config.filePath("gtk-3.0/settings.ini");
        QFile::remove(gtk);
        if (gtkFileOff)
            writeFile(gtk, "[Settings]\ngtk-enable-animations=false\n");

        Display *display = XOpenDisplay(nullptr);
        QVERIFY(display);
        const Window root = DefaultRootWindow(display);
        const Window daemon = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
        const Atom selection = XInternAtom(display, ("_XSETTINGS_S" + QByteArray::number(DefaultScreen(display))).constData(), False);
        if (published != -1) {
            const Atom settings = XInternAtom(display, "_XSETTINGS_SETTINGS", False);
            QList<XSetting> list{{XSetting::String, "Net/ThemeName", QByteArray("Adwaita")}};
            if (published == -2)
                list.append({XSetting::Integer, "Net/DoubleClickTime", 400});
            else
                list.append({XSetting::Integer, "Gtk/EnableAnimations", published});
            const QByteArray property = xsettingsProperty(list);
            XChangeProperty(display, daemon, settings, settings, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char *>(property.constData()), int(property.size()));
            XSetSelectionOwner(display, selection, daemon, CurrentTime);
        }
        XSync(display, False);
        QCOMPARE(XGetSelectionOwner(display, selection) != 0, published != -1);

        const bool answer = VintrelleX11Platform().prefersReducedMotion();
        XDestroyWindow(display, daemon); // gives up the selection too
        XCloseDisplay(display);
        QCOMPARE(answer, reduced);
    }
};

QTEST_GUILESS_MAIN(TestX11ReducedMotion)
#include "tst_x11_reduced_motion.moc"
