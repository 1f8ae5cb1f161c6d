#pragma once

#include <QPointF>
#include <QtGlobal>

// Modifier bits carried by input events, whatever the desktop reports them as.
namespace VintrelleModifier {
constexpr quint32 capsLock = 0x10000;
constexpr quint32 shift = 0x20000;
constexpr quint32 control = 0x40000;
constexpr quint32 option = 0x80000;    // Alt
constexpr quint32 command = 0x100000;  // Super
constexpr quint32 function = 0x800000;
// Modifiers that spoil a tap of Alt; Caps Lock is a state, not a key being held.
constexpr quint32 otherThanOption = shift | control | command | function;
// Modifiers that keep a right click from counting towards the double right-click.
constexpr quint32 clickModifiers = shift | control | option | command;
} // namespace VintrelleModifier

// One input event seen anywhere on the desktop, in the form the recognisers read.
struct VintrelleInputEvent
{
    enum class Kind { ModifierChange, KeyDown, LeftMouseDown, RightMouseDown, RightMouseUp, OtherMouseDown };

    Kind kind = Kind::ModifierChange;
    quint32 modifiers = 0;  // VintrelleModifier bits held after the event
    double timestamp = 0;   // seconds on the event clock
    int keyCode = -1;       // KeyDown: the letter's code in ShortcutKeys, -1 for any other key
    QPointF location;       // global pointer position at the event
};
