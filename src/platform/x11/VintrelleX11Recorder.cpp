#include "VintrelleX11Recorder.h"

#include "VintrelleShortcut.h"

#include <QSocketNotifier>

#include "VintrelleX11ErrorTrap.h"

#include <X11/XKBlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/record.h>
#include <X11/keysym.h>

std::unique_ptr<VintrelleX11Recorder> VintrelleX11Recorder::open(VintrelleError *error, QObject *parent)
{
    Display *control = XOpenDisplay(nullptr);
    Display *data = control ? XOpenDisplay(nullptr) : nullptr;
    int major = 0, minor = 0;
    if (!data || !XRecordQueryVersion(control, &major, &minor)) {
        if (error)
            *error = data ? QStringLiteral("The X server does not offer the RECORD extension, so keys and clicks "
                                           "meant for other windows cannot be seen.")
                          : QStringLiteral("Could not connect to the X server.");
        if (data)
            XCloseDisplay(data);
        if (control)
            XCloseDisplay(control);
        return nullptr;
    }
    return std::unique_ptr<VintrelleX11Recorder>(new VintrelleX11Recorder(control, data, parent));
}

VintrelleX11Recorder::VintrelleX11Recorder(Display *control, Display *data, QObject *parent)
    : QObject(parent), m_control(control), m_data(data)
{
    int minKeycode = 0, maxKeycode = 0;
    XDisplayKeycodes(control, &minKeycode, &maxKeycode);
    m_letterCodeOfKey.fill(-1);
    for (int keycode = minKeycode; keycode <= maxKeycode && keycode < 256; ++keycode) {
        const KeySym keysym = XkbKeycodeToKeysym(control, KeyCode(keycode), 0, 0);
        if (keysym >= XK_a && keysym <= XK_z)
            m_letterCodeOfKey[keycode] = ShortcutKeys().value(QString(QChar(char('A' + (keysym - XK_a)))), -1);
    }
    XModifierKeymap *map = XGetModifierMapping(control);
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < map->max_keypermod; ++i) {
            const KeyCode keycode = map->modifiermap[modifier * map->max_keypermod + i];
            if (!keycode)
                continue;
            m_modifierOfKey[keycode] = 1u << modifier;
            const KeySym keysym = XkbKeycodeToKeysym(control, keycode, 0, 0);
            if (keysym == XK_Alt_L || keysym == XK_Alt_R)
                m_altMask |= 1u << modifier;
            if (keysym == XK_Super_L || keysym == XK_Super_R)
                m_superMask |= 1u << modifier;
        }
    }
    XFreeModifiermap(map);
    if (!m_altMask)
        m_altMask = Mod1Mask;
    if (!m_superMask)
        m_superMask = Mod4Mask;
}

VintrelleX11Recorder::~VintrelleX11Recorder()
{
    if (m_context) {
        VintrelleX11ErrorTrap trap(m_control);
        XRecordDisableContext(m_control, m_context);
        XRecordFreeContext(m_control, m_context);
        trap.sync();
    }
    XCloseDisplay(m_data);
    XCloseDisplay(m_control);
}

bool VintrelleX11Recorder::start(VintrelleError *error)
{
    if (m_context)
        return true;
    XRecordRange *range = XRecordAllocRange();
    if (!range) {
        if (error)
            *error = QStringLiteral("Could not start watching keys and clicks: out of memory.");
        return false;
    }
    // Motion is left out on purpose: nothing here needs it, and it would wake us constantly.
    range->device_events.first = KeyPress;
    range->device_events.last = ButtonRelease;
    XRecordClientSpec clients = XRecordAllClients;
    {
        VintrelleX11ErrorTrap trap(m_control);
        m_context = XRecordCreateContext(m_control, 0, &clients, 1, &range, 1);
        if (trap.sync())
            m_context = 0;
    }
    XFree(range);
    if (!m_context || !XRecordEnableContextAsync(m_data, m_context,
                                                 reinterpret_cast<XRecordInterceptProc>(&VintrelleX11Recorder::intercept),
                                                 reinterpret_cast<XPointer>(this))) {
        if (m_context)
            XRecordFreeContext(m_control, m_context);
        m_context = 0;
        if (error)
            *error = QStringLiteral("Could not start watching keys and clicks: the X server refused.");
        return false;
    }
    m_notifier = new QSocketNotifier(ConnectionNumber(m_data), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { XRecordProcessReplies(m_data); });
    XRecordProcessReplies(m_data);
    return true;
}

void VintrelleX11Recorder::intercept(char *closure, void *rawData)
{
    auto *self = reinterpret_cast<VintrelleX11Recorder *>(closure);
    auto *data = static_cast<XRecordInterceptData *>(rawData);
    if (data->category == XRecordFromServer && data->data_len * 4 >= sizeof(xEvent)) {
        const auto *event = reinterpret_cast<const xEvent *>(data->data);
        self->handle(event->u.u.type & 0x7f, event->u.u.detail, event->u.keyButtonPointer.time,
                     event->u.keyButtonPointer.rootX, event->u.keyButtonPointer.rootY,
                     event->u.keyButtonPointer.state);
    }
    XRecordFreeData(data);
}

quint32 VintrelleX11Recorder::neutralModifiers(unsigned int state) const
{
    quint32 modifiers = 0;
    if (state & ShiftMask)
        modifiers |= VintrelleModifier::shift;
    if (state & ControlMask)
        modifiers |= VintrelleModifier::control;
    if (state & LockMask)
        modifiers |= VintrelleModifier::capsLock;
    if (state & m_altMask)
        modifiers |= VintrelleModifier::option;
    if (state & m_superMask)
        modifiers |= VintrelleModifier::command;
    return modifiers;
}

void VintrelleX11Recorder::handle(int type, int detail, unsigned long time, int rootX, int rootY, unsigned int state)
{
    using Kind = VintrelleInputEvent::Kind;
    VintrelleInputEvent event;
    event.timestamp = time / 1000.0;
    event.location = QPointF(rootX / m_devicePixelRatio, rootY / m_devicePixelRatio);
    // The state in an X event is the one before it; a modifier key's own change is added here.
    const unsigned int modifierBit = detail >= 0 && detail < 256 ? m_modifierOfKey[detail] : 0;
    switch (type) {
    case KeyPress:
    case KeyRelease:
        if (modifierBit && modifierBit != LockMask) {
            event.kind = Kind::ModifierChange;
            state = type == KeyPress ? state | modifierBit : state & ~modifierBit;
        } else if (modifierBit == LockMask) {
            event.kind = Kind::ModifierChange;
            if (type == KeyPress)
                state ^= LockMask;
        } else if (type == KeyPress) {
            event.kind = Kind::KeyDown;
            event.keyCode = detail < 256 ? m_letterCodeOfKey[detail] : -1;
        } else {
            return;
        }
        break;
    case ButtonPress:
        if (detail == 1)
            event.kind = Kind::LeftMouseDown;
        else if (detail == 3)
            event.kind = Kind::RightMouseDown;
        else if (detail == 2 || detail >= 8)
            event.kind = Kind::OtherMouseDown;
        else
            return; // wheel steps are not clicks
        break;
    case ButtonRelease:
        if (detail != 3)
            return;
        event.kind = Kind::RightMouseUp;
        break;
    default:
        return;
    }
    event.modifiers = neutralModifiers(state);
    if (onEvent)
        onEvent(event);
}
