// NewFile: the temporary name of a new library file and the move into place.
#include "transfer/newfile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace ZovaZode {

namespace {

const char kPartialSuffix[] = ".partial";

// Renames without ever replacing an existing file; 0 or an errno value.
int renameNoReplace(const QByteArray &from, const QByteArray &to)
{
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
#endif
    // link() refuses an existing target just as atomically, where the file system has links.
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return errno;
    // File systems without links (FAT on a stick) leave a short window between check and rename.
    if (::access(to.constData(), F_OK) == 0)
        return EEXIST;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

// So that a finished library file survives a power cut as a directory entry, too.
void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

NewFile::NewFile(const QString &path) : m_path(path), m_partialPath(path + QLatin1String(kPartialSuffix)) {}

NewFile::~NewFile()
{
    if (!m_committed)
        QFile::remove(m_partialPath);
}

void NewFile::commit()
{
    const int failure = renameNoReplace(QFile::encodeName(m_partialPath), QFile::encodeName(m_path));
    if (failure != 0) {
        const std::string path = QFile::encodeName(m_path).toStdString();
        if (failure == EEXIST)
            throw std::runtime_error("Will not replace the existing file " + path + ".");
        throw std::runtime_error("Could not move the new file into place as " + path + ": " +
                                 std::strerror(failure));
    }
    m_committed = true;
    syncFolder(QFileInfo(m_path).absolutePath());
}

} // namespace ZovaZode
