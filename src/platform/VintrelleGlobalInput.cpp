#include "VintrelleGlobalInput.h"

#include "VintrelleShortcut.h"

namespace {

bool isClick(VintrelleInputEvent::Kind kind)
{
    using Kind = VintrelleInputEvent::Kind;
    return kind == Kind::LeftMouseDown || kind == Kind::RightMouseDown || kind == Kind::RightMouseUp
        || kind == Kind::OtherMouseDown;
}

} // namespace

VintrelleGlobalInput::~VintrelleGlobalInput() = default;

bool VintrelleGlobalInput::installHotKey(const QString &combo, const QString &letter, VintrelleError *error)
{
    if (combo == VintrelleShortcutCombo::doubleOption) {
        clearHotKey();
        return true;
    }
    return setHotKey(ShortcutKeys().value(letter, -1), ShortcutModifiers(combo), error);
}

VintrelleGlobalInput::ShortcutStatus VintrelleGlobalInput::installGlobalMonitorFallback()
{
    const QString currentCombo = combo ? combo() : ShortcutCombo();
    const QString letter = ShortcutLetter();
    if (installHotKey(currentCombo, letter))
        return shortcutStatus(currentCombo, letter);
    if (!available())
        return {QStringLiteral("Enable global hotkey\u2026"), true};
    if (!observing())
        return {QStringLiteral("Global hotkey unavailable"), true};
    m_fallbackActive = true;
    return {VintrelleShortcutTitle(currentCombo, letter), false};
}

bool VintrelleGlobalInput::applyShortcut(const QString &combo, const QString &letter, VintrelleError *error)
{
    if (!installHotKey(combo, letter, error))
        return false;
    m_fallbackActive = false;
    return true;
}

VintrelleGlobalInput::ShortcutStatus VintrelleGlobalInput::shortcutStatus(const QString &combo,
                                                                          const QString &letter) const
{
    if (combo == VintrelleShortcutCombo::doubleOption && !(available() && observing()))
        return {QStringLiteral("Enable double-tap Alt\u2026"), true};
    return {VintrelleShortcutTitle(combo, letter), false};
}

void VintrelleGlobalInput::deliver(const VintrelleInputEvent &event)
{
    using Kind = VintrelleInputEvent::Kind;
    if (m_fallbackActive && event.kind == Kind::KeyDown
        && VintrelleMatchesObservedShortcut(event.keyCode, event.modifiers, ShortcutCombo(), ShortcutLetter()))
        deliverHotKey(event.timestamp);

    // Right-button releases are not part of the double tap: a right click between the taps is
    // already seen as its press.
    if (event.kind != Kind::RightMouseUp
        && m_recognizer.handleOptionTapEvent(event, combo ? combo() : ShortcutCombo())) {
        m_lastGestureTime = event.timestamp;
        emit optionDoubleTapped();
    }

    if (isClick(event.kind)) {
        const bool open = menuOpen && menuOpen();
        const bool overOwn = pointerOverOwnWindows && pointerOverOwnWindows(event.location);
        if (m_recognizer.openForDoubleRightClick(event, open, overOwn, event.location, doubleClickInterval())) {
            m_lastGestureTime = event.timestamp;
            emit doubleRightClick(event.location);
        }
    }
}

void VintrelleGlobalInput::deliverHotKey(double timestamp)
{
    m_lastGestureTime = timestamp;
    emit hotKeyPressed();
}
