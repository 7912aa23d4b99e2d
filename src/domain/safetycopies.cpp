// SafetyCopies: naming, folder and pruning of the safety copies.
//
// Names carry the date and time to the second so that they sort and read in order; two copies
// in the same second get " (2)", " (3)"... rather than replacing one another. The names of the
// card and the song are cut so that the whole name fits the file system, and pruning removes
// only files whose names have exactly this form: the folder is the user's, too.
#include "domain/safetycopies.h"
#include "domain/filekinds.h"

#include "domain/cardrecords.h"
#include "domain/defaultnames.h"
#include "domain/songarchive.h"

#include <QDebug>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ZovaZode {

namespace {

// Room kept for the counter of a name taken in the same second, " (2)" to " (999)".
constexpr int kCounterBytes = 6;
constexpr int kMaxCounter = 999;

int bytesOf(const QString &text)
{
    return int(QFile::encodeName(text).size());
}


// The card's name and the song's name share what the fixed parts leave of the file name; each
// gets at least half of it, and a short one leaves the rest to the other.
void fitNames(QString *card, QString *song, int room)
{
    if (bytesOf(*card) + bytesOf(*song) <= room)
        return;
    const int half = room / 2;
    if (bytesOf(*song) <= half)
        *card = fitFileNameBytes(*card, room - bytesOf(*song)).trimmed();
    else if (bytesOf(*card) <= half)
        *song = fitFileNameBytes(*song, room - bytesOf(*card)).trimmed();
    else {
        *card = fitFileNameBytes(*card, half).trimmed();
        *song = fitFileNameBytes(*song, room - bytesOf(*card)).trimmed();
    }
}

QString freePath(const QString &folder, const QString &base, const QString &suffix)
{
    QString path = folder + QLatin1Char('/') + base + suffix;
    for (int n = 2; (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) && n <= kMaxCounter; ++n)
        path = folder + QLatin1Char('/') + base + QStringLiteral(" (%1)").arg(n) + suffix;
    return path;
}

const QString kStampFormat = QStringLiteral("yyyy-MM-dd HH.mm.ss");

// "<card> - before ... - <stamp>.mlad" or "<card> - song NN[ <song>] - before ... - <stamp>.mlsd",
// each with an optional " (n)" before the extension; the whole name (\z: "$" would also match
// before a final newline).
const QRegularExpression &cardCopyName()
{
    static const QRegularExpression pattern(
        QStringLiteral("^([^.\\s].*) - (before [a-z ]+) - (\\d{4}-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d)"
                       "( \\(([2-9]|[1-9]\\d{1,2})\\))?") +
        QRegularExpression::escape(FileKinds::cardArchiveExtension()) + QStringLiteral("\\z"));
    return pattern;
}

const QRegularExpression &songCopyName()
{
    static const QRegularExpression pattern(
        QStringLiteral("^([^.\\s].*) - song (0[1-9]|1[0-2])(?: (.+))? - (before [a-z ]+) - "
                       "(\\d{4}-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d)( \\(([2-9]|[1-9]\\d{1,2})\\))?") +
        QRegularExpression::escape(FileKinds::songFileExtension()) + QStringLiteral("\\z"));
    return pattern;
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
    const QString fileName = QFileInfo(path).fileName();
    Entry entry;
    entry.path = path;
    QString occasion;
    QString when;
    QRegularExpressionMatch match = cardCopyName().match(fileName);
    if (match.hasMatch()) {
        entry.cardName = match.captured(1);
        occasion = match.captured(2);
        when = match.captured(3);
        entry.counter = qMax(1, match.captured(5).toInt());
    } else {
        match = songCopyName().match(fileName);
        if (!match.hasMatch())
            return std::nullopt;
        entry.cardName = match.captured(1);
        entry.slot = match.captured(2).toInt() - 1;
        entry.songName = match.captured(3);
        occasion = match.captured(4);
        when = match.captured(5);
        entry.counter = qMax(1, match.captured(7).toInt());
    }
    entry.occasion = occasionOf(occasion);
    entry.when = QDateTime::fromString(when, kStampFormat);
    // A time that never was ("2026-13-45") is not one this program wrote, and could not be ordered.
    if (!entry.when.isValid())
        return std::nullopt;
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
    const QString extension = FileKinds::cardArchiveExtension();
    const QString tail = QStringLiteral(" - ") + removeFileNameCharacters(what) + QStringLiteral(" - ") +
                         when.toString(kStampFormat);
    QString card = libraryFileName(cardName, QString(), defaultCardName());
    QString song;
    fitNames(&card, &song, kLibraryFileNameBytes - kCounterBytes - bytesOf(tail + extension));
    return freePath(folder(cardLibrary), card + tail, extension);
}

QString SafetyCopies::songCopyPath(const QString &cardLibrary, const QString &cardName, int slot,
                                   const QString &songName, const QString &what, const QDateTime &when)
{
    const QString extension = FileKinds::songFileExtension();
    const QString number = QStringLiteral(" - song %1").arg(slot + 1, 2, 10, QLatin1Char('0'));
    const QString tail = QStringLiteral(" - ") + removeFileNameCharacters(what) + QStringLiteral(" - ") +
                         when.toString(kStampFormat);
    QString card = libraryFileName(cardName, QString(), defaultCardName());
    QString song = removeFileNameCharacters(songName).trimmed();
    const int separator = song.isEmpty() ? 0 : 1;
    fitNames(&card, &song,
             kLibraryFileNameBytes - kCounterBytes - bytesOf(number + tail + extension) - separator);
    const QString songPart = song.isEmpty() ? number : number + QLatin1Char(' ') + song;
    return freePath(folder(cardLibrary), card + songPart + tail, extension);
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
            ::unlinkat(dir, name.constData(), 0) == 0)
            ++removed;
    }
    ::close(dir);
    return removed;
}

} // namespace ZovaZode
