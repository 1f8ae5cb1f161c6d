#include "VintrelleReducedMotion.h"
#include "VintrelleTestSupport.h"
#include "VintrelleX11Platform.h"

// X headers last: they define None, Bool and Status.
#include <X11/Xlib.h>

namespace {

// Builds an XSETTINGS property as a settings daemon publishes it.
struct XSetting
{
    enum Type { Integer = 0, String = 1, Colour = 2 } type;
    QByteArray name;
    QVariant value; // int for Integer, QByteArray for String; ignored for Colour
};

QByteArray xsettingsProperty(const QList<XSetting> &settings, bool bigEndian = false, int declaredCount = -1)
{
    QByteArray out;
    auto number = [&](quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            const int shift = 8 * (bigEndian ? bytes - 1 - i : i);
            out.append(char((value >> shift) & 0xff));
        }
    };
    auto pad = [&] {
        while (out.size() % 4)
            out.append('\0');
    };
    out.append(char(bigEndian ? 1 : 0));
    out.append(3, '\0');
    number(7, 4); // serial
    number(quint32(declaredCount < 0 ? settings.size() : declaredCount), 4);
    for (const XSetting &setting : settings) {
        out.append(char(setting.type));
        out.append('\0');
        number(quint32(setting.name.size()), 2);
        out.append(setting.name);
        pad();
        number(3, 4); // last change serial
        if (setting.type == XSetting::Integer) {
            number(quint32(setting.value.toInt()), 4);
        } else if (setting.type == XSetting::String) {
            const QByteArray text = setting.value.toByteArray();
            number(quint32(text.size()), 4);
            out.append(text);
            pad();
        } else {
            number(0xffff, 2);
            number(0x8000, 2);
            number(0, 2);
            number(0xffff, 2);
        }
    }
    return out;
}

} // namespace

// The desktop's wish for less motion: real settings files in a temporary folder, the bytes a
// settings daemon publishes, and on a real X server the daemon's word winning over the files.
class TestReducedMotion : public QObject
{
    Q_OBJECT

private slots:
    void desktopSettings_data()
    {
        QTest::addColumn<QString>("file"); // under the configuration folder; empty: none
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("reduced");
        QTest::newRow("nothing configured") << "" << QByteArray() << false;
        QTest::newRow("GTK 3 off") << "gtk-3.0/settings.ini" << QByteArray("[Settings]\ngtk-enable-animations=false\n") << true;
        QTest::newRow("GTK 3 off as 0, spaced")
            << "gtk-3.0/settings.ini" << QByteArray("[Settings]\ngtk-theme-name=Adwaita\ngtk-enable-animations = 0\n") << true;
        QTest::newRow("GTK 3 key in another group") << "gtk-3.0/settings.ini" << QByteArray("[Other]\ngtk-enable-animations=false\n") << false;
        QTest::newRow("GTK 4 off") << "gtk-4.0/settings.ini" << QByteArray("[Settings]\ngtk-enable-animations=FALSE\n") << true;
        QTest::newRow("KDE instant animations") << "kdeglobals" << QByteArray("[KDE]\nAnimationDurationFactor=0\n") << true;
        QTest::newRow("KDE slower animations") << "kdeglobals" << QByteArray("[KDE]\nAnimationDurationFactor=0.5\n") << false;
        QTest::newRow("KDE factor not a number") << "kdeglobals" << QByteArray("[KDE]\nAnimationDurationFactor=fast\n") << false;
        QTest::newRow("settings file is a folder") << "gtk-3.0/settings.ini/x" << QByteArray("") << false;
    }

    void desktopSettings()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, contents);
        QFETCH(bool, reduced);
        QTemporaryDir config;
        if (!file.isEmpty())
            writeFile(config.filePath(file), contents);
        QCOMPARE(VintrelleDesktopReducesMotion(config.path()), reduced);
        if (file.isEmpty())
            QVERIFY(!VintrelleDesktopReducesMotion(QString())); // no folder known: nothing read
    }

    // What a settings daemon publishes, as bytes; -1 stands for "says nothing".
    void publishedSettings_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<int>("enabled");
        const XSetting off{XSetting::Integer, "Gtk/EnableAnimations", 0};
        const XSetting on{XSetting::Integer, "Gtk/EnableAnimations", 1};
        const XSetting theme{XSetting::String, "Net/ThemeName", QByteArray("Adwaita-dark")};
        const XSetting colour{XSetting::Colour, "Gtk/ColorScheme", {}};
        const QByteArray offAlone = xsettingsProperty({off});
        QTest::newRow("off") << offAlone << 0;
        QTest::newRow("on, big-endian, after a string and a colour") << xsettingsProperty({theme, colour, on}, true) << 1;
        QTest::newRow("off, little-endian, after a string") << xsettingsProperty({theme, off}) << 0;
        QTest::newRow("absent") << xsettingsProperty({XSetting{XSetting::Integer, "Net/DoubleClickTime", 400}, theme}) << -1;
        QTest::newRow("empty property") << QByteArray() << -1;
        QTest::newRow("cut short in the value") << offAlone.left(offAlone.size() - 2) << -1;
        QTest::newRow("more settings declared than sent") << xsettingsProperty({theme}, false, 5) << -1;
        QTest::newRow("published as a string") << xsettingsProperty({XSetting{XSetting::String, "Gtk/EnableAnimations", QByteArray("0")}}) << -1;
        QByteArray huge = xsettingsProperty({theme, off});
        huge[12 + 4 + 16 + 4] = char(0xff); // the string's length: 4 GiB less a few bytes
        huge[12 + 4 + 16 + 5] = char(0xff);
        huge[12 + 4 + 16 + 6] = char(0xff);
        huge[12 + 4 + 16 + 7] = char(0xff);
        QTest::newRow("string length past the end") << huge << -1;
        QByteArray unknown = xsettingsProperty({theme, off});
        unknown[12] = char(9);
        QTest::newRow("unknown type first") << unknown << -1;
    }

    void publishedSettings()
    {
        QFETCH(QByteArray, property);
        QFETCH(int, enabled);
        const std::optional<bool> read = VintrelleXSettingsAnimationsEnabled(property);
        QCOMPARE(read ? int(*read) : -1, enabled);
    }

    // A settings daemon, played by this test owning the XSETTINGS selection, wins over the files;
    // without one the files count.
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
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        const QString gtk = config.filePath("gtk-3.0/settings.ini");
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

QTEST_GUILESS_MAIN(TestReducedMotion)
#include "tst_reduced_motion.moc"
