#include "VintrellePlatform.h"

#include "null/VintrelleNullPlatform.h"
#include "x11/VintrelleX11Platform.h"

#include <QGuiApplication>

std::unique_ptr<VintrellePlatform> VintrelleCreatePlatform()
{
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        return std::make_unique<VintrelleX11Platform>();
    return std::make_unique<VintrelleNullPlatform>();
}
