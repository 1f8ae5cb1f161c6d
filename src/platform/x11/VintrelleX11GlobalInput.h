#pragma once

#include "VintrelleGlobalInput.h"

#include <memory>

class VintrelleX11HotKey;
class VintrelleX11Recorder;

// Global input on an X server: the hot key by a passive key grab, everything else by RECORD.
class VintrelleX11GlobalInput : public VintrelleGlobalInput
{
    Q_OBJECT

public:
    // None when the server cannot be reached or cannot observe; `reason` says why.
    static std::unique_ptr<VintrelleX11GlobalInput> open(QString *reason, QObject *parent = nullptr);
    ~VintrelleX11GlobalInput() override;

    bool available() const override { return true; }
    QString unavailableReason() const override { return {}; }
    bool setHotKey(int keyCode, quint32 modifiers, VintrelleError *error) override;
    void clearHotKey() override;
    bool hasHotKey() const override;
    bool startObserving(VintrelleError *error) override;
    bool observing() const override;
    double doubleClickInterval() const override;

private:
    VintrelleX11GlobalInput(std::unique_ptr<VintrelleX11HotKey> hotKey, std::unique_ptr<VintrelleX11Recorder> recorder,
                            QObject *parent);

    std::unique_ptr<VintrelleX11HotKey> m_hotKey;
    std::unique_ptr<VintrelleX11Recorder> m_recorder;
};
