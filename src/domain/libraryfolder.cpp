// LibraryFolder: the walk from the root, and the deletes, renames, moves and copies made on the
// folders it holds open.
#include "domain/libraryfolder.h"

#include "domain/newfile.h"
#include "domain/sumfile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace ZovaZode {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// A descriptor closed when it goes out of scope.
class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(Descriptor &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Descriptor &operator=(Descriptor &&other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

private:
    int m_fd;
};

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

bool systemError(QString *error, const QString &item, int code)
{
    return fail(error, QStringLiteral("\"%1\": %2.").arg(item, QString::fromLocal8Bit(std::strerror(code))));
}

bool linkError(QString *error, const QString &item)
{
    return fail(error,
                QStringLiteral("\"%1\" is a symbolic link, which the library does not follow.").arg(item));
}

// Why `name` in the folder `folder` could not be opened (`code`): a link is named as one.
bool openError(QString *error, int folder, const QByteArray &name, const QString &item, int code)
{
    struct stat seen;
    if ((code == ELOOP || code == ENOTDIR) &&
        ::fstatat(folder, name.constData(), &seen, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(seen.st_mode))
        return linkError(error, item);
    return systemError(error, item, code);
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Renames without ever replacing an existing item; 0 or an errno value.
int renameNoReplace(int fromFolder, const QByteArray &from, int toFolder, const QByteArray &to)
{
#ifdef RENAME_NOREPLACE
    if (::renameat2(fromFolder, from.constData(), toFolder, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
#endif
    // A file system that cannot refuse atomically leaves a short window between look and rename.
    struct stat seen;
    if (::fstatat(toFolder, to.constData(), &seen, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return ::renameat(fromFolder, from.constData(), toFolder, to.constData()) == 0 ? 0 : errno;
}

// The folder `names` below the root, opened one name at a time without following a link.
Descriptor openFolder(const QString &root, const QStringList &names, QString *error)
{
    Descriptor folder(::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) {
        systemError(error, root, errno);
        return folder;
    }
    for (int i = 0; i < names.size(); ++i) {
        const QByteArray name = QFile::encodeName(names.at(i));
        Descriptor next(::openat(folder.get(), name.constData(), kFolderFlags));
        if (!next) {
            openError(error, folder.get(), name, names.mid(0, i + 1).join(QLatin1Char('/')), errno);
            return next;
        }
        folder = std::move(next);
    }
    return folder;
}

// An item of the library: the folder holding it, held open, its name there, and its path below
// the root for the texts.
struct Item
{
    Descriptor folder;
    QByteArray name;
    QString path;
};

Item openItem(const QString &root, const QStringList &names, QString *error)
{
    Item item;
    if (names.isEmpty()) {
        fail(error, QStringLiteral("\"%1\" is the library folder itself.").arg(root));
        return item;
    }
    item.folder = openFolder(root, names.mid(0, names.size() - 1), error);
    item.name = QFile::encodeName(names.last());
    item.path = names.join(QLatin1Char('/'));
    return item;
}

// Removes the folder `name` of `parent` with everything in it; never follows a link, and never
// enters a folder on another device than `device` (a file system mounted inside the library).
bool removeFolder(int parent, const QByteArray &name, dev_t device, const QString &item, QString *error)
{
    Descriptor folder(::openat(parent, name.constData(), kFolderFlags));
    struct stat seen;
    if (!folder)
        return openError(error, parent, name, item, errno);
    if (::fstat(folder.get(), &seen) != 0)
        return systemError(error, item, errno);
    if (seen.st_dev != device)
        return fail(error, QStringLiteral(
                               "\"%1\" is another file system mounted in the library; it was left as it is.")
                               .arg(item));

    // Listed first and removed afterwards: a folder changed while it is read may list an entry twice.
    std::vector<QByteArray> entries;
    const int listed = ::dup(folder.get());
    DIR *dir = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (!dir) {
        const int code = errno;
        if (listed >= 0)
            ::close(listed);
        return systemError(error, item, code);
    }
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            entries.emplace_back(entry->d_name);
    }
    ::closedir(dir);

    for (const QByteArray &entry : entries) {
        const QString inner = item + QLatin1Char('/') + QFile::decodeName(entry);
        if (::fstatat(folder.get(), entry.constData(), &seen, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue;
            return systemError(error, inner, errno);
        }
        if (S_ISDIR(seen.st_mode)) {
            if (!removeFolder(folder.get(), entry, device, inner, error))
                return false;
        } else if (::unlinkat(folder.get(), entry.constData(), 0) != 0 && errno != ENOENT) {
            return systemError(error, inner, errno);
        }
    }
    if (::unlinkat(parent, name.constData(), AT_REMOVEDIR) != 0)
        return systemError(error, item, errno);
    return true;
}

// Copies all of `from` to `to`; 0 or an errno value.
int copyBytes(int from, int to)
{
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got == 0)
            return 0;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(to, buffer.data() + done, size_t(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return put < 0 ? errno : EIO;
            done += put;
        }
    }
}

// The record of how the archive `name` was made (SumFile), beside it; empty for a name that is
// not an archive's or a song file's.
QByteArray sidecarOf(const QByteArray &name)
{
    const QByteArray sidecar = QFile::encodeName(SumFile::pathFor(QFile::decodeName(name)));
    return SumFile::isSumName(QFile::decodeName(sidecar)) ? sidecar : QByteArray();
}

// Removes what `name` in `folder` is, when it is not a folder; a name that holds nothing is fine.
bool removeEntry(int folder, const QByteArray &name)
{
    struct stat seen;
    if (::fstatat(folder, name.constData(), &seen, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    return !S_ISDIR(seen.st_mode) && ::unlinkat(folder, name.constData(), 0) == 0;
}

// After the archive `from` in `fromFolder` became `to` in `toFolder` (renamed or moved), its
// record follows it, over any record an archive gone left under the new name; without one, such
// a record goes, as it would speak for an archive it never saw.
void carrySidecar(int fromFolder, const QByteArray &from, int toFolder, const QByteArray &to)
{
    const QByteArray source = sidecarOf(from);
    const QByteArray target = sidecarOf(to);
    struct stat seen;
    const bool has = !source.isEmpty() &&
                     ::fstatat(fromFolder, source.constData(), &seen, AT_SYMLINK_NOFOLLOW) == 0 &&
                     S_ISREG(seen.st_mode);
    bool done = target.isEmpty() ? !has || removeEntry(fromFolder, source)
                : has ? ::renameat(fromFolder, source.constData(), toFolder, target.constData()) == 0
                      : removeEntry(toFolder, target);
    if (!done)
        qWarning() << "Library: Could not carry the record of how" << QFile::decodeName(from)
                   << "was made along:" << qt_error_string(errno);
}

// Copies the record of how `source` was made, if any, beside its copy `name` in `folder` under a
// temporary name first; without one, a record an archive gone left there goes.
void copySidecar(const QString &source, int folder, const QByteArray &name)
{
    const QByteArray target = sidecarOf(name);
    if (target.isEmpty())
        return;
    QFile record(SumFile::pathFor(source));
    bool done = false;
    if (!QFileInfo(record.fileName()).isFile() || !record.open(QIODevice::ReadOnly)) {
        done = removeEntry(folder, target);
    } else {
        const QByteArray text = record.read(SumFile::LargestRecord);
        const QByteArray temporary =
            QFile::encodeName(QFileInfo(NewFile(QFile::decodeName(target)).partialPath()).fileName());
        const Descriptor output(::openat(folder, temporary.constData(),
                                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        done = output && ::write(output.get(), text.constData(), size_t(text.size())) == text.size() &&
               ::fsync(output.get()) == 0 &&
               ::renameat(folder, temporary.constData(), folder, target.constData()) == 0;
        if (output && !done)
            ::unlinkat(folder, temporary.constData(), 0);
    }
    if (!done)
        qWarning() << "Library: Could not copy the record of how" << source
                   << "was made:" << qt_error_string(errno);
}

} // namespace

LibraryFolder::LibraryFolder(const QString &root)
    : m_root(root.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(root).absoluteFilePath()))
{}

bool LibraryFolder::split(const QString &path, QStringList *names, QString *error) const
{
    const QString clean = path.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QString prefix = m_root.endsWith(QLatin1Char('/')) ? m_root : m_root + QLatin1Char('/');
    if (clean == m_root) {
        names->clear();
        return true;
    }
    if (m_root.isEmpty() || !clean.startsWith(prefix))
        return fail(error,
                    QStringLiteral("\"%1\" is not inside the library folder \"%2\".").arg(path, m_root));
    *names = clean.mid(prefix.size()).split(QLatin1Char('/'));
    return true;
}

bool LibraryFolder::remove(const QString &path, QString *error) const
{
    QStringList names;
    if (!split(path, &names, error))
        return false;
    const Item item = openItem(m_root, names, error);
    if (!item.folder)
        return false;
    struct stat seen, folder;
    if (::fstatat(item.folder.get(), item.name.constData(), &seen, AT_SYMLINK_NOFOLLOW) != 0 ||
        ::fstat(item.folder.get(), &folder) != 0)
        return systemError(error, item.path, errno);
    if (S_ISDIR(seen.st_mode))
        return removeFolder(item.folder.get(), item.name, folder.st_dev, item.path, error);
    // A link is removed as a link.
    if (::unlinkat(item.folder.get(), item.name.constData(), 0) != 0)
        return systemError(error, item.path, errno);
    const QByteArray sidecar = sidecarOf(item.name);
    if (!sidecar.isEmpty() && !removeEntry(item.folder.get(), sidecar))
        qWarning() << "Library: Could not remove the record of how" << item.path << "was made.";
    return true;
}

bool LibraryFolder::rename(const QString &path, const QString &newName, QString *error) const
{
    QStringList names;
    if (!split(path, &names, error))
        return false;
    if (newName.isEmpty() || newName == QLatin1String(".") || newName == QLatin1String("..") ||
        newName.contains(QLatin1Char('/')) || newName.contains(QChar(0)))
        return fail(error, QStringLiteral("\"%1\" cannot be the name of an item in a folder.").arg(newName));
    const Item item = openItem(m_root, names, error);
    if (!item.folder)
        return false;
    const QByteArray name = QFile::encodeName(newName);
    const int code = renameNoReplace(item.folder.get(), item.name, item.folder.get(), name);
    if (code != 0)
        return systemError(error, item.path, code);
    carrySidecar(item.folder.get(), item.name, item.folder.get(), name);
    return true;
}

bool LibraryFolder::move(const QString &path, const QString &folder, QString *error) const
{
    QStringList names, target;
    if (!split(path, &names, error) || !split(folder, &target, error))
        return false;
    const Item item = openItem(m_root, names, error);
    if (!item.folder)
        return false;
    if (target == names.mid(0, names.size() - 1))
        return true;
    if (target.mid(0, names.size()) == names)
        return fail(error, QStringLiteral("\"%1\" cannot be moved into itself.").arg(item.path));
    const Descriptor destination = openFolder(m_root, target, error);
    if (!destination)
        return false;
    const int code = renameNoReplace(item.folder.get(), item.name, destination.get(), item.name);
    if (code != 0)
        return systemError(error, item.path, code);
    carrySidecar(item.folder.get(), item.name, destination.get(), item.name);
    return true;
}

bool LibraryFolder::copyInto(const QString &source, const QString &folder, QString *error) const
{
    QStringList target;
    if (!split(folder, &target, error))
        return false;
    // Not blocking: a named pipe would wait for a writer.
    const Descriptor input(::open(QFile::encodeName(source).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat original, seen;
    if (!input || ::fstat(input.get(), &original) != 0)
        return systemError(error, source, errno);
    if (!S_ISREG(original.st_mode))
        return fail(error, QStringLiteral("\"%1\" is not a file.").arg(source));
    const Descriptor destination = openFolder(m_root, target, error);
    if (!destination)
        return false;
    const QString fileName = QFileInfo(source).fileName();
    const QString item = (target + QStringList(fileName)).join(QLatin1Char('/'));
    const QByteArray name = QFile::encodeName(fileName);
    // A file dropped back where it lies stays as it is.
    if (::fstatat(destination.get(), name.constData(), &seen, AT_SYMLINK_NOFOLLOW) == 0)
        return sameFile(seen, original) || systemError(error, item, EEXIST);

    // The temporary name of a new library file: not listed, and known to the clean-up, which
    // leaves it alone while it is locked.
    const QByteArray temporary = QFile::encodeName(QFileInfo(NewFile(fileName).partialPath()).fileName());
    const Descriptor output(::openat(destination.get(), temporary.constData(),
                                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!output)
        return systemError(error, item, errno);
    ::flock(output.get(), LOCK_EX | LOCK_NB);
    struct stat written, named;
    int code = copyBytes(input.get(), output.get());
    if (code == 0 && ::fsync(output.get()) != 0)
        code = errno;
    // Only the file written moves into place, not whatever took its temporary name meanwhile.
    const bool ours = ::fstat(output.get(), &written) == 0 &&
                      ::fstatat(destination.get(), temporary.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                      sameFile(written, named);
    if (code == 0 && !ours)
        return fail(error, QStringLiteral("\"%1\" was replaced while it was being copied.").arg(item));
    if (code == 0)
        code = renameNoReplace(destination.get(), temporary, destination.get(), name);
    if (code != 0) {
        if (ours)
            ::unlinkat(destination.get(), temporary.constData(), 0);
        return systemError(error, item, code);
    }
    copySidecar(source, destination.get(), name);
    ::fsync(destination.get());
    return true;
}

bool LibraryFolder::isPlainFile(const QString &path, QString *error) const
{
    QStringList names;
    if (!split(path, &names, error))
        return false;
    const Item item = openItem(m_root, names, error);
    struct stat seen;
    if (!item.folder)
        return false;
    if (::fstatat(item.folder.get(), item.name.constData(), &seen, AT_SYMLINK_NOFOLLOW) != 0)
        return systemError(error, item.path, errno);
    if (S_ISLNK(seen.st_mode))
        return linkError(error, item.path);
    return S_ISREG(seen.st_mode) || fail(error, QStringLiteral("\"%1\" is not a file.").arg(item.path));
}

} // namespace ZovaZode
