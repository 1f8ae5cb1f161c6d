#include "VintrelleLibraryLock.h"
#include "VintrelleLocations.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

VintrelleLibraryLock::VintrelleLibraryLock(const QString &libraryPath) : m_path(libraryPath + QStringLiteral(".lock")) {}

VintrelleLibraryLock::~VintrelleLibraryLock()
{
    release();
}

bool VintrelleLibraryLock::acquire(int waitMilliseconds, VintrelleError *error)
{
    if (isHeld())
        return true;
    if (!VintrelleMakeOwnerOnlyPath(QFileInfo(m_path).path(), error))
        return false;
    const int descriptor = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0)
        return VTFail(error, QStringLiteral("Could not open %1: %2.")
                                 .arg(QDir::toNativeSeparators(m_path), qt_error_string(errno)));
    const QDeadlineTimer deadline(waitMilliseconds);
    for (;;) {
        if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0) {
            m_descriptor = descriptor;
            return true;
        }
        const int failure = errno;
        if (failure != EWOULDBLOCK && failure != EINTR) {
            ::close(descriptor);
            return VTFail(error, QStringLiteral("Could not lock %1: %2.")
                                     .arg(QDir::toNativeSeparators(m_path), qt_error_string(failure)));
        }
        if (deadline.hasExpired()) {
            ::close(descriptor);
            return VTFail(error, QStringLiteral("The library is in use by another Vintrelle. Try again."));
        }
        // flock has no time-out of its own; a short nap keeps the wait cheap.
        QThread::msleep(25);
    }
}

void VintrelleLibraryLock::release()
{
    if (m_descriptor < 0)
        return;
    ::close(m_descriptor); // closing drops the flock
    m_descriptor = -1;
}
