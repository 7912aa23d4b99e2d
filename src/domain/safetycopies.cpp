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
#include "domain/sumfile.h"

#include <QDebug>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

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
// each with an optional " (n)" before the extension.
const QRegularExpression &cardCopyName()
{
    static const QRegularExpression pattern(
        QStringLiteral("^([^.\\s].*) - (before [a-z ]+) - (\\d{4}-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d)"
                       "( \\(([2-9]|[1-9]\\d{1,2})\\))?") +
        QRegularExpression::escape(FileKinds::cardArchiveExtension()) + QLatin1Char('$'));
    return pattern;
}

const QRegularExpression &songCopyName()
{
    static const QRegularExpression pattern(
        QStringLiteral("^([^.\\s].*) - song (0[1-9]|1[0-2])(?: (.+))? - (before [a-z ]+) - "
                       "(\\d{4}-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d)( \\(([2-9]|[1-9]\\d{1,2})\\))?") +
        QRegularExpression::escape(FileKinds::songFileExtension()) + QLatin1Char('$'));
    return pattern;
}

bool isGeneratedName(const QString &fileName)
{
    return SafetyCopies::parse(fileName).has_value();
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
    return entry;
}

QVector<SafetyCopies::Entry> SafetyCopies::list(const QString &cardLibrary)
{
    QVector<Entry> entries;
    const QFileInfo folderInfo(folder(cardLibrary));
    if (!folderInfo.isDir())
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
    // The time in the name is the copy's own; the " (n)" counter orders copies of one second.
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        return a.when != b.when ? a.when > b.when : a.counter > b.counter;
    });
    return entries;
}

QString SafetyCopies::folder(const QString &cardLibrary)
{
    return cardLibrary + QStringLiteral("/Safety Copies");
}

QString SafetyCopies::cardCopyPath(const QString &cardLibrary, const QString &cardName, const QString &what,
                                   const QDateTime &when)
{
    const QString extension = FileKinds::cardArchiveExtension();
    const QString tail =
        QStringLiteral(" - ") + removeForbiddenCharacters(what) + QStringLiteral(" - ") + when.toString(kStampFormat);
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
    const QString tail =
        QStringLiteral(" - ") + removeForbiddenCharacters(what) + QStringLiteral(" - ") + when.toString(kStampFormat);
    QString card = libraryFileName(cardName, QString(), defaultCardName());
    QString song = removeForbiddenCharacters(songName);
    song.remove(QRegularExpression(QStringLiteral("\\p{Cc}")));
    song = song.trimmed();
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

int SafetyCopies::prune(const QString &cardLibrary, int keep)
{
    if (keep < 0)
        keep = 0;
    const QFileInfo folderInfo(folder(cardLibrary));
    // Through a link the copies would be removed from a folder somewhere else.
    if (folderInfo.isSymLink() || !folderInfo.isDir())
        return 0;
    QDir dir(folder(cardLibrary));
    QFileInfoList copies;
    for (const QFileInfo &file : dir.entryInfoList(QDir::Files | QDir::NoSymLinks | QDir::Hidden)) {
        if (isGeneratedName(file.fileName()))
            copies << file;
    }
    if (copies.size() <= keep)
        return 0;
    // Newest first; copies made in the same second fall back to their names, which carry the
    // time and the " (n)" counter.
    std::sort(copies.begin(), copies.end(), [](const QFileInfo &a, const QFileInfo &b) {
        const QDateTime ta = a.lastModified();
        const QDateTime tb = b.lastModified();
        if (ta != tb)
            return ta > tb;
        return a.fileName() > b.fileName();
    });
    int removed = 0;
    for (int i = keep; i < copies.size(); ++i) {
        if (QFile::remove(copies.at(i).absoluteFilePath())) {
            SumFile::removed(copies.at(i).absoluteFilePath());
            ++removed;
        }
    }
    return removed;
}

} // namespace ZovaZode
