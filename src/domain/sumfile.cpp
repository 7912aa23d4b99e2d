// SumFile: the record beside an archive, written through the card data library's streams (so that
// it is committed as an archive is), read, compared and carried along.
#include "domain/sumfile.h"

#include "carddata/stream.h"
#include "domain/error.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

namespace ZovaZode {

namespace {

const char kFirstLine[] = "morv-archive-sums 1";
const char kHashLine[] = "hash xxh3-128";
// Twelve songs take well under a kilobyte; anything much longer is not a record of ours.
constexpr qint64 kLargestRecord = 16 * 1024;

bool exists(const QString &path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

// Writes `text` as the file `path`, through a temporary name, committed before it takes the name
// (replacing whatever held it).
bool writeCommitted(const QString &path, const QByteArray &text)
{
    const QString partial =
        path +
        QStringLiteral(".%1.partial").arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'));
    std::unique_ptr<carddata::Stream> file =
        carddata::streamOpen(QFile::encodeName(partial).toStdString(), carddata::OpenMode::Create);
    if (!file)
        return false;
    bool ok = file->seek(0) && file->write(text.constData(), size_t(text.size())) == size_t(text.size()) &&
              file->commit();
    ok = file->close() && ok;
    if (ok && std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(path).constData()) == 0)
        return true;
    QFile::remove(partial);
    return false;
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
    QByteArray text = QByteArray(kFirstLine) + "\nmade " + made.toUTC().toString(Qt::ISODate).toLatin1() +
                      '\n' + kHashLine + "\nfile " + QByteArray::number(qint64(sums.size)) + ' ' +
                      QByteArray::fromStdString(carddata::toHex(sums.whole)) + '\n';
    for (const carddata::FileSums::Range &range : sums.ranges)
        text += "song " + QByteArray::number(qint64(range.start)) + ' ' +
                QByteArray::number(qint64(range.size)) + ' ' +
                QByteArray::fromStdString(carddata::toHex(range.digest)) + '\n';
    return text;
}

bool SumFile::parse(const QByteArray &text, carddata::FileSums *sums, QDateTime *made)
{
    QList<QByteArray> lines = text.split('\n');
    if (lines.size() < 5 || !lines.takeLast().isEmpty() || lines.size() > 4 + 12 || lines[0] != kFirstLine ||
        !lines[1].startsWith("made ") || lines[2] != kHashLine)
        return false;
    *made = QDateTime::fromString(QString::fromLatin1(lines[1].mid(5)), Qt::ISODate);
    carddata::FileSums read;
    for (int i = 3; i < lines.size(); ++i) {
        const QList<QByteArray> words = lines[i].split(' ');
        const bool whole = i == 3;
        if (words.size() != (whole ? 3 : 4) || words[0] != (whole ? "file" : "song"))
            return false;
        bool ok = true;
        carddata::FileSums::Range range;
        for (int w = 1; w + 1 < words.size() && ok; ++w)
            (w == 1 && !whole ? range.start : range.size) = words[w].toLongLong(&ok);
        if (!ok || !carddata::fromHex(words.last().toStdString(), &range.digest) || range.start < 0 ||
            range.size < 0)
            return false;
        if (whole) {
            read.size = range.size;
            read.whole = range.digest;
        } else if (range.start > read.size || range.size > read.size - range.start) {
            return false;
        } else {
            read.ranges.push_back(range);
        }
    }
    if (!made->isValid())
        return false;
    *sums = read;
    return true;
}

bool SumFile::place(const QString &archive, const carddata::FileSums &sums)
{
    if (exists(archive))
        return false;
    if (!writeCommitted(pathFor(archive), format(sums, QDateTime::currentDateTimeUtc())))
        throw Error(QStringLiteral("Could not write the record of how %1 was made: %2.")
                        .arg(archive, qt_error_string(errno))
                        .toStdString());
    return true;
}

SumFile::Check SumFile::check(const QString &archive, bool pastCache, const std::function<bool()> &stop)
{
    Check check;
    QFile record(pathFor(archive));
    carddata::FileSums made;
    if (!record.open(QIODevice::ReadOnly))
        return check;
    if (record.size() > kLargestRecord || !parse(record.read(kLargestRecord), &made, &check.made)) {
        qWarning() << "Library: The record of how" << archive << "was made cannot be read.";
        return check;
    }
    carddata::FileSummer summer(made.ranges);
    const ProgressCallback progress{[](int32_t, int32_t, void *context) {
                                        const auto *asked =
                                            static_cast<const std::function<bool()> *>(context);
                                        return *asked && (*asked)() ? 1 : 0;
                                    },
                                    const_cast<std::function<bool()> *>(&stop)};
    if (mlsdSumFile(QFile::encodeName(archive).constData(), pastCache, &summer, &progress) != 0) {
        if (stop && stop())
            throw Error("Aborted by user.");
        throw Error(QStringLiteral("Could not read %1 to compare it with the record of how it was made.")
                        .arg(archive)
                        .toStdString());
    }
    const carddata::FileSums now = summer.sums();
    check.state = now.size == made.size && now.whole == made.whole ? State::Unchanged : State::Changed;
    for (size_t i = 0; i < made.ranges.size(); ++i) {
        if (now.ranges[i].digest != made.ranges[i].digest)
            check.songs << int(i) + 1;
    }
    return check;
}

bool SumFile::moved(const QString &from, const QString &to)
{
    if (!exists(pathFor(from)))
        return removed(to);
    if (std::rename(QFile::encodeName(pathFor(from)).constData(),
                    QFile::encodeName(pathFor(to)).constData()) == 0)
        return true;
    return errno == EXDEV && copied(from, to) && removed(from);
}

bool SumFile::copied(const QString &from, const QString &to)
{
    QFile record(pathFor(from));
    if (!record.open(QIODevice::ReadOnly))
        return !exists(pathFor(from)) && removed(to);
    return writeCommitted(pathFor(to), record.read(kLargestRecord));
}

bool SumFile::removed(const QString &archive)
{
    return !exists(pathFor(archive)) || QFile::remove(pathFor(archive));
}

} // namespace ZovaZode
