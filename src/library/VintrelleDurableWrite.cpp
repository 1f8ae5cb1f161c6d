#include "VintrelleDurableWrite.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

// Writes every piece, a thousand at a time, carrying on after short writes; errno tells why not.
bool writeAll(int fd, const QList<QByteArray> &pieces)
{
    std::vector<iovec> vectors;
    vectors.reserve(pieces.size());
    for (const QByteArray &piece : pieces)
        if (!piece.isEmpty())
            vectors.push_back({const_cast<char *>(piece.constData()), size_t(piece.size())});
    for (size_t next = 0; next < vectors.size();) {
        const ssize_t written = ::writev(fd, vectors.data() + next, int(std::min<size_t>(vectors.size() - next, IOV_MAX)));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        for (size_t left = size_t(written); left > 0;) {
            const size_t step = std::min(left, vectors[next].iov_len);
            vectors[next].iov_base = static_cast<char *>(vectors[next].iov_base) + step;
            vectors[next].iov_len -= step;
            left -= step;
            if (vectors[next].iov_len == 0)
                ++next;
        }
    }
    return true;
}

} // namespace

bool VintrelleWriteDurably(const QString &path, const QList<QByteArray> &pieces, QString *reason)
{
    QFileInfo target(path);
    for (int depth = 0; depth < 128 && target.isSymLink(); ++depth)
        target.setFile(target.symLinkTarget());
    const QByteArray finalName = QFile::encodeName(target.filePath());
    QByteArray temporary = finalName + ".XXXXXX";

    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC); // readable and writable by the owner only
    if (fd < 0) {
        *reason = qt_error_string(errno);
        return false;
    }
    bool written = writeAll(fd, pieces) && ::fdatasync(fd) == 0;
    int failure = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        failure = errno;
    }
    if (!written || ::rename(temporary.constData(), finalName.constData()) != 0) {
        if (written)
            failure = errno;
        ::unlink(temporary.constData());
        *reason = qt_error_string(failure);
        return false;
    }
    // The new file is in place, so the save counts; a folder that cannot be synced leaves the
    // rename to the system's own writeback.
    const int folder = ::open(QFile::encodeName(target.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}
