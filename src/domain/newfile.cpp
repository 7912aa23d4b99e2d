// NewFile: the temporary name of a new library file, its lock, the move into place, and the
// removal of temporary files that a killed program left behind.
#include "domain/newfile.h"
#include "domain/filekinds.h"

#include "domain/libraryfilenames.h"
#include "domain/songarchive.h"
#include "domain/sumfile.h"

#include "carddata/stream.h"

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
static_assert(NewFile::FirstBytes == int(carddata::kArchiveHeaderSize),
              "the clean-up looks at an archive's whole header");

namespace {

const char kPartialSuffix[] = ".partial";

QString randomPart()
{
    const int letters = int(std::strlen(NewFile::RandomPartAlphabet));
    QString part;
    for (int i = 0; i < NewFile::RandomPartLength; ++i)
        part += QLatin1Char(NewFile::RandomPartAlphabet[QRandomGenerator::system()->bounded(letters)]);
    return part;
}

QByteArray fileNameBytes(const QString &path)
{
    return QFile::encodeName(QFileInfo(path).fileName());
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether `name` in the folder `dir` is the file `held`, itself and not a link to it.
bool holds(int dir, const char *name, const struct stat &held)
{
    struct stat named;
    return ::fstatat(dir, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(named, held);
}

// Renames `from` to `to` in the folder `dir` without ever replacing an existing file; 0 or an
// errno value. `held` is the file expected under `from`.
int renameNoReplace(int dir, const char *from, const char *to, const struct stat &held)
{
#ifdef RENAME_NOREPLACE
    if (::renameat2(dir, from, dir, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
#endif
    // link() refuses an existing target just as atomically, where the file system has links.
    if (::linkat(dir, from, dir, to, 0) == 0) {
        if (holds(dir, from, held))
            ::unlinkat(dir, from, 0);
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return errno;
    // File systems without links (FAT on a stick) leave a short window between check and rename.
    if (::faccessat(dir, to, F_OK, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return ::renameat(dir, from, dir, to) == 0 ? 0 : errno;
}

// Removes `name` in the folder `dir` when it is an unlocked, old, plain temporary file that
// holds what its name says.
bool removeIfAbandoned(int dir, const char *name, const struct stat &seen, time_t now)
{
    // A second name (a hard link) means the file is someone else's, even if it looks like ours.
    if (!S_ISREG(seen.st_mode) || seen.st_nlink != 1 || now - seen.st_mtime < NewFile::YoungSeconds)
        return false;
    const int fd = ::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool removed = false;
    struct stat opened;
    QByteArray first(NewFile::FirstBytes, '\0');
    if (::fstat(fd, &opened) == 0 && sameFile(opened, seen) && opened.st_nlink == 1 &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        const ssize_t got = ::pread(fd, first.data(), size_t(first.size()), 0);
        if (got >= 0 && NewFile::isAbandonedContent(QFile::decodeName(name), first.left(int(got))) &&
            holds(dir, name, opened))
            removed = ::unlinkat(dir, name, 0) == 0;
    }
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
    // Removed while still locked, so that nobody takes it for abandoned in between; and only
    // when the temporary name still holds it: whatever replaced it is not ours.
    struct stat held;
    if (m_created && !m_committed && m_file >= 0 && ::fstat(m_file, &held) == 0 &&
        holds(m_folder, fileNameBytes(m_partialPath).constData(), held))
        ::unlinkat(m_folder, fileNameBytes(m_partialPath).constData(), 0);
    if (m_file >= 0)
        ::close(m_file);
    if (m_folder >= 0)
        ::close(m_folder);
}

int NewFile::openFolder()
{
    // The folder itself may be a link (a library kept on another disk).
    const QString folder = QFileInfo(m_path).absolutePath();
    m_folder = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return m_folder < 0 ? errno : 0;
}

std::unique_ptr<SongArchive> NewFile::createArchive()
{
    const auto refused = [this](int systemError, const QString &reason) {
        return SongArchive::Error(
            QStringLiteral("Could not create %1: %2.").arg(m_path, reason).toStdString(), systemError);
    };
    if (const int failure = openFolder())
        throw refused(failure, qt_error_string(failure));
    std::unique_ptr<SongArchive> archive;
    try {
        archive = std::make_unique<SongArchive>(m_partialPath, 1, 1);
    } catch (const SongArchive::Error &error) {
        if (error.systemError() == 0)
            throw;
        throw refused(error.systemError(), qt_error_string(error.systemError()));
    }
    m_created = true;
    if (!holdCreated())
        throw refused(0, QStringLiteral("the new file was replaced as soon as it was made"));
    return archive;
}

std::unique_ptr<carddata::Stream> NewFile::createStream(QString *error)
{
    const int failure = openFolder();
    std::unique_ptr<carddata::Stream> stream =
        failure ? nullptr
                : carddata::streamOpen(QFile::encodeName(m_partialPath).toStdString(),
                                       carddata::OpenMode::Create);
    if (!stream) {
        if (error)
            *error = m_partialPath + QStringLiteral(": ") + qt_error_string(failure ? failure : errno);
        return nullptr;
    }
    m_created = true;
    if (!holdCreated()) {
        if (error)
            *error = m_partialPath + QStringLiteral(": the new file was replaced as soon as it was made");
        return nullptr;
    }
    return stream;
}

bool NewFile::holdCreated()
{
    // The file was created exclusively by its path; what that path holds now must be the same new,
    // empty file, or someone replaced it in between.
    const int fd = ::openat(m_folder, fileNameBytes(m_partialPath).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat opened;
    if (fd < 0 || ::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_nlink != 1 ||
        opened.st_size != 0) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    hold(fd);
    return true;
}

bool NewFile::create(QString *error)
{
    int failure = openFolder();
    const int fd = failure ? -1
                           : ::openat(m_folder, fileNameBytes(m_partialPath).constData(),
                                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (error)
            *error = m_partialPath + QStringLiteral(": ") + qt_error_string(failure ? failure : errno);
        return false;
    }
    m_created = true;
    hold(fd);
    return true;
}

void NewFile::hold(int fd)
{
    m_file = fd;
    // Between the creation and this lock the file looks abandoned, but only to a look that
    // ignores young files.
    if (::flock(m_file, LOCK_EX | LOCK_NB) != 0)
        qWarning() << "Library: Could not lock the new file:" << m_partialPath << qt_error_string(errno);
}

void NewFile::commit(Existing existing)
{
    const std::string path = QFile::encodeName(m_path).toStdString();
    const std::string partial = QFile::encodeName(m_partialPath).toStdString();
    const QByteArray from = fileNameBytes(m_partialPath);
    const QByteArray to = fileNameBytes(m_path);
    const QByteArray folder = QFile::encodeName(QFileInfo(m_path).absolutePath());
    struct stat held, heldFolder, folderNow;
    if (m_file < 0 || ::fstat(m_file, &held) != 0 || ::fstat(m_folder, &heldFolder) != 0)
        throw std::runtime_error("Could not move the new file into place as " + path + ": it was not made.");
    // Someone who can write the folder can put anything under the temporary name, or a folder of
    // their own under the folder's name, while the file is written and read back: what moves into
    // place is the file written, in the folder it was written in, or nothing.
    if (::stat(folder.constData(), &folderNow) != 0 || !sameFile(heldFolder, folderNow))
        throw std::runtime_error("Will not move the new file into place: the folder " + folder.toStdString() +
                                 " was replaced while the file was written.");
    if (!holds(m_folder, from.constData(), held))
        throw std::runtime_error("Will not move the new file into place: " + partial +
                                 " is no longer the file that was written.");
    const int failure =
        existing == Existing::Replace
            ? (::renameat(m_folder, from.constData(), m_folder, to.constData()) == 0 ? 0 : errno)
            : renameNoReplace(m_folder, from.constData(), to.constData(), held);
    if (failure != 0) {
        if (failure == EEXIST)
            throw std::runtime_error("Will not replace the existing file " + path + ".");
        throw std::runtime_error("Could not move the new file into place as " + path + ": " +
                                 std::strerror(failure));
    }
    m_committed = true;
    // Replaced between the look above and the rename: then the final name holds someone else's
    // file, which is theirs to remove.
    if (!holds(m_folder, to.constData(), held))
        throw std::runtime_error(path + " is not the file that was written: its temporary name was taken "
                                        "over while it was moved into place.");
    // So that a finished library file survives a power cut as a directory entry, too.
    ::fsync(m_folder);
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
    // The whole name (\z: a "$" would let a final newline through): an archive's or a song file's
    // final name, the record of how one was made (SumFile), or the demo card's, then the random
    // part.
    static const QRegularExpression pattern(
        QStringLiteral("^(.+(%1|%2)(\\.sum)?|%3)\\.[%4]{%5}\\.partial\\z")
            .arg(QRegularExpression::escape(FileKinds::cardArchiveExtension()),
                 QRegularExpression::escape(FileKinds::songFileExtension()),
                 QRegularExpression::escape(FileKinds::cardDataFileName()), QLatin1String(RandomPartAlphabet))
            .arg(RandomPartLength));
    return pattern.match(fileName).hasMatch();
}

bool NewFile::isAbandonedContent(const QString &fileName, const QByteArray &firstBytes)
{
    // A record's (SumFile) is text, written at once; what a kill leaves of it is nothing or all.
    if (fileName.mid(fileName.size() - TemporarySuffixBytes - 4, 4) == QLatin1String(".sum"))
        return firstBytes.isEmpty() || firstBytes.startsWith(SumFile::FirstLine);
    const bool card = fileName.size() == FileKinds::cardDataFileName().size() + TemporarySuffixBytes &&
                      fileName.startsWith(FileKinds::cardDataFileName());
    const QByteArray id = card ? "MLSD" : "MLFA";
    return firstBytes.startsWith(id) || firstBytes.count('\0') == firstBytes.size();
}

} // namespace ZovaZode
