#pragma once

#include "VintrellePlatform.h"

// Wayland, offscreen and anything unknown: no global input, and no prompt that could grant it.
class VintrelleNullPlatform : public VintrellePlatform
{
public:
    bool isAccessibilityTrusted() const override { return false; }
    void requestAccessibilityTrust() override {}
};
