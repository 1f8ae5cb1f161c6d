#pragma once

#include "VintrellePlatform.h"

// X11 lets any client of the display observe and grab input: there is no trust to ask for.
class VintrelleX11Platform : public VintrellePlatform
{
public:
    bool isAccessibilityTrusted() const override { return true; }
    void requestAccessibilityTrust() override {}

    // The settings daemon's word (XSETTINGS) when one runs, else the desktop's settings files.
    bool prefersReducedMotion() const override;
};
