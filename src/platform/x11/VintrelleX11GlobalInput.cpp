#include "VintrelleX11GlobalInput.h"

#include "VintrelleNullGlobalInput.h"
#include "VintrelleShortcut.h"
#include "VintrelleX11HotKey.h"
#include "VintrelleX11Recorder.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyleHints>

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

const QString notRegisteredMessage =
    QStringLiteral("Could not register a shortcut. Your previous shortcut is unchanged.");

} // namespace

std::unique_ptr<VintrelleGlobalInput> VintrelleGlobalInput::create(QObject *parent)
{
    QString reason;
    if (qGuiApp && QGuiApplication::platformName() != u"xcb") {
        reason = QStringLiteral("This desktop session does not let programs see keys and clicks meant for other "
                                "windows. Bind \"vintrelle --toggle\" to a desktop shortcut instead.");
    } else if (std::unique_ptr<VintrelleX11GlobalInput> x11 = VintrelleX11GlobalInput::open(&reason, parent)) {
        return x11;
    }
    return std::make_unique<VintrelleNullGlobalInput>(reason, parent);
}

std::unique_ptr<VintrelleX11GlobalInput> VintrelleX11GlobalInput::open(QString *reason, QObject *parent)
{
    VintrelleError error;
    std::unique_ptr<VintrelleX11Recorder> recorder = VintrelleX11Recorder::open(&error);
    std::unique_ptr<VintrelleX11HotKey> hotKey = recorder ? VintrelleX11HotKey::open() : nullptr;
    if (!hotKey) {
        if (reason)
            *reason = error.value_or(QStringLiteral("Could not connect to the X server."));
        return nullptr;
    }
    return std::unique_ptr<VintrelleX11GlobalInput>(
        new VintrelleX11GlobalInput(std::move(hotKey), std::move(recorder), parent));
}

VintrelleX11GlobalInput::VintrelleX11GlobalInput(std::unique_ptr<VintrelleX11HotKey> hotKey,
                                                 std::unique_ptr<VintrelleX11Recorder> recorder, QObject *parent)
    : VintrelleGlobalInput(parent), m_hotKey(std::move(hotKey)), m_recorder(std::move(recorder))
{
    connect(m_hotKey.get(), &VintrelleX11HotKey::pressed, this, &VintrelleX11GlobalInput::deliverHotKey);
    m_recorder->onEvent = [this](const VintrelleInputEvent &event) { deliver(event); };
    if (qGuiApp && QGuiApplication::primaryScreen())
        m_recorder->setDevicePixelRatio(QGuiApplication::primaryScreen()->devicePixelRatio());
}

// Members go first in reverse order: the recorder's context and the hot key's grabs are
// released before their connections close.
VintrelleX11GlobalInput::~VintrelleX11GlobalInput() = default;

bool VintrelleX11GlobalInput::setHotKey(int keyCode, quint32 modifiers, VintrelleError *error)
{
    const QString letter = VintrelleShortcutLetterForKeyCode(keyCode);
    if (letter.isEmpty()) {
        if (error)
            *error = notRegisteredMessage;
        return false;
    }
    unsigned int x11Modifiers = 0;
    if (modifiers & VintrelleHotKeyModifier::command)
        x11Modifiers |= m_hotKey->superMask();
    if (modifiers & VintrelleHotKeyModifier::shift)
        x11Modifiers |= ShiftMask;
    if (modifiers & VintrelleHotKeyModifier::option)
        x11Modifiers |= m_hotKey->altMask();
    if (modifiers & VintrelleHotKeyModifier::control)
        x11Modifiers |= ControlMask;
    const KeySym keysym = XK_a + (letter.at(0).unicode() - 'A');
    return m_hotKey->grab(keysym, x11Modifiers, error);
}

void VintrelleX11GlobalInput::clearHotKey()
{
    m_hotKey->release();
}

bool VintrelleX11GlobalInput::hasHotKey() const
{
    return m_hotKey->grabbed();
}

bool VintrelleX11GlobalInput::startObserving(VintrelleError *error)
{
    return m_recorder->start(error);
}

bool VintrelleX11GlobalInput::observing() const
{
    return m_recorder->running();
}

double VintrelleX11GlobalInput::doubleClickInterval() const
{
    return (qGuiApp ? QGuiApplication::styleHints()->mouseDoubleClickInterval() : 400) / 1000.0;
}
