#include "VintrellePlatform.h"
#include "VintrelleReducedMotion.h"

#include "null/VintrelleNullPlatform.h"
#include "x11/VintrelleX11Platform.h"

#include <QGuiApplication>
#include <QStandardPaths>

// Linux desktops keep the setting in configuration files, whatever the display; a backend that
// can ask the desktop directly does so first.
bool VintrellePlatform::prefersReducedMotion() const
{
    return VintrelleDesktopReducesMotion(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
}

std::unique_ptr<VintrellePlatform> VintrelleCreatePlatform()
{
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        return std::make_unique<VintrelleX11Platform>();
    return std::make_unique<VintrelleNullPlatform>();
}
