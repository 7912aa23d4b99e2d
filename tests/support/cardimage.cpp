// Sparse card data files for tests; see cardimage.h.
#include "cardimage.h"

#include <QDir>
#include <QFile>

namespace ZovaZode::TestSupport {

qint32 SongRecords::copiedChunks(int part) const
{
    if (word(parts[part], 516) == 0 || !looperAccepted(loopers[part]))
        return 0;
    return signedWord(loopers[part], 4);
}

static quint32 seedOf(int song, int part, quint32 variant)
{
    return variant * 1000u + quint32(song) * 10u + quint32(part) + 1u;
}

SongRecords sampleSong(int song, quint32 variant)
{
    SongRecords records;
    SongFields fields;
    fields.name = "Song " + QByteArray::number(song) + " of card " + QByteArray::number(variant);
    fields.description = "Variant " + QByteArray::number(variant) +
                         ": a description long enough to span "
                         "several words of its field, so that a short replacement shows what it leaves.";
    fields.first = song % 5;
    fields.second = qint32(variant * 97 + quint32(song));
    fields.sequence = {0, 1, 2, 3, 1, 0};
    fields.third = song - 1;
    fields.fourth = song % 3;
    fields.seed = seedOf(song, 9, variant);
    records.song = songData(fields);

    for (int p = 0; p < 5; ++p) {
        PartFields part;
        part.seed = seedOf(song, p, variant) * 3;
        part.genre = (song + p) % 12;
        part.timeSlot = p % 2;
        part.duration = 4.0f + float(p) + float(variant);
        part.style.fill(qint32((song + p + variant) % 12));
        LooperFields looper = emptyLooper(seedOf(song, p, variant) * 7);
        switch (p) {
        case 0:
            looper = recording(25, seedOf(song, p, variant) * 7);
            break;
        case 1:
            part.looperFlag = 1;
            part.loops[0].bars = 0;
            part.style.fill(40);
            looper = recording(40, seedOf(song, p, variant) * 7);
            break;
        case 2:
            part.intense = 1;
            part.bankSwap = {1, 0};
            part.altTime = 1;
            break;
        case 3:
            part.inUse = 0;
            looper = recording(12, seedOf(song, p, variant) * 7);
            break;
        default:
            part.inUse = 0;
            break;
        }
        records.parts[p] = partData(part);
        records.loopers[p] = looperRecord(looper);
        records.audioSeeds[p] = seedOf(song, p, variant) * 5;
        records.audioChunks[p] = looper.state == 0 ? looper.length : 0;
    }
    return records;
}

SongRecords emptySong(int song, quint32 variant)
{
    SongRecords records = sampleSong(song, variant);
    for (int p = 0; p < 5; ++p) {
        putWord(records.parts[p], 516, 0);
        records.loopers[p] = looperRecord(emptyLooper(seedOf(song, p, variant) * 7));
        records.audioChunks[p] = 0;
    }
    return records;
}

QVector<ByteRange> CardImage::clearRanges(int song)
{
    QVector<ByteRange> ranges{songDataRange(song)};
    for (int p = 0; p < 5; ++p)
        ranges << partDataRange(song, p) << looperRange(song, p);
    return ranges;
}

QVector<ByteRange> CardImage::restoreRanges(int song, const SongRecords &records)
{
    QVector<ByteRange> ranges = clearRanges(song);
    for (int p = 0; p < 5; ++p)
        ranges << audioRange(song, p, records.copiedChunks(p));
    return ranges;
}

CardImage::CardImage(const QString &folder, const QString &fileName) : m_path(QDir(folder).filePath(fileName))
{}

void CardImage::create(const QByteArray &name, const QByteArray &description, quint32 seed)
{
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(kFileSize))
        qFatal("fixture: cannot create %s", qPrintable(m_path));
    file.close();
    m_written.clear();
    writeHeader(cardHeader(name, description, seed));
    writeUserPrefs(userPrefs());
}

void CardImage::writeHeader(const QByteArray &header)
{
    writeRaw(headerPosition(), header);
}

void CardImage::writeUserPrefs(const QByteArray &prefs)
{
    writeRaw(userPrefsPosition(), prefs);
}

void CardImage::writeSongData(int song, const QByteArray &record)
{
    writeRaw(songDataPosition(song), record);
}

void CardImage::writePartData(int song, int part, const QByteArray &record)
{
    writeRaw(partDataPosition(song, part), record);
}

void CardImage::writeLooper(int song, int part, const QByteArray &record)
{
    writeRaw(looperPosition(song, part), record);
}

void CardImage::writeAudio(int song, int part, quint32 seed, qint32 chunks)
{
    if (chunks > 0)
        writeRaw(audioPosition(song, part), audio(seed, 0, qint64(chunks) * kChunkSize));
}

void CardImage::writeSong(int song, const SongRecords &records)
{
    writeSongData(song, records.song);
    for (int p = 0; p < 5; ++p) {
        writePartData(song, p, records.parts[p]);
        writeLooper(song, p, records.loopers[p]);
        writeAudio(song, p, records.audioSeeds[p], records.audioChunks[p]);
    }
}

void CardImage::writeRaw(qint64 position, const QByteArray &bytes)
{
    writeRange(m_path, position, bytes);
    m_written.append({position, qint64(bytes.size())});
}

} // namespace ZovaZode::TestSupport
