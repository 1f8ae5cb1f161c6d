#pragma once

#include "VintrelleMenuHeader.h"

// The welcome window's one-line connection status: "CONNECTED" in green, or "NOT CONNECTED" in
// sand, pulsing as the menu header's status does (the header also redraws it while it pulses).
class VintrelleWelcomeStatus : public VintrelleMenuHeader
{
    Q_OBJECT

public:
    static constexpr int statusWidth = 416;
    static constexpr int statusHeight = 18;

    explicit VintrelleWelcomeStatus(QWidget *parent = nullptr);

    // Also names the state for assistive technology.
    void setConnected(bool connected);

    QSize sizeHint() const override { return {statusWidth, statusHeight}; }
    QSize minimumSizeHint() const override { return {0, statusHeight}; }

    static QString statusText(bool connected);
    static QString accessibleText(bool connected);

protected:
    void paintEvent(QPaintEvent *event) override;
};
