#pragma once

#include "VintrelleInputEvent.h"

#include <QPointF>
#include <QString>

#include <functional>

// The two gestures that are recognised by watching input everywhere: the double tap of Alt and
// the quick double right-click. Pure state; the caller feeds events in order and acts on the
// answers.
class VintrelleGestureRecognizer
{
public:
    enum class Gesture { None, OptionDoubleTap, DoubleRightClick };

    // What the recognisers need to know beyond the event, read when the event arrives.
    struct Context
    {
        QString combo;                                // the shortcut preference
        bool menuOpen = false;                        // the quick menu is tracking
        std::function<bool(QPointF)> overOwnWindows;  // asked for clicks only
        double doubleClickInterval = 0.4;             // seconds
    };

    static constexpr double maximumTapHold = 0.25;     // seconds from press to release of one tap
    static constexpr double maximumTapGap = 0.4;       // seconds from the first release to the second
    static constexpr double maximumClickDistance = 8.0;

    // Offers one event to both gestures, as the desktop reported it, in order.
    Gesture handle(const VintrelleInputEvent &event, const Context &context);

    // True when the event completes a double tap of Alt while `combo` asks for that gesture.
    bool handleOptionTapEvent(const VintrelleInputEvent &event, const QString &combo);

    // True when the event completes a double right-click; the menu then opens at `pointer`.
    // `menuOpen`: the quick menu is tracking; `overOwnWindows`: the pointer is over one of the
    // program's visible windows; `doubleClickInterval` in seconds.
    bool openForDoubleRightClick(const VintrelleInputEvent &event, bool menuOpen, bool overOwnWindows,
                                 QPointF pointer, double doubleClickInterval);

    bool optionDown() const { return m_optionDown; }
    bool optionTapValid() const { return m_optionTapValid; }
    double optionReleasedAt() const { return m_optionReleasedAt; }
    double lastRightClickAt() const { return m_lastRightClickAt; }

private:
    void cancelOptionTap()
    {
        m_optionTapValid = false;
        m_optionReleasedAt = 0;
    }

    bool m_optionDown = false;
    bool m_optionTapValid = false;
    double m_optionPressedAt = 0;
    double m_optionReleasedAt = 0;
    double m_lastRightClickAt = 0;
    QPointF m_lastRightClickPoint;
};

// A right-button release with none of Shift, Control, Alt or Super held, away from the program's
// own windows.
bool VintrelleShouldOpenForMouseEvent(VintrelleInputEvent::Kind kind, quint32 modifiers, bool overOwnWindows);
// A second release soon enough after the first and close enough to it.
bool VintrelleIsQuickRightClickPair(double previousTime, double time, QPointF previousPoint, QPointF point,
                                    double doubleClickInterval);
