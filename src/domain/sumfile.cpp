// SumFile: the record beside an archive, written through the card data library's streams (so that
// it is committed as an archive is), read, compared and carried along.
#include "domain/sumfile.h"

#include "carddata/stream.h"
#include "domain/error.h"
#include "domain/newfile.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

namespace ZovaZode {

namespace {

const char kHashLine[] = "hash xxh3-128";

bool exists(const QString &path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

// Writes `text` as the file `path`, through a temporary name of the library's (NewFile),
// committed before it takes the name, in place of whatever held it.
// `reason`, when it fails: why, in the system's words.
bool writeCommitted(const QString &path, const QByteArray &text, QString *reason = nullptr)
{
    NewFile file(path);
    QString error;
    std::unique_ptr<carddata::Stream> stream = file.createStream(&error);
    bool ok = stream && stream->seek(0) &&
              stream->write(text.constData(), size_t(text.size())) == size_t(text.size()) && stream->commit();
    if (stream && !ok)
        error = qt_error_string(errno); // before the close below can change it
    ok = stream && stream->close() && ok;
    if (stream && !ok && error.isEmpty())
        error = qt_error_string(errno);
    try {
        if (ok)
            file.commit(NewFile::Existing::Replace);
    } catch (const std::exception &failure) {
        error = QString::fromLocal8Bit(failure.what());
        ok = false;
    }
    if (!ok) {
        qWarning() << "Library: Could not write the record" << path << error;
        if (reason)
            *reason = error;
    }
    return ok;
}

QString songList(const QVector<int> &songs)
{
    QStringList numbers;
    for (int song : songs)
        numbers << QString::number(song);
    if (numbers.size() == 1)
        return QStringLiteral(" (song %1)").arg(numbers.first());
    const QString last = numbers.takeLast();
    return QStringLiteral(" (songs %1 and %2)").arg(numbers.join(QStringLiteral(", ")), last);
}

} // namespace

QString SumFile::Check::text() const
{
    const QString date = made.toLocalTime().date().toString(Qt::ISODate);
    switch (state) {
    case State::Unchanged:
        return QStringLiteral("unchanged since it was made on %1").arg(date);
    case State::Changed:
        return QStringLiteral("the file has changed since it was made on %1").arg(date) +
               (songs.isEmpty() ? QString() : songList(songs));
    case State::NoRecord:
        break;
    }
    return QStringLiteral("no record of how it was made");
}

QString SumFile::pathFor(const QString &archive)
{
    return archive + QStringLiteral(".sum");
}

bool SumFile::isSumName(const QString &fileName)
{
    return fileName.endsWith(QLatin1String(".mlad.sum"), Qt::CaseInsensitive) ||
           fileName.endsWith(QLatin1String(".mlsd.sum"), Qt::CaseInsensitive);
}

QByteArray SumFile::format(const carddata::FileSums &sums, const QDateTime &made)
{
    QByteArray text = QByteArray(FirstLine) + "\nmade " + made.toUTC().toString(Qt::ISODate).toLatin1() +
                      '\n' + kHashLine + "\nfile " + QByteArray::number(qint64(sums.size)) + ' ' +
                      QByteArray::fromStdString(carddata::toHex(sums.whole)) + '\n';
    for (const carddata::FileSums::Part &part : sums.parts)
        text += "part " + QByteArray::number(part.song) + ' ' + QByteArray::number(qint64(part.start)) + ' ' +
                QByteArray::number(qint64(part.size)) + ' ' +
                QByteArray::fromStdString(carddata::toHex(part.digest)) + '\n';
    return text;
}

bool SumFile::parse(const QByteArray &text, carddata::FileSums *sums, QDateTime *made)
{
    // At most the header, each song's records and audio, and what follows the songs.
    constexpr int kMostParts = 2 + 2 * 12;
    QList<QByteArray> lines = text.split('\n');
    if (lines.size() < 6 || !lines.takeLast().isEmpty() || lines.size() > 4 + kMostParts ||
        lines[0] != FirstLine || !lines[1].startsWith("made ") || lines[2] != kHashLine)
        return false;
    *made = QDateTime::fromString(QString::fromLatin1(lines[1].mid(5)), Qt::ISODate);
    const QList<QByteArray> file = lines[3].split(' ');
    bool ok = file.size() == 3 && file[0] == "file";
    carddata::FileSums read;
    read.size = ok ? file[1].toLongLong(&ok) : 0;
    if (!ok || read.size < 0 || !carddata::fromHex(file[2].toStdString(), &read.whole) || !made->isValid())
        return false;
    // The parts follow each other from the first byte to the last.
    for (int i = 4; i < lines.size(); ++i) {
        const QList<QByteArray> words = lines[i].split(' ');
        carddata::FileSums::Part part;
        bool songOk = false, startOk = false, sizeOk = false;
        if (words.size() == 5 && words[0] == "part") {
            part.song = words[1].toInt(&songOk);
            part.start = words[2].toLongLong(&startOk);
            part.size = words[3].toLongLong(&sizeOk);
        }
        const int64_t expected = read.parts.empty() ? 0 : read.parts.back().start + read.parts.back().size;
        if (!songOk || !startOk || !sizeOk || part.song < 0 || part.song > 12 || part.start != expected ||
            part.size < 0 || part.size > read.size - part.start ||
            !carddata::fromHex(words[4].toStdString(), &part.digest))
            return false;
        read.parts.push_back(part);
    }
    if (read.parts.back().start + read.parts.back().size != read.size)
        return false;
    *sums = read;
    return true;
}

std::optional<SumFile::Record> SumFile::read(const QString &archive)
{
    QFile file(pathFor(archive));
    Record record;
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    if (file.size() > LargestRecord || !parse(file.read(LargestRecord), &record.sums, &record.made)) {
        qWarning() << "Library: The record of how" << archive << "was made cannot be read.";
        return std::nullopt;
    }
    return record;
}

bool SumFile::rewrite(const QString &archive, const Record &record)
{
    return writeCommitted(pathFor(archive), format(record.sums, record.made));
}

std::optional<carddata::Digest128> SumFile::digestOf(const QString &archive,
                                                     const carddata::FileSums::Part &part)
{
    QFile file(archive);
    if (part.size > carddata::kBlockAudio || !file.open(QIODevice::ReadOnly) || !file.seek(part.start))
        return std::nullopt;
    const QByteArray bytes = file.read(part.size);
    if (bytes.size() != part.size)
        return std::nullopt;
    return carddata::hash128(bytes.constData(), size_t(bytes.size()));
}

bool SumFile::place(const QString &archive, const carddata::FileSums &sums)
{
    if (exists(archive))
        return false;
    QString reason;
    if (!writeCommitted(pathFor(archive), format(sums, QDateTime::currentDateTimeUtc()), &reason))
        throw Error(QStringLiteral("Could not write the record of how %1 was made: %2.")
                        .arg(archive, reason)
                        .toStdString());
    return true;
}

SumFile::Check SumFile::check(const QString &archive, bool pastCache, const Progress &progress)
{
    Check check;
    const std::optional<Record> record = read(archive);
    if (!record)
        return check;
    check.made = record->made;
    const carddata::FileSums &made = record->sums;
    carddata::FileSummer summer(made.parts);
    bool stopped = false;
    struct Context
    {
        const Progress *progress;
        bool *stopped;
    } context{&progress, &stopped};
    const ProgressCallback callback{[](int32_t done, int32_t total, void *opaque) {
                                        const auto *heard = static_cast<Context *>(opaque);
                                        *heard->stopped = *heard->progress && (*heard->progress)(done, total);
                                        return *heard->stopped ? 1 : 0;
                                    },
                                    &context};
    if (mlsdSumFile(QFile::encodeName(archive).constData(), pastCache, &summer, &callback) != 0) {
        if (stopped)
            throw Error("Aborted by user.");
        throw Error(QStringLiteral("Could not read %1 to compare it with the record of how it was made.")
                        .arg(archive)
                        .toStdString());
    }
    const carddata::FileSums now = summer.sums();
    check.state = now.size == made.size && now.whole == made.whole ? State::Unchanged : State::Changed;
    for (size_t i = 0; i < made.parts.size(); ++i) {
        const int song = made.parts[i].song;
        if (now.parts[i].digest != made.parts[i].digest && song > 0 && !check.songs.contains(song))
            check.songs << song;
    }
    return check;
}

bool SumFile::removed(const QString &archive)
{
    return !exists(pathFor(archive)) || QFile::remove(pathFor(archive));
}

} // namespace ZovaZode
