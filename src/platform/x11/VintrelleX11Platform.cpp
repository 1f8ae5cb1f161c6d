#include "VintrelleX11Platform.h"

#include "VintrelleReducedMotion.h"
#include "VintrelleX11ErrorTrap.h"

namespace {

// "Gtk/EnableAnimations" as the settings daemon of the default screen publishes it, read on a
// connection of our own; none without a daemon or the setting.
std::optional<bool> publishedAnimations()
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return std::nullopt;
    std::optional<bool> enabled;
    {
        VintrelleX11ErrorTrap trap(display); // the daemon's window may go at any moment
        const QByteArray selection = "_XSETTINGS_S" + QByteArray::number(DefaultScreen(display));
        const Window owner = XGetSelectionOwner(display, XInternAtom(display, selection.constData(), False));
        if (owner != 0) {
            const Atom settings = XInternAtom(display, "_XSETTINGS_SETTINGS", False);
            Atom type = 0;
            int format = 0;
            unsigned long count = 0, remaining = 0;
            unsigned char *data = nullptr;
            constexpr long maximumLength = 1 << 16; // in 32-bit units: far more than any desktop publishes
            if (XGetWindowProperty(display, owner, settings, 0, maximumLength, False, settings, &type, &format, &count,
                                   &remaining, &data) == Success && data) {
                if (type == settings && format == 8 && remaining == 0)
                    enabled = VintrelleXSettingsAnimationsEnabled(QByteArray(reinterpret_cast<const char *>(data), qsizetype(count)));
                XFree(data);
            }
        }
        if (trap.sync() != 0)
            enabled.reset();
    }
    XCloseDisplay(display);
    return enabled;
}

} // namespace

bool VintrelleX11Platform::prefersReducedMotion() const
{
    if (const std::optional<bool> enabled = publishedAnimations())
        return !*enabled;
    return VintrellePlatform::prefersReducedMotion();
}
