#include "VintrelleX11ErrorTrap.h"

namespace {
VintrelleX11ErrorTrap *activeTrap = nullptr;
}

VintrelleX11ErrorTrap::VintrelleX11ErrorTrap(Display *display)
    : m_display(display), m_firstSerial(NextRequest(display)), m_outer(activeTrap)
{
    m_previous = XSetErrorHandler(&VintrelleX11ErrorTrap::handle);
    activeTrap = this;
}

VintrelleX11ErrorTrap::~VintrelleX11ErrorTrap()
{
    XSync(m_display, False);
    activeTrap = m_outer;
    XSetErrorHandler(m_previous);
}

int VintrelleX11ErrorTrap::sync()
{
    XSync(m_display, False);
    return m_errorCode;
}

int VintrelleX11ErrorTrap::handle(Display *display, XErrorEvent *event)
{
    for (VintrelleX11ErrorTrap *trap = activeTrap; trap; trap = trap->m_outer) {
        if (trap->m_display == display && event->serial >= trap->m_firstSerial) {
            if (!trap->m_errorCode)
                trap->m_errorCode = event->error_code;
            return 0;
        }
    }
    // An error on a connection that is not ours to judge: leave it to whoever handled it before.
    VintrelleX11ErrorTrap *outermost = activeTrap;
    while (outermost && outermost->m_outer)
        outermost = outermost->m_outer;
    return outermost && outermost->m_previous ? outermost->m_previous(display, event) : 0;
}
