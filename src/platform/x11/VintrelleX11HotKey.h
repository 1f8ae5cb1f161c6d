#pragma once

#include "VintrelleLibraryDocument.h"

#include <QObject>

#include <memory>
#include <optional>

class QSocketNotifier;
struct _XDisplay;

// One global hot key, grabbed on an X connection of its own (so grab errors and round trips
// stay off Qt's connection) and serviced from the Qt event loop.
class VintrelleX11HotKey : public QObject
{
    Q_OBJECT

public:
    // None when the display cannot be opened.
    static std::unique_ptr<VintrelleX11HotKey> open(QObject *parent = nullptr);
    ~VintrelleX11HotKey() override;

    // Grabs `keysym` with X modifier `modifiers`, under every combination of Caps Lock and
    // Num Lock. The previous grab is released only once the new one holds.
    bool grab(unsigned long keysym, unsigned int modifiers, VintrelleError *error);
    void release();
    bool grabbed() const { return m_grab.has_value(); }

    // X modifier bits of Alt and Super on this server (Mod1 and Mod4 unless remapped).
    unsigned int altMask() const { return m_altMask; }
    unsigned int superMask() const { return m_superMask; }

signals:
    // `timestamp`: the server's time of the key press, in seconds.
    void pressed(double timestamp);

private:
    struct Grab
    {
        int keycode;
        unsigned int modifiers;
    };

    explicit VintrelleX11HotKey(_XDisplay *display, QObject *parent);
    void ungrab(const Grab &grab);
    void drain();

    _XDisplay *m_display;
    QSocketNotifier *m_notifier = nullptr;
    std::optional<Grab> m_grab;
    unsigned int m_altMask = 0, m_superMask = 0, m_numLockMask = 0;
};
