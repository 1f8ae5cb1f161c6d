#pragma once

#include "VintrellePlatform.h"

// X11 lets any client of the display observe and grab input: there is no trust to ask for.
class VintrelleX11Platform : public VintrellePlatform
{
public:
    bool isAccessibilityTrusted() const override { return true; }
    void requestAccessibilityTrust() override {}
};
