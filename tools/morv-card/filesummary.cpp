// FileSummary: reading a card or an archive for `info`, and its two renderings.
#include "filesummary.h"

#include "domain/cardlock.h"
#include "domain/cardrecords.h"
#include "domain/filecheck.h"
#include "domain/filekinds.h"
#include "domain/filenamecodec.h"
#include "domain/sdcard.h"
#include "domain/songarchive.h"
#include "inputfile.h"
#include "toolerror.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>

#include <memory>
#include <unistd.h>

namespace ZovaZode {

namespace {

QString cannotRead(const QString &path, const QString &text)
{
    return QStringLiteral("cannot read %1: %2").arg(path, text);
}

} // namespace

// The place of a problem, as numbers for scripts: "song 2, part 1 looper record (byte 27,203,584)"
// gives song 2, part 1, offset 27203584; what the place does not name is null.
void addPlace(QJsonObject &object, const QString &where)
{
    static const QRegularExpression song(QStringLiteral("\\bsong (\\d+)"));
    static const QRegularExpression part(QStringLiteral("\\bpart (\\d+)"));
    static const QRegularExpression offset(QStringLiteral("\\(byte ([\\d,]+)\\)"));
    const auto number = [&where](const QRegularExpression &pattern) {
        const QRegularExpressionMatch match = pattern.match(where);
        if (!match.hasMatch())
            return QJsonValue();
        return QJsonValue(match.captured(1).remove(QLatin1Char(',')).toDouble());
    };
    object.insert(QStringLiteral("song"), number(song));
    object.insert(QStringLiteral("part"), number(part));
    object.insert(QStringLiteral("offset"), number(offset));
}

QJsonObject checkToJson(const FileCheck &check)
{
    QJsonArray problems;
    for (const FileCheck::Problem &problem : check.problems) {
        QJsonObject entry{{QStringLiteral("where"), problem.where}, {QStringLiteral("text"), problem.what}};
        addPlace(entry, problem.where);
        problems.append(entry);
    }
    QJsonObject object{{QStringLiteral("ok"), check.problems.isEmpty()},
                       {QStringLiteral("problems"), problems}};
    if (check.isArchive()) {
        static const char *const states[] = {"none", "unchanged", "changed"};
        object.insert(QStringLiteral("record"), QLatin1String(states[int(check.record.state)]));
        object.insert(QStringLiteral("made"), check.record.state == SumFile::State::NoRecord
                                                  ? QJsonValue()
                                                  : QJsonValue(check.record.made.toString(Qt::ISODate)));
    }
    return object;
}

QString checkSummary(const QString &path, const FileCheck &check)
{
    // In the order of FileCheck::Kind.
    static const char *const kindTexts[] = {"unknown file", "card data file", "card archive", "song file",
                                            "archive"};
    static_assert(int(FileCheck::Kind::Archive) == 4, "one text per kind");
    const int count = check.problems.size();
    const QString record = check.recordText();
    return QStringLiteral("%1: %2, %3%4.\n")
        .arg(printable(path), QLatin1String(kindTexts[int(check.kind)]),
             count == 0   ? QStringLiteral("no problems found")
             : count == 1 ? QStringLiteral("1 problem found")
                          : QStringLiteral("%1 problems found").arg(count),
             record.isEmpty() ? QString() : QStringLiteral(", ") + record);
}

QString checkToText(const QString &path, const FileCheck &check)
{
    QString text;
    for (const FileCheck::Problem &problem : check.problems)
        text += problem.where + QStringLiteral(": ") + problem.what + QLatin1Char('\n');
    return text + checkSummary(path, check);
}

FileSummary FileSummary::read(const QString &path)
{
    const QByteArray id = InputFile::requireReadable(path, InputFile::Role::Any);
    // A card whose first bytes are damaged is still a card, and its refusal says so; anything
    // else goes to the archive reader, whose refusal names the problem.
    const bool card = id == "MLSD" || QFileInfo(path).fileName().compare(FileKinds::cardDataFileName(),
                                                                         Qt::CaseInsensitive) == 0;
    return card ? readCard(path) : readArchive(path);
}

FileSummary FileSummary::readCard(const QString &path)
{
    FileSummary summary;
    summary.kind = Kind::Card;
    summary.path = path;
    const auto lock = InputFile::lockCard(path, CardLock::Shared);
    SdCard card;
    if (!card.open(path, 0))
        throw ToolError(cannotRead(QStringLiteral("the card ") + path, card.openError()));
    summary.name = card.name();
    summary.description = card.description();
    summary.writable = ::access(QFile::encodeName(path).constData(), W_OK) == 0;
    try {
        for (int song = 0; song < SdCard::songCount(); ++song) {
            const SongInfo info = card.songInfo(song);
            Song entry;
            entry.slot = song + 1;
            entry.name = info.name;
            entry.description = info.description;
            entry.sequence = info.sequence;
            for (int part = 0; part < 5; ++part)
                entry.partStates[size_t(part)] = partState(card.partInfo(song, part));
            summary.songs.append(entry);
        }
    } catch (const SdCard::Error &error) {
        throw ToolError(cannotRead(path, QString::fromLocal8Bit(error.what())));
    }
    return summary;
}

FileSummary FileSummary::readArchive(const QString &path)
{
    FileSummary summary;
    summary.path = path;
    try {
        const SongArchive archive(path, 0, 0);
        summary.userPrefs = archive.hasUserPrefs();
        const int songs = archive.songCount();
        summary.kind = archive.isCardArchive()            ? Kind::CardArchive
                       : songs == 1 && !summary.userPrefs ? Kind::SongFile
                                                          : Kind::Archive;
        summary.name = archive.name();
        summary.description = archive.description();
        for (int song = 0; song < songs; ++song) {
            const SongInfo info = archive.songInfo(song);
            Song entry;
            entry.slot = song + 1;
            entry.name = info.name;
            entry.description = info.description;
            entry.sequence = info.sequence;
            for (int part = 0; part < SongArchive::partCount(); ++part)
                entry.partStates[size_t(part)] = partState(archive.partInfo(song, part));
            summary.songs.append(entry);
        }
    } catch (const SongArchive::Error &error) {
        throw ToolError(cannotRead(path, QString::fromLocal8Bit(error.what())));
    }
    return summary;
}

QString FileSummary::kindName(Kind kind)
{
    switch (kind) {
    case Kind::Card:
        return QStringLiteral("card");
    case Kind::CardArchive:
        return QStringLiteral("card-archive");
    case Kind::SongFile:
        return QStringLiteral("song-file");
    case Kind::Archive:
        return QStringLiteral("archive");
    }
    return QString();
}

QString FileSummary::partStateName(int state)
{
    switch (state) {
    case 0:
        return QStringLiteral("empty");
    case 1:
        return QStringLiteral("normal");
    case 2:
        return QStringLiteral("intense");
    case 3:
        return QStringLiteral("looper");
    }
    return QString::number(state);
}

QJsonObject FileSummary::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("kind"), kindName(kind));
    object.insert(QStringLiteral("name"), name);
    object.insert(QStringLiteral("description"), description);
    if (kind == Kind::Card)
        object.insert(QStringLiteral("writable"), writable);
    else
        object.insert(QStringLiteral("userPrefs"), userPrefs);
    QJsonArray songList;
    for (const Song &song : songs) {
        QJsonObject entry;
        entry.insert(QStringLiteral("slot"), song.slot);
        entry.insert(QStringLiteral("name"), song.name);
        entry.insert(QStringLiteral("description"), song.description);
        QJsonArray parts;
        for (int state : song.partStates)
            parts.append(partStateName(state));
        entry.insert(QStringLiteral("parts"), parts);
        // Parts are numbered 1 to 5 for people, as slots are.
        QJsonArray sequence;
        for (qint32 part : song.sequence)
            sequence.append(part + 1);
        entry.insert(QStringLiteral("sequence"), sequence);
        songList.append(entry);
    }
    object.insert(QStringLiteral("songs"), songList);
    return object;
}

QString FileSummary::toText() const
{
    static const char *const kindTexts[] = {"card data file", "card archive", "song file", "archive"};
    QString text;
    text += QStringLiteral("File:        %1\n").arg(printable(path));
    QString kindText = QLatin1String(kindTexts[int(kind)]);
    if (kind == Kind::Card)
        kindText += writable ? QStringLiteral(" (writable)") : QStringLiteral(" (read-only)");
    else
        kindText += userPrefs ? QStringLiteral(" with user prefs") : QStringLiteral(" without user prefs");
    text += QStringLiteral("Kind:        %1\n").arg(kindText);
    text += QStringLiteral("Name:        %1\n").arg(printable(name));
    text += QStringLiteral("Description: %1\n").arg(printable(description));
    text += QStringLiteral("\nSlot  ") + QStringLiteral("Parts 1-5").leftJustified(45) +
            QStringLiteral("Sequence  Name\n");
    for (const Song &song : songs) {
        QString parts;
        for (int state : song.partStates)
            parts += partStateName(state).leftJustified(9);
        text += QStringLiteral("%1  %2%3  %4\n")
                    .arg(song.slot, 4)
                    .arg(parts)
                    .arg(song.sequence.size(), 8)
                    .arg(printable(song.name));
        if (!song.description.isEmpty())
            text += QStringLiteral("      %1\n").arg(printable(song.description));
    }
    return text;
}

} // namespace ZovaZode
