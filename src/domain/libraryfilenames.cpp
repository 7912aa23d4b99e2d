// The names of library files, from a card or song name to the file name and, for a safety copy,
// back.
#include "domain/libraryfilenames.h"

#include "domain/defaultnames.h"
#include "domain/filekinds.h"

#include <QFile>
#include <QTextBoundaryFinder>

namespace ZovaZode {

namespace {

// Room kept in a safety copy's name for its counter, " (2)" to " (999)".
constexpr int kCounterBytes = 6;

const QString kStampFormat = QStringLiteral("yyyy-MM-dd HH.mm.ss");

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

// "<card> - before ... - <stamp>.mlad" or "<card> - song NN[ <song>] - before ... - <stamp>.mlsd",
// each with an optional " (n)" before the extension; the whole name (\z: "$" would also match
// before a final newline).
const QRegularExpression &cardCopyPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^([^.\\s].*) - (before [a-z ]+) - (\\d{4}-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d)"
                       "( \\(([2-9]|[1-9]\\d{1,2})\\))?") +
        QRegularExpression::escape(FileKinds::cardArchiveExtension()) + QStringLiteral("\\z"));
    return pattern;
}

const QRegularExpression &songCopyPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^([^.\\s].*) - song (0[1-9]|1[0-2])(?: (.+))? - (before [a-z ]+) - "
                       "(\\d{4}-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d)( \\(([2-9]|[1-9]\\d{1,2})\\))?") +
        QRegularExpression::escape(FileKinds::songFileExtension()) + QStringLiteral("\\z"));
    return pattern;
}

} // namespace

QRegularExpression forbiddenNameCharacters()
{
    static const QRegularExpression expression(QStringLiteral(
        "<|>|:|;|\"|'|/|\\\\|\\||\\?|\\*|!|\\^|\\[|\\]|\\{|\\}|\\(|\\)|[\\x{0000}-\\x{001F}]"));
    return expression;
}

bool hasNoForbiddenCharacters(const QString &text)
{
    return !text.contains(forbiddenNameCharacters());
}

QString removeForbiddenCharacters(const QString &text)
{
    QString result = text;
    result.remove(forbiddenNameCharacters());
    return result;
}

QString removeFileNameCharacters(const QString &text)
{
    // Compiled once: compiling a pattern costs more than the file name it is used on. Format
    // characters (Cf) are the bidirectional controls (U+202E turns "gpj.exe" around), the zero-width
    // ones and the byte-order mark; line and paragraph separators break a name like a newline.
    static const QRegularExpression invisible(QStringLiteral("[\\p{Cc}\\p{Cf}\\p{Zl}\\p{Zp}]"));
    QString result = removeForbiddenCharacters(text);
    result.remove(invisible);
    return result;
}

QString fitFileNameBytes(const QString &text, int bytes)
{
    if (bytesOf(text) <= bytes)
        return text;
    // Grapheme boundaries: an accent is never cut off its letter, nor a surrogate pair split.
    QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, text);
    int fits = 0;
    for (int end = boundaries.toNextBoundary(); end > 0; end = boundaries.toNextBoundary()) {
        if (bytesOf(text.left(end)) > bytes)
            break;
        fits = end;
    }
    return text.left(fits);
}

QString libraryFileName(const QString &name, const QString &extension, const QString &fallback)
{
    QString base = removeFileNameCharacters(name);
    // Every kind of space counts here (a pattern's \s misses the no-break and wide ones), or the
    // trimming below would leave the dots behind them in front.
    int shown = 0;
    while (shown < base.size() && (base.at(shown) == QLatin1Char('.') || base.at(shown).isSpace()))
        ++shown;
    base.remove(0, shown);
    base = fitFileNameBytes(base, kLibraryFileNameBytes - bytesOf(extension)).trimmed();
    if (base.isEmpty())
        base = fallback;
    return base + extension;
}

QString archiveFileName(const QString &cardName)
{
    return libraryFileName(cardName, FileKinds::cardArchiveExtension(), defaultCardName());
}

QString songFileName(const QString &songName)
{
    return libraryFileName(songName, FileKinds::songFileExtension(), QStringLiteral("Untitled Song"));
}

QString safetyCopyFileName(const SafetyCopyName &name)
{
    const bool song = name.slot >= 0;
    const QString extension = song ? FileKinds::songFileExtension() : FileKinds::cardArchiveExtension();
    const QString number =
        song ? QStringLiteral(" - song %1").arg(name.slot + 1, 2, 10, QLatin1Char('0')) : QString();
    const QString tail = QStringLiteral(" - ") + removeFileNameCharacters(name.occasion) +
                         QStringLiteral(" - ") + name.when.toString(kStampFormat);
    QString card = libraryFileName(name.cardName, QString(), defaultCardName());
    QString songName = song ? removeFileNameCharacters(name.songName).trimmed() : QString();
    const int separator = songName.isEmpty() ? 0 : 1;
    fitNames(&card, &songName,
             kLibraryFileNameBytes - kCounterBytes - bytesOf(number + tail + extension) - separator);
    const QString songPart = songName.isEmpty() ? number : number + QLatin1Char(' ') + songName;
    const QString counter = name.counter > 1 ? QStringLiteral(" (%1)").arg(name.counter) : QString();
    return card + songPart + tail + counter + extension;
}

std::optional<SafetyCopyName> parseSafetyCopyFileName(const QString &fileName)
{
    SafetyCopyName name;
    QString when;
    QRegularExpressionMatch match = cardCopyPattern().match(fileName);
    if (match.hasMatch()) {
        name.cardName = match.captured(1);
        name.occasion = match.captured(2);
        when = match.captured(3);
        name.counter = qMax(1, match.captured(5).toInt());
    } else {
        match = songCopyPattern().match(fileName);
        if (!match.hasMatch())
            return std::nullopt;
        name.cardName = match.captured(1);
        name.slot = match.captured(2).toInt() - 1;
        name.songName = match.captured(3);
        name.occasion = match.captured(4);
        when = match.captured(5);
        name.counter = qMax(1, match.captured(7).toInt());
    }
    name.when = QDateTime::fromString(when, kStampFormat);
    // A time that never was ("2026-13-45") is not one this program wrote, and could not be ordered.
    if (!name.when.isValid())
        return std::nullopt;
    return name;
}

} // namespace ZovaZode
