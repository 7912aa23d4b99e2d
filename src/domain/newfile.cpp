// NewFile: the temporary name of a new library file, its lock, the move into place, and the
// removal of temporary files that a killed program left behind.
#include "domain/newfile.h"
#include "domain/filekinds.h"

#include "domain/cardrecords.h"
#include "domain/songarchive.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ZovaZode {

static_assert(kLibraryFileNameBytes + NewFile::TemporarySuffixBytes <= 255,
              "a library file's temporary name must fit the file name limit");

namespace {

const char kPartialSuffix[] = ".partial";

QString randomPart()
{
    static const char characters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString part;
    for (int i = 0; i < 8; ++i)
        part += QLatin1Char(characters[QRandomGenerator::system()->bounded(int(sizeof characters) - 1)]);
    return part;
}

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

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes `name` in the folder `dir` when it is an unlocked, old, plain temporary file.
bool removeIfAbandoned(int dir, const char *name, const struct stat &seen, time_t now)
{
    // A second name (a hard link) means the file is someone else's, even if it looks like ours.
    if (!S_ISREG(seen.st_mode) || seen.st_nlink != 1 || now - seen.st_mtime < NewFile::YoungSeconds)
        return false;
    const int fd = ::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool removed = false;
    struct stat opened, again;
    if (::fstat(fd, &opened) == 0 && sameFile(opened, seen) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::fstatat(dir, name, &again, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(again, seen))
        removed = ::unlinkat(dir, name, 0) == 0;
    ::close(fd);
    return removed;
}

void removeAbandonedIn(int dir, const QString &path, int depth, time_t now, QStringList *removed)
{
    const int listed = ::dup(dir);
    if (listed < 0)
        return;
    DIR *entries = ::fdopendir(listed);
    if (!entries) {
        ::close(listed);
        return;
    }
    while (const dirent *entry = ::readdir(entries)) {
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        struct stat seen;
        if (::fstatat(dir, name, &seen, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const QString entryPath = path + QLatin1Char('/') + QFile::decodeName(name);
        if (S_ISDIR(seen.st_mode)) {
            if (depth <= 0)
                continue;
            const int sub = ::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0)
                continue;
            removeAbandonedIn(sub, entryPath, depth - 1, now, removed);
            ::close(sub);
        } else if (NewFile::isTemporaryName(QFile::decodeName(name)) &&
                   removeIfAbandoned(dir, name, seen, now)) {
            qDebug() << "Library: Removed an abandoned temporary file:" << entryPath;
            removed->append(entryPath);
        }
    }
    ::closedir(entries);
}

} // namespace

NewFile::NewFile(const QString &path)
    : m_path(path), m_partialPath(path + QLatin1Char('.') + randomPart() + QLatin1String(kPartialSuffix))
{}

NewFile::~NewFile()
{
    // Removed while still locked, so that nobody takes it for abandoned in between.
    if (m_created && !m_committed)
        QFile::remove(m_partialPath);
    if (m_lock >= 0)
        ::close(m_lock);
}

std::unique_ptr<SongArchive> NewFile::createArchive()
{
    std::unique_ptr<SongArchive> archive;
    try {
        archive = std::make_unique<SongArchive>(m_partialPath, 1, 1);
    } catch (const SongArchive::Error &error) {
        if (error.systemError() == 0)
            throw;
        throw SongArchive::Error(QStringLiteral("Could not create %1: %2.")
                                     .arg(m_path, qt_error_string(error.systemError()))
                                     .toStdString(),
                                 error.systemError());
    }
    lock();
    return archive;
}

bool NewFile::create(QString *error)
{
    QFile file(m_partialPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (error)
            *error = m_partialPath + QStringLiteral(": ") + file.errorString();
        return false;
    }
    file.close();
    lock();
    return true;
}

void NewFile::lock()
{
    m_created = true;
    // Between the creation and this lock the file looks abandoned, but only to a look that
    // ignores young files.
    m_lock =
        ::open(QFile::encodeName(m_partialPath).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (m_lock < 0 || ::flock(m_lock, LOCK_EX | LOCK_NB) != 0)
        qWarning() << "Library: Could not lock the new file:" << m_partialPath << qt_error_string(errno);
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

QStringList NewFile::removeAbandoned(const QString &folder, int depth)
{
    QStringList removed;
    // The folder itself may be a link (a library kept on another disk); what is inside is not followed.
    const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return removed;
    removeAbandonedIn(dir, QDir::cleanPath(folder), depth, ::time(nullptr), &removed);
    ::close(dir);
    return removed;
}

bool NewFile::isTemporaryName(const QString &fileName)
{
    // A library file's, of this version or an older one without the random part, the record of how
    // one was made (SumFile), or a demo card's.
    static const QRegularExpression pattern(
        QStringLiteral("^(.+(%1|%2)(\\.sum)?(\\.[A-Za-z0-9]{8})?|%3\\.[A-Za-z0-9]{8})\\.partial$")
            .arg(QRegularExpression::escape(FileKinds::cardArchiveExtension()),
                 QRegularExpression::escape(FileKinds::songFileExtension()),
                 QRegularExpression::escape(FileKinds::cardDataFileName())));
    return pattern.match(fileName).hasMatch();
}

} // namespace ZovaZode
