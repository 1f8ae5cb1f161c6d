#pragma once

#include <memory>

// What the program needs to know about the desktop it runs on. One backend per windowing system;
// nothing outside src/platform knows which one runs.
class VintrellePlatform
{
public:
    virtual ~VintrellePlatform() = default;

    // Whether the program may observe input aimed at other programs (the global gestures).
    virtual bool isAccessibilityTrusted() const = 0;

    // Asks the desktop to let the user grant that trust, where the desktop has such a prompt.
    virtual void requestAccessibilityTrust() = 0;

    // Whether the user asked the desktop to reduce motion (read afresh on every call).
    virtual bool prefersReducedMotion() const;
};

// The backend for the running Qt platform: X11 on "xcb", the null backend otherwise.
std::unique_ptr<VintrellePlatform> VintrelleCreatePlatform();
