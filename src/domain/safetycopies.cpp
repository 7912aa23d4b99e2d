// SafetyCopies: the folder of the safety copies, free names in it, listing and pruning.
//
// Names carry the date and time to the second so that they sort and read in order; two copies
// in the same second get " (2)", " (3)"... rather than replacing one another (the names
// themselves are libraryfilenames'). Pruning removes only files whose names have exactly this
// form: the folder is the user's, too.
#include "domain/safetycopies.h"

#include "domain/libraryfilenames.h"
#include "domain/songarchive.h"
#include "domain/sumfile.h"

#include <QDebug>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ZovaZode {

namespace {

// A free path in `folder` for the copy `name`: the next counter while one is taken.
QString freePath(const QString &folder, SafetyCopyName name)
{
    QString path = folder + QLatin1Char('/') + safetyCopyFileName(name);
    while ((QFileInfo::exists(path) || QFileInfo(path).isSymLink()) && name.counter < kMaxSafetyCopyCounter) {
        ++name.counter;
        path = folder + QLatin1Char('/') + safetyCopyFileName(name);
    }
    return path;
}

SafetyCopies::Occasion occasionOf(const QString &text)
{
    using O = SafetyCopies::Occasion;
    for (O occasion : {O::Restore, O::ClearSong, O::ClearAll, O::CopyOntoSlot}) {
        if (SafetyCopies::occasionText(occasion) == text)
            return occasion;
    }
    return O::Other;
}

QString linkRefusal(const QString &path)
{
    return QStringLiteral("%1 is a symbolic link; safety copies are not written through links.")
        .arg(QDir::toNativeSeparators(path));
}

} // namespace

QString SafetyCopies::occasionText(Occasion occasion)
{
    switch (occasion) {
    case Occasion::Restore:
        return QStringLiteral("before restore");
    case Occasion::ClearSong:
        return QStringLiteral("before clearing");
    case Occasion::ClearAll:
        return QStringLiteral("before clearing all songs");
    case Occasion::CopyOntoSlot:
        return QStringLiteral("before overwriting");
    case Occasion::Other:
        break;
    }
    return QStringLiteral("before changing");
}

std::optional<SafetyCopies::Entry> SafetyCopies::parse(const QString &path)
{
    const std::optional<SafetyCopyName> name = parseSafetyCopyFileName(QFileInfo(path).fileName());
    if (!name)
        return std::nullopt;
    Entry entry;
    entry.path = path;
    entry.cardName = name->cardName;
    entry.slot = name->slot;
    entry.songName = name->songName;
    entry.occasion = occasionOf(name->occasion);
    entry.when = name->when;
    entry.counter = name->counter;
    return entry;
}

QVector<SafetyCopies::Entry> SafetyCopies::list(const QString &cardLibrary)
{
    QVector<Entry> entries;
    const QFileInfo folderInfo(folder(cardLibrary));
    // A folder that is a link lies outside what the program owns: no copy is made there either.
    if (!folderInfo.isDir() || folderInfo.isSymLink())
        return entries;
    for (const QFileInfo &file : QDir(folderInfo.filePath()).entryInfoList(QDir::Files | QDir::NoSymLinks)) {
        std::optional<Entry> entry = parse(file.absoluteFilePath());
        if (!entry)
            continue;
        // The file keeps the names as they were; the file name has them cut to fit.
        try {
            const SongArchive archive(entry->path, 0, 0);
            if (entry->isWholeCard())
                entry->cardName = archive.name();
            else if (archive.songCount() > 0)
                entry->songName = archive.songInfo(0).name;
        } catch (const SongArchive::Error &error) {
            qDebug() << "Library: Could not read safety copy" << entry->path << ":" << error.what();
        }
        entries.append(*entry);
    }
    std::sort(entries.begin(), entries.end(), isNewer);
    return entries;
}

bool SafetyCopies::isNewer(const Entry &a, const Entry &b)
{
    // The time in the name is the copy's own; the " (n)" counter orders copies of one second,
    // and the name a card copy and a song copy of one second.
    if (a.when != b.when)
        return a.when > b.when;
    if (a.counter != b.counter)
        return a.counter > b.counter;
    return a.path > b.path;
}

QString SafetyCopies::folder(const QString &cardLibrary)
{
    return cardLibrary + QStringLiteral("/Safety Copies");
}

QString SafetyCopies::cardCopyPath(const QString &cardLibrary, const QString &cardName, const QString &what,
                                   const QDateTime &when)
{
    SafetyCopyName name;
    name.cardName = cardName;
    name.occasion = what;
    name.when = when;
    return freePath(folder(cardLibrary), name);
}

QString SafetyCopies::songCopyPath(const QString &cardLibrary, const QString &cardName, int slot,
                                   const QString &songName, const QString &what, const QDateTime &when)
{
    SafetyCopyName name;
    name.cardName = cardName;
    name.slot = slot;
    name.songName = songName;
    name.occasion = what;
    name.when = when;
    return freePath(folder(cardLibrary), name);
}

bool SafetyCopies::ensureFolder(const QString &cardLibrary, QString *error)
{
    const QString path = folder(cardLibrary);
    const QFileInfo info(path);
    if (info.isSymLink()) {
        if (error)
            *error = linkRefusal(path);
        return false;
    }
    if (info.isDir())
        return true;
    if (info.exists()) {
        if (error)
            *error = QStringLiteral("%1 exists but is not a folder.").arg(QDir::toNativeSeparators(path));
        return false;
    }
    if (!QDir().mkpath(path)) {
        if (error)
            *error = QStringLiteral("Could not create the folder %1.").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

int SafetyCopies::prune(const QString &cardLibrary, int keep, const QString &justMade)
{
    // Through a link the copies would be removed from a folder somewhere else; the folder held
    // open is the one the names are looked up and removed in.
    const QString path = folder(cardLibrary);
    const int dir =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0)
        return 0;
    const QString made = QFileInfo(justMade).fileName();
    QVector<Entry> copies;
    bool madeSeen = false;
    for (const QString &name : QDir(path).entryList(QDir::Files | QDir::NoSymLinks | QDir::Hidden)) {
        std::optional<Entry> entry = parse(name);
        if (!entry)
            continue;
        if (name == made)
            madeSeen = true;
        else
            copies.append(*entry);
    }
    std::sort(copies.begin(), copies.end(), isNewer);
    int removed = 0;
    for (int i = qMax(0, keep - (madeSeen ? 1 : 0)); i < copies.size(); ++i) {
        const QByteArray name = QFile::encodeName(copies.at(i).path);
        struct stat seen;
        if (::fstatat(dir, name.constData(), &seen, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(seen.st_mode) &&
            ::unlinkat(dir, name.constData(), 0) == 0) {
            // The record of how the copy was made goes with it.
            ::unlinkat(dir, QFile::encodeName(SumFile::pathFor(copies.at(i).path)).constData(), 0);
            ++removed;
        }
    }
    ::close(dir);
    return removed;
}

} // namespace ZovaZode
