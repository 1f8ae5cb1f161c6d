#include "VintrelleGestureRecognizer.h"

#include "VintrelleShortcut.h"

#include <QLineF>

VintrelleGestureRecognizer::Gesture VintrelleGestureRecognizer::handle(const VintrelleInputEvent &event,
                                                                      const Context &context)
{
    using Kind = VintrelleInputEvent::Kind;
    // Right-button releases are not part of the double tap: a right click between the taps has
    // already cancelled it with its press.
    if (event.kind != Kind::RightMouseUp && handleOptionTapEvent(event, context.combo))
        return Gesture::OptionDoubleTap;
    if (event.kind == Kind::ModifierChange || event.kind == Kind::KeyDown)
        return Gesture::None;
    const bool overOwn = context.overOwnWindows && context.overOwnWindows(event.location);
    return openForDoubleRightClick(event, context.menuOpen, overOwn, event.location, context.doubleClickInterval)
        ? Gesture::DoubleRightClick
        : Gesture::None;
}

bool VintrelleGestureRecognizer::handleOptionTapEvent(const VintrelleInputEvent &event, const QString &combo)
{
    if (combo != VintrelleShortcutCombo::doubleOption) {
        m_optionDown = false;
        cancelOptionTap();
        return false;
    }
    const bool optionNow = event.modifiers & VintrelleModifier::option;
    if (event.kind != VintrelleInputEvent::Kind::ModifierChange || (event.modifiers & VintrelleModifier::otherThanOption)) {
        cancelOptionTap();
        m_optionDown = optionNow;
        return false;
    }
    bool completed = false;
    if (optionNow && !m_optionDown) {
        m_optionPressedAt = event.timestamp;
        m_optionTapValid = true;
    } else if (!optionNow && m_optionDown) {
        const bool quickTap = m_optionTapValid && event.timestamp - m_optionPressedAt <= maximumTapHold;
        if (quickTap && m_optionReleasedAt > 0 && event.timestamp - m_optionReleasedAt <= maximumTapGap) {
            m_optionReleasedAt = 0;
            completed = true;
        } else {
            m_optionReleasedAt = quickTap ? event.timestamp : 0;
        }
        m_optionTapValid = false;
    }
    m_optionDown = optionNow;
    return completed;
}

bool VintrelleGestureRecognizer::openForDoubleRightClick(const VintrelleInputEvent &event, bool menuOpen,
                                                         bool overOwnWindows, QPointF pointer,
                                                         double doubleClickInterval)
{
    using Kind = VintrelleInputEvent::Kind;
    // Keys are not clicks: a key press between the two clicks neither counts nor cancels.
    if (event.kind == Kind::ModifierChange || event.kind == Kind::KeyDown || event.kind == Kind::RightMouseDown
        || menuOpen)
        return false;
    if (!VintrelleShouldOpenForMouseEvent(event.kind, event.modifiers, overOwnWindows)) {
        m_lastRightClickAt = 0;
        return false;
    }
    const bool pair = VintrelleIsQuickRightClickPair(m_lastRightClickAt, event.timestamp, m_lastRightClickPoint,
                                                     pointer, doubleClickInterval);
    m_lastRightClickAt = pair ? 0 : event.timestamp;
    m_lastRightClickPoint = pointer;
    if (pair)
        cancelOptionTap();
    return pair;
}

bool VintrelleShouldOpenForMouseEvent(VintrelleInputEvent::Kind kind, quint32 modifiers, bool overOwnWindows)
{
    return kind == VintrelleInputEvent::Kind::RightMouseUp && !(modifiers & VintrelleModifier::clickModifiers)
        && !overOwnWindows;
}

bool VintrelleIsQuickRightClickPair(double previousTime, double time, QPointF previousPoint, QPointF point,
                                    double doubleClickInterval)
{
    const double gap = time - previousTime;
    return previousTime > 0 && gap > 0 && gap <= doubleClickInterval
        && QLineF(previousPoint, point).length() <= VintrelleGestureRecognizer::maximumClickDistance;
}
