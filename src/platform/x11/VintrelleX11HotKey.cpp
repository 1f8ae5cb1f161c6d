#include "VintrelleX11HotKey.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <QThread>

#include "VintrelleX11ErrorTrap.h"

#include <X11/keysym.h>

namespace {

const QString unavailableMessage =
    QStringLiteral("That shortcut is unavailable. Choose another; your previous shortcut is unchanged.");
const QString notRegisteredMessage =
    QStringLiteral("Could not register a shortcut. Your previous shortcut is unchanged.");

// The modifier bit that a key with `keysym` sets, 0 when no modifier carries it.
unsigned int modifierMaskOf(Display *display, XModifierKeymap *map, KeySym keysym)
{
    const KeyCode code = XKeysymToKeycode(display, keysym);
    if (!code)
        return 0;
    for (int modifier = 0; modifier < 8; ++modifier)
        for (int i = 0; i < map->max_keypermod; ++i)
            if (map->modifiermap[modifier * map->max_keypermod + i] == code)
                return 1u << modifier;
    return 0;
}

} // namespace

std::unique_ptr<VintrelleX11HotKey> VintrelleX11HotKey::open(QObject *parent)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    return std::unique_ptr<VintrelleX11HotKey>(new VintrelleX11HotKey(display, parent));
}

VintrelleX11HotKey::VintrelleX11HotKey(Display *display, QObject *parent) : QObject(parent), m_display(display)
{
    XModifierKeymap *map = XGetModifierMapping(display);
    m_altMask = modifierMaskOf(display, map, XK_Alt_L);
    m_superMask = modifierMaskOf(display, map, XK_Super_L);
    m_numLockMask = modifierMaskOf(display, map, XK_Num_Lock);
    XFreeModifiermap(map);
    if (!m_altMask)
        m_altMask = Mod1Mask;
    if (!m_superMask)
        m_superMask = Mod4Mask;

    m_notifier = new QSocketNotifier(ConnectionNumber(display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &VintrelleX11HotKey::drain);
    // Xlib may read our events while answering a request; they then wait in its queue with
    // nothing left on the socket to wake the notifier.
    if (QAbstractEventDispatcher *dispatcher = QThread::currentThread()->eventDispatcher()) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
            if (XEventsQueued(m_display, QueuedAlready))
                drain();
        });
    }
}

VintrelleX11HotKey::~VintrelleX11HotKey()
{
    release();
    XCloseDisplay(m_display);
}

bool VintrelleX11HotKey::grab(unsigned long keysym, unsigned int modifiers, VintrelleError *error)
{
    const KeyCode keycode = XKeysymToKeycode(m_display, keysym);
    if (!keycode) {
        if (error)
            *error = notRegisteredMessage;
        return false;
    }
    const Grab wanted{keycode, modifiers};
    if (m_grab && m_grab->keycode == wanted.keycode && m_grab->modifiers == wanted.modifiers)
        return true;

    const Window root = DefaultRootWindow(m_display);
    int errorCode = 0;
    {
        VintrelleX11ErrorTrap trap(m_display);
        for (unsigned int locks : {0u, unsigned(LockMask), m_numLockMask, LockMask | m_numLockMask})
            XGrabKey(m_display, keycode, modifiers | locks, root, False, GrabModeAsync, GrabModeAsync);
        errorCode = trap.sync();
    }
    if (errorCode) {
        // Some variants may have been granted; a refused shortcut must leave nothing behind.
        ungrab(wanted);
        if (error)
            *error = errorCode == BadAccess ? unavailableMessage : notRegisteredMessage;
        return false;
    }
    if (m_grab)
        ungrab(*m_grab);
    m_grab = wanted;
    return true;
}

void VintrelleX11HotKey::release()
{
    if (m_grab)
        ungrab(*m_grab);
    m_grab.reset();
}

void VintrelleX11HotKey::ungrab(const Grab &grab)
{
    VintrelleX11ErrorTrap trap(m_display);
    const Window root = DefaultRootWindow(m_display);
    for (unsigned int locks : {0u, unsigned(LockMask), m_numLockMask, LockMask | m_numLockMask})
        XUngrabKey(m_display, grab.keycode, grab.modifiers | locks, root);
    trap.sync();
}

void VintrelleX11HotKey::drain()
{
    while (XPending(m_display)) {
        XEvent event;
        XNextEvent(m_display, &event);
        // Only the press counts: people and tools often let go of the modifiers first.
        if (event.type == KeyPress && m_grab && int(event.xkey.keycode) == m_grab->keycode)
            emit pressed(event.xkey.time / 1000.0);
    }
}
