#pragma once

#include "VintrelleInputEvent.h"
#include "VintrelleLibraryDocument.h"

#include <QObject>

#include <array>
#include <functional>
#include <memory>

class QSocketNotifier;
struct _XDisplay;

// Passive observation of every key, modifier and button event on the X server through the
// RECORD extension. Events are copies taken after the server delivered them: nothing is
// grabbed, swallowed or delayed for other programs, and observation goes on while another
// client holds a grab.
class VintrelleX11Recorder : public QObject
{
    Q_OBJECT

public:
    // None when the display cannot be opened or has no RECORD; `error` says which.
    static std::unique_ptr<VintrelleX11Recorder> open(VintrelleError *error, QObject *parent = nullptr);
    ~VintrelleX11Recorder() override;

    bool start(VintrelleError *error);
    bool running() const { return m_context != 0; }

    // Divides root coordinates into Qt's device-independent pixels.
    void setDevicePixelRatio(double ratio) { m_devicePixelRatio = ratio > 0 ? ratio : 1; }

    std::function<void(const VintrelleInputEvent &)> onEvent;

private:
    VintrelleX11Recorder(_XDisplay *control, _XDisplay *data, QObject *parent);
    static void intercept(char *closure, void *data);
    void handle(int type, int detail, unsigned long time, int rootX, int rootY, unsigned int state);
    quint32 neutralModifiers(unsigned int state) const;

    _XDisplay *m_control;
    _XDisplay *m_data;
    unsigned long m_context = 0;
    QSocketNotifier *m_notifier = nullptr;
    double m_devicePixelRatio = 1;
    // Per X keycode: the modifier bit it sets, and the ShortcutKeys code of its letter.
    std::array<unsigned char, 256> m_modifierOfKey{};
    std::array<int, 256> m_letterCodeOfKey{};
    unsigned int m_altMask = 0, m_superMask = 0;
};
