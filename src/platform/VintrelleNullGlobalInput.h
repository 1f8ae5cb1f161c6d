#pragma once

#include "VintrelleGlobalInput.h"

// A session without global input (a Wayland desktop, an X server without RECORD): every
// request fails and says so, so the status item can point the user at a desktop shortcut.
class VintrelleNullGlobalInput : public VintrelleGlobalInput
{
    Q_OBJECT

public:
    explicit VintrelleNullGlobalInput(QString reason, QObject *parent = nullptr);

    bool available() const override { return false; }
    QString unavailableReason() const override { return m_reason; }
    bool setHotKey(int keyCode, quint32 modifiers, VintrelleError *error) override;
    void clearHotKey() override {}
    bool hasHotKey() const override { return false; }
    bool startObserving(VintrelleError *error) override;
    bool observing() const override { return false; }
    double doubleClickInterval() const override { return 0.4; }

private:
    QString m_reason;
};
