// Sparse card data files for tests: a full-size ZOVAZODE.DAT (3,207,041,024 bytes) in a folder
// the test owns, of which only the records a test asks for are written, at the positions the
// memory card of memorystream.h uses (worked out from the sector layout, not from the library
// under test).
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
    const auto seed = [&](int part) { return partSeed(song, part, variant); };
    const SongFields fields{"Song " + number + " of card " + card,
                            "Variant " + card +
                                ": a description long enough to span several words of its "
                                "field, so that a short replacement shows what it leaves.",
                            song % 5, qint32(variant * 97 + quint32(song)), {0, 1, 2, 3, 1, 0}, -1, song - 1,
                            song % 3, seed(9)};
    SongRecords records;
    records.song = songData(fields);
    const qint32 chunks[5] = {25, 40, 0, 12, 0};
    for (int p = 0; p < 5; ++p) {
        PartFields part;
        part.seed = seed(p) * 3;
        part.inUse = p < 3 ? 1 : 0;
        part.genre = (song + p) % 12;
        part.timeSlot = p % 2;
        part.duration = 4.0f + float(p) + float(variant);
        part.style.fill(p == 1 ? 40 : qint32((song + p + variant) % 12));
        part.looperFlag = p == 1;
        part.loops[0].bars = p == 1 ? 0 : 8;
        part.intense = part.altTime = p == 2;
        part.bankSwap = {p == 2, 0};
        records.parts[p] = partData(part);
        records.loopers[p] = looperRecord(chunks[p] ? recording(chunks[p], seed(p) * 7) : emptyLooper(seed(p) * 7));
        records.audioSeeds[p] = seed(p) * 5;
        records.audioChunks[p] = chunks[p];
    }
    return records;
}

// The sample song with a song record of the defaults but `name`.
inline SongRecords sampleSong(int song, quint32 variant, const QByteArray &name)
{
    SongRecords records = sampleSong(song, variant);
    records.song = songData({name});
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

    static ByteRange songDataRange(int s) { return cardSongRecordRanges(s)[0]; }
    static ByteRange partDataRange(int s, int p) { return cardSongRecordRanges(s)[size_t(1 + 2 * p)]; }
    static ByteRange looperRange(int s, int p) { return cardSongRecordRanges(s)[size_t(2 + 2 * p)]; }
    static qint64 songDataPosition(int s) { return songDataRange(s).start; }
    static qint64 partDataPosition(int s, int p) { return partDataRange(s, p).start; }
    static qint64 looperPosition(int s, int p) { return looperRange(s, p).start; }
    static qint64 audioPosition(int s, int p) { return cardAudioRange(s, p, 0).start; }
    // What clearing a song may write: its song record, part records and looper records.
    static QVector<ByteRange> clearRanges(int song)
    {
        const std::vector<ByteRange> ranges = cardSongRecordRanges(song);
        return QVector<ByteRange>(ranges.begin(), ranges.end());
    }
    // What restoring `records` into card song `song` may write.
    static QVector<ByteRange> restoreRanges(int song, const SongRecords &records)
    {
        QVector<ByteRange> ranges = clearRanges(song);
        for (int p = 0; p < 5; ++p)
            ranges << cardAudioRange(song, p, records.copiedChunks(p));
        return ranges;
    }
    // Hands each record of the song and its audio to `put(position, bytes)`: the one way a test
    // lays a song on a card, a file here or a card in memory.
    template<typename Put> static void putSong(int song, const SongRecords &records, Put put)
    {
        put(songDataPosition(song), records.song);
        for (int p = 0; p < 5; ++p) {
            put(partDataPosition(song, p), records.parts[p]);
            put(looperPosition(song, p), records.loopers[p]);
            put(audioPosition(song, p), audio(records.audioSeeds[p], 0, records.audioChunks[p] * qint64(kChunkSize)));
        }
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
    void writeUserPrefs(const QByteArray &prefs) { writeRange(m_path, cardUserPrefsRange().start, prefs); }
    void writeSongData(int s, const QByteArray &record) { writeRange(m_path, songDataPosition(s), record); }
    void writePartData(int s, int p, const QByteArray &record) { writeRange(m_path, partDataPosition(s, p), record); }
    void writeLooper(int s, int p, const QByteArray &record) { writeRange(m_path, looperPosition(s, p), record); }
    void writeSong(int song, const SongRecords &records)
    {
        putSong(song, records, [this](qint64 at, const QByteArray &bytes) { writeRange(m_path, at, bytes); });
    }

    QByteArray read(qint64 position, qint64 size) const { return readRange(m_path, position, size); }
    QByteArray read(const ByteRange &range) const { return read(range.start, range.size); }

private:
    QString m_path;
};

} // namespace ZovaZode::TestSupport
