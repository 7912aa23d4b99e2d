// Sparse card data files for tests: a full-size ZOVAZODE.DAT (3,207,041,024 bytes) in a folder
// the test owns, of which only the records a test asks for are written, at positions worked out
// here from the sector layout (not from the library under test).
#pragma once

#include "filebytes.h"
#include "records.h"

#include <QDir>
#include <QFile>

namespace ZovaZode::TestSupport {

// The records of one card song, as they lie on the card.
struct SongRecords
{
    QByteArray song;
    std::array<QByteArray, 5> parts, loopers;
    std::array<quint32, 5> audioSeeds{};
    std::array<qint32, 5> audioChunks{}; // audio written on the card for each part

    // Chunks an archive copies for the part: its recording when in use and trusted, else 0.
    qint32 copiedChunks(int p) const
    {
        return word(parts[p], 516) != 0 && looperAccepted(loopers[p]) ? signedWord(loopers[p], 4) : 0;
    }
};

inline quint32 partSeed(int song, int part, quint32 variant)
{
    return variant * 1000u + quint32(song) * 10u + quint32(part) + 1u;
}

// Five parts covering every path of archive and restore: in use with a recording (25 chunks,
// reported twice at 10 KiB steps), a looper part with a recording (40 chunks), in use without a
// recording, a recording on a part not in use (its audio is not copied), and an unused part.
inline SongRecords sampleSong(int song, quint32 variant)
{
    const QByteArray number = QByteArray::number(song), card = QByteArray::number(variant);
    const SongFields fields{"Song " + number + " of card " + card,
                            "Variant " + card +
                                ": a description long enough to span several words of its "
                                "field, so that a short replacement shows what it leaves.",
                            song % 5,
                            qint32(variant * 97 + quint32(song)),
                            {0, 1, 2, 3, 1, 0},
                            -1,
                            song - 1,
                            song % 3,
                            partSeed(song, 9, variant)};
    SongRecords records;
    records.song = songData(fields);
    const qint32 chunks[5] = {25, 40, 0, 12, 0};
    for (int p = 0; p < 5; ++p) {
        const quint32 seed = partSeed(song, p, variant);
        PartFields part;
        part.seed = seed * 3;
        part.inUse = p < 3 ? 1 : 0;
        part.genre = (song + p) % 12;
        part.timeSlot = p % 2;
        part.duration = 4.0f + float(p) + float(variant);
        part.style.fill(p == 1 ? 40 : qint32((song + p + variant) % 12));
        if (p == 1) {
            part.looperFlag = 1;
            part.loops[0].bars = 0;
        } else if (p == 2) {
            part.intense = 1;
            part.bankSwap = {1, 0};
            part.altTime = 1;
        }
        records.parts[p] = partData(part);
        records.loopers[p] = looperRecord(chunks[p] ? recording(chunks[p], seed * 7) : emptyLooper(seed * 7));
        records.audioSeeds[p] = seed * 5;
        records.audioChunks[p] = chunks[p];
    }
    return records;
}

// A song whose five parts are all unused and empty.
inline SongRecords emptySong(int song, quint32 variant)
{
    SongRecords records = sampleSong(song, variant);
    for (int p = 0; p < 5; ++p) {
        putWord(records.parts[p], 516, 0);
        records.loopers[p] = looperRecord(emptyLooper(partSeed(song, p, variant) * 7));
        records.audioChunks[p] = 0;
    }
    return records;
}

// Short recordings keep the runs of sweeps and injected faults fast; part 1's recording of 33
// chunks still reaches the first checksum word.
inline SongRecords shortSong(int song, quint32 variant)
{
    SongRecords records = sampleSong(song, variant);
    const qint32 chunks[5] = {3, 33, 0, 2, 0};
    for (int p = 0; p < 5; ++p) {
        if (chunks[p])
            records.loopers[p] = looperRecord(recording(chunks[p], records.audioSeeds[p]));
        records.audioChunks[p] = chunks[p];
    }
    return records;
}

class CardImage
{
public:
    static constexpr qint64 kFileSize = 3207041024;

    static qint64 headerPosition() { return 0; }
    static qint64 userPrefsPosition() { return 100 * 512; }
    static qint64 songDataPosition(int s) { return (41260 + 101 * qint64(s)) * 512; }
    static qint64 partDataPosition(int s, int p) { return (42472 + 164 * (5 * qint64(s) + p)) * 512; }
    static qint64 looperPosition(int s, int p) { return (52312 + 164 * (5 * qint64(s) + p)) * 512; }
    static qint64 audioPosition(int s, int p) { return (62216 + 103360 * (5 * qint64(s) + p)) * 512; }

    static ByteRange headerRange() { return {0, kHeaderSize}; }
    static ByteRange userPrefsRange() { return {userPrefsPosition(), kUserPrefsSize}; }
    static ByteRange songDataRange(int s) { return {songDataPosition(s), kSongDataSize}; }
    static ByteRange partDataRange(int s, int p) { return {partDataPosition(s, p), kPartDataSize}; }
    static ByteRange looperRange(int s, int p) { return {looperPosition(s, p), kLooperRecordSize}; }
    static ByteRange audioRange(int s, int p, qint32 chunks)
    {
        return {audioPosition(s, p), chunks * qint64(kChunkSize)};
    }
    // What clearing a song may write: its song record, part records and looper records.
    static QVector<ByteRange> clearRanges(int song)
    {
        QVector<ByteRange> ranges{songDataRange(song)};
        for (int p = 0; p < 5; ++p)
            ranges << partDataRange(song, p) << looperRange(song, p);
        return ranges;
    }
    // What restoring `records` into card song `song` may write.
    static QVector<ByteRange> restoreRanges(int song, const SongRecords &records)
    {
        QVector<ByteRange> ranges = clearRanges(song);
        for (int p = 0; p < 5; ++p)
            ranges << audioRange(song, p, records.copiedChunks(p));
        return ranges;
    }

    // The file is made (or replaced) by create(); the constructor only names it.
    explicit CardImage(const QString &folder, const QString &fileName = QStringLiteral("ZOVAZODE.DAT"))
        : m_path(QDir(folder).filePath(fileName))
    {}

    const QString &path() const { return m_path; }
    // A full-size sparse card holding only a header and valid user prefs.
    void create(const QByteArray &name = "Test Card", const QByteArray &description = "A card for tests",
                quint32 seed = 1)
    {
        QFile file(m_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(kFileSize))
            qFatal("fixture: cannot create %s", qPrintable(m_path));
        file.close();
        writeHeader(cardHeader(name, description, seed));
        writeUserPrefs(userPrefs());
    }

    void writeHeader(const QByteArray &header) { writeRange(m_path, 0, header); }
    void writeUserPrefs(const QByteArray &prefs) { writeRange(m_path, userPrefsPosition(), prefs); }
    void writeSongData(int s, const QByteArray &record) { writeRange(m_path, songDataPosition(s), record); }
    void writePartData(int s, int p, const QByteArray &record)
    {
        writeRange(m_path, partDataPosition(s, p), record);
    }
    void writeLooper(int s, int p, const QByteArray &record)
    {
        writeRange(m_path, looperPosition(s, p), record);
    }
    void writeAudio(int s, int p, quint32 seed, qint32 chunks)
    {
        writeRange(m_path, audioPosition(s, p), audio(seed, 0, chunks * qint64(kChunkSize)));
    }
    void writeSong(int song, const SongRecords &records)
    {
        writeSongData(song, records.song);
        for (int p = 0; p < 5; ++p) {
            writePartData(song, p, records.parts[p]);
            writeLooper(song, p, records.loopers[p]);
            writeAudio(song, p, records.audioSeeds[p], records.audioChunks[p]);
        }
    }

    QByteArray read(qint64 position, qint64 size) const { return readRange(m_path, position, size); }
    QByteArray read(const ByteRange &range) const { return read(range.start, range.size); }

private:
    QString m_path;
};

} // namespace ZovaZode::TestSupport
