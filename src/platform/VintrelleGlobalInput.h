#pragma once

#include "VintrelleGestureRecognizer.h"
#include "VintrelleLibraryDocument.h"

#include <QObject>
#include <QPointF>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// Input from anywhere on the desktop: the global hot key and passive observation of keys,
// modifiers and clicks that feeds the gesture recognisers. Backends only grab, observe and
// hand events over; what a gesture is lives here and in the recognisers. Signals are emitted
// on the main thread, from the event loop, never inside a caller's own call.
class VintrelleGlobalInput : public QObject
{
    Q_OBJECT

public:
    // What the status menu's shortcut item says, and whether choosing it should open the help
    // on binding a desktop shortcut instead of doing nothing.
    struct ShortcutStatus
    {
        QString title;
        bool opensHelp = false;
    };

    // The X11 backend when this session can grab and observe, the null backend otherwise.
    static std::unique_ptr<VintrelleGlobalInput> create(QObject *parent = nullptr);

    using QObject::QObject;
    ~VintrelleGlobalInput() override;

    // Read on every event, so a changed preference or window takes effect at once.
    std::function<QString()> combo;                    // default: ShortcutCombo()
    std::function<bool()> menuOpen;                    // the quick menu is tracking
    std::function<bool(QPointF)> pointerOverOwnWindows;  // see mouseInsideVisiblePanels

    // False when this session offers no global input at all (a Wayland desktop, no RECORD).
    virtual bool available() const = 0;
    // Why global input is missing, for help texts; empty when available.
    virtual QString unavailableReason() const = 0;

    // Grabs the combination (a key code of ShortcutKeys, ShortcutModifiers bits). The new grab is
    // made before the old one is released, so on failure the previous hot key keeps working.
    virtual bool setHotKey(int keyCode, quint32 modifiers, VintrelleError *error) = 0;
    virtual void clearHotKey() = 0;
    virtual bool hasHotKey() const = 0;
    // Starts passive observation of keys, modifiers and clicks everywhere.
    virtual bool startObserving(VintrelleError *error) = 0;
    virtual bool observing() const = 0;
    // The desktop's double-click interval, in seconds.
    virtual double doubleClickInterval() const = 0;

    // Registers the hot key of `combo` and `letter`; "double-option" needs none and releases any.
    bool installHotKey(const QString &combo, const QString &letter, VintrelleError *error = nullptr);
    // Launch: registers the stored shortcut, falls back to observing its keys when the grab is
    // refused, and answers what the status item says.
    ShortcutStatus installGlobalMonitorFallback();
    // A saved preference: the new hot key or nothing; on failure the old one stays in force and
    // the error is the sentence for the user. A successful change drops the observed fallback.
    bool applyShortcut(const QString &combo, const QString &letter, VintrelleError *error);
    // The status item for the stored preference after a successful change.
    ShortcutStatus shortcutStatus(const QString &combo, const QString &letter) const;

    bool observingFallbackKeys() const { return m_fallbackActive; }
    // Event-clock time (seconds) of the event that completed the last gesture or hot key.
    double lastGestureTime() const { return m_lastGestureTime; }

signals:
    void hotKeyPressed();
    void optionDoubleTapped();
    void doubleRightClick(QPointF point);

protected:
    // Called by backends, on the main thread, for every observed event in order.
    void deliver(const VintrelleInputEvent &event);
    void deliverHotKey(double timestamp);

private:
    VintrelleGestureRecognizer m_recognizer;
    bool m_fallbackActive = false;
    double m_lastGestureTime = 0;
};
