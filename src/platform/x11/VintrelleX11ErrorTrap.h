#pragma once

#include <QByteArray>

// Qt before X11: the X headers define None, KeyPress, Bool and Status as macros.
#include <X11/Xlib.h>

// Requests on one of our own X connections whose errors are collected instead of reaching
// Xlib's default handler, which would end the process. The handler is process-wide: it is
// installed for the lifetime of the trap and the previous one is restored afterwards.
class VintrelleX11ErrorTrap
{
public:
    explicit VintrelleX11ErrorTrap(Display *display);
    ~VintrelleX11ErrorTrap();
    VintrelleX11ErrorTrap(const VintrelleX11ErrorTrap &) = delete;
    VintrelleX11ErrorTrap &operator=(const VintrelleX11ErrorTrap &) = delete;

    // Waits for every request made so far and answers the first error code among them, 0 for none.
    int sync();

private:
    Display *m_display;
    unsigned long m_firstSerial;
    int m_errorCode = 0;
    int (*m_previous)(Display *, XErrorEvent *) = nullptr;
    VintrelleX11ErrorTrap *m_outer = nullptr;
    static int handle(Display *display, XErrorEvent *event);
};
