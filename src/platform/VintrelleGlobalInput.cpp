#include "VintrelleGlobalInput.h"

#include "VintrelleShortcut.h"

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
    if (m_fallbackActive && event.kind == VintrelleInputEvent::Kind::KeyDown
        && VintrelleMatchesObservedShortcut(event.keyCode, event.modifiers, ShortcutCombo(), ShortcutLetter()))
        deliverHotKey(event.timestamp);

    VintrelleGestureRecognizer::Context context;
    context.combo = combo ? combo() : ShortcutCombo();
    context.menuOpen = menuOpen && menuOpen();
    context.overOwnWindows = pointerOverOwnWindows;
    context.doubleClickInterval = doubleClickInterval();
    switch (m_recognizer.handle(event, context)) {
    case VintrelleGestureRecognizer::Gesture::OptionDoubleTap:
        m_lastGestureTime = event.timestamp;
        emit optionDoubleTapped();
        break;
    case VintrelleGestureRecognizer::Gesture::DoubleRightClick:
        m_lastGestureTime = event.timestamp;
        emit doubleRightClick(event.location);
        break;
    case VintrelleGestureRecognizer::Gesture::None:
        break;
    }
}

void VintrelleGlobalInput::deliverHotKey(double timestamp)
{
    m_lastGestureTime = timestamp;
    emit hotKeyPressed();
}
