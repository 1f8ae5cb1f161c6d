#include "VintrelleReducedMotion.h"
#include "VintrelleTestSupport.h"
#include "XSettingsBytes.h"

// The desktop's wish for less motion, read from real settings files in a temporary folder.
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
        QTest::newRow("GTK 3 on") << "gtk-3.0/settings.ini" << QByteArray("[Settings]\ngtk-enable-animations=true\n") << false;
        QTest::newRow("GTK 3 other keys only") << "gtk-3.0/settings.ini" << QByteArray("[Settings]\ngtk-theme-name=Adwaita\n") << false;
        QTest::newRow("GTK 3 key in another group") << "gtk-3.0/settings.ini" << QByteArray("[Other]\ngtk-enable-animations=false\n") << false;
        QTest::newRow("GTK 4 off") << "gtk-4.0/settings.ini" << QByteArray("[Settings]\ngtk-enable-animations=FALSE\n") << true;
        QTest::newRow("KDE instant animations") << "kdeglobals" << QByteArray("[KDE]\nAnimationDurationFactor=0\n") << true;
        QTest::newRow("KDE slower animations") << "kdeglobals" << QByteArray("[KDE]\nAnimationDurationFactor=0.5\n") << false;
        QTest::newRow("KDE factor not a number") << "kdeglobals" << QByteArray("[KDE]\nAnimationDurationFactor=fast\n") << false;
        QTest::newRow("KDE factor empty") << "kdeglobals" << QByteArray("[KDE]\nAnimationDurationFactor=\n") << false;
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

    void noConfigurationFolder()
    {
        QVERIFY(!VintrelleDesktopReducesMotion(QString()));
    }
};

QTEST_GUILESS_MAIN(TestReducedMotion)
#include "tst_reduced_motion.moc"
