#pragma once

#include "VintrelleLibraryDocument.h"

#include <QString>

// An exclusive advisory lock on the library, held by whichever Vintrelle process works on it
// (the running application, or a command line run in-process), so that two writers can never
// overwrite each other's changes. The kernel drops it when the process ends, however it ends.
class VintrelleLibraryLock
{
public:
    static constexpr int defaultWait = 5000;

    // Locks "<libraryPath>.lock", beside the library.
    explicit VintrelleLibraryLock(const QString &libraryPath);
    ~VintrelleLibraryLock();
    VintrelleLibraryLock(const VintrelleLibraryLock &) = delete;
    VintrelleLibraryLock &operator=(const VintrelleLibraryLock &) = delete;

    // Waits up to `waitMilliseconds` for the lock. Fails with "The library is in use by another
    // Vintrelle. Try again." when another process keeps it, or with the system's reason when
    // the lock file cannot be opened. Nothing is changed either way.
    bool acquire(int waitMilliseconds, VintrelleError *error);
    bool isHeld() const { return m_descriptor >= 0; }
    void release();

private:
    QString m_path;
    int m_descriptor = -1;
};
