// LibraryFolder: the one place where the files and folders of a library are deleted, renamed,
// moved and copied in. A library is what lies below its root folder: an item belongs to it only
// when the walk from the root down to it, one name at a time, meets no symbolic link. The walk is
// made when the operation acts (each folder opened with O_NOFOLLOW from the one above, the item
// then removed or renamed on the folder held open), so a folder that was listed and has since been
// swapped for a link is refused instead of followed. A folder is deleted by a walk of its own that
// removes a link inside it as a link and never enters another file system mounted inside it.
#pragma once

#include <QString>
#include <QStringList>

namespace ZovaZode {

class LibraryFolder
{
public:
    explicit LibraryFolder(const QString &root);

    const QString &root() const { return m_root; }

    // Each operation gives false with `error` naming the item and the reason when it cannot act.
    // Removes a file or a link, or a folder with everything in it.
    bool remove(const QString &path, QString *error) const;
    // Gives the item `newName` in its folder, never replacing another item.
    bool rename(const QString &path, const QString &newName, QString *error) const;
    // Moves the item into the library's folder `folder` under its own name, never replacing.
    bool move(const QString &path, const QString &folder, QString *error) const;
    // Copies the file `source`, which may lie anywhere, into the library's folder `folder` under
    // its own name: written under a temporary name and given its name only when complete.
    bool copyInto(const QString &source, const QString &folder, QString *error) const;
    // Whether `path` is a plain file of the library (not a link), before it is written by its path.
    bool isPlainFile(const QString &path, QString *error) const;

private:
    // The names leading from the root down to `path`.
    bool split(const QString &path, QStringList *names, QString *error) const;

    QString m_root;
};

} // namespace ZovaZode
