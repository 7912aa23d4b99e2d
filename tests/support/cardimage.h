// Sparse card data files for tests.
//
// A CardImage is a full-size ZOVAZODE.DAT (3,207,041,024 bytes) in a folder the test owns, of
// which only the records a test asks for are written, directly with QFile at positions worked
// out from the sector layout here (not from the library under test). It remembers every range
// it wrote, and can list the ranges a card operation may change.
#pragma once

#include "filebytes.h"
#include "records.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <array>

namespace ZovaZode::TestSupport {

// The records of one card song, as they lie on the card.
struct SongRecords
{
    QByteArray song;
    std::array<QByteArray, 5> parts;
    std::array<QByteArray, 5> loopers;
    std::array<quint32, 5> audioSeeds{};
    std::array<qint32, 5> audioChunks{}; // audio written on the card for each part

    // Chunks an archive copies for the part: its recording when in use and trusted, else 0.
    qint32 copiedChunks(int part) const;
};

// Five parts covering every path of archive and restore: in use with a recording (25 chunks,
// reported twice at 10 KiB steps), a looper part with a recording (40 chunks), in use without
// a recording, a recording on a part not in use (its audio is not copied), and an unused part.
SongRecords sampleSong(int song, quint32 variant);
// A song whose five parts are all unused and empty.
SongRecords emptySong(int song, quint32 variant);

class CardImage
{
public:
    static constexpr qint64 kFileSize = 3207041024;
    static constexpr qint64 kSectorSize = 512;

    static qint64 headerPosition() { return 0; }
    static qint64 userPrefsPosition() { return 100 * kSectorSize; }
    static qint64 songDataPosition(int song) { return (41260 + 101 * qint64(song)) * kSectorSize; }
    static qint64 partDataPosition(int song, int part)
    {
        return (42472 + 164 * linear(song, part)) * kSectorSize;
    }
    static qint64 looperPosition(int song, int part)
    {
        return (52312 + 164 * linear(song, part)) * kSectorSize;
    }
    static qint64 audioPosition(int song, int part)
    {
        return (62216 + 103360 * linear(song, part)) * kSectorSize;
    }

    static ByteRange headerRange() { return {headerPosition(), kHeaderSize}; }
    static ByteRange userPrefsRange() { return {userPrefsPosition(), kUserPrefsSize}; }
    static ByteRange songDataRange(int song) { return {songDataPosition(song), kSongDataSize}; }
    static ByteRange partDataRange(int song, int part)
    {
        return {partDataPosition(song, part), kPartDataSize};
    }
    static ByteRange looperRange(int song, int part)
    {
        return {looperPosition(song, part), kLooperRecordSize};
    }
    static ByteRange audioRange(int song, int part, qint32 chunks)
    {
        return {audioPosition(song, part), qint64(chunks) * kChunkSize};
    }
    // What clearing a song may write: its song record, part records and looper records.
    static QVector<ByteRange> clearRanges(int song);
    // What restoring `records` into card song `song` may write.
    static QVector<ByteRange> restoreRanges(int song, const SongRecords &records);

    // The file is created (or replaced) by create(); the constructor only names it.
    explicit CardImage(const QString &folder, const QString &fileName = QStringLiteral("ZOVAZODE.DAT"));

    const QString &path() const { return m_path; }
    // A full-size sparse card holding only a header and valid user prefs.
    void create(const QByteArray &name = "Test Card", const QByteArray &description = "A card for tests",
                quint32 seed = 1);

    void writeHeader(const QByteArray &header);
    void writeUserPrefs(const QByteArray &prefs);
    void writeSongData(int song, const QByteArray &record);
    void writePartData(int song, int part, const QByteArray &record);
    void writeLooper(int song, int part, const QByteArray &record);
    void writeAudio(int song, int part, quint32 seed, qint32 chunks);
    void writeSong(int song, const SongRecords &records);
    // Any bytes at any position, for hostile cards.
    void writeRaw(qint64 position, const QByteArray &bytes);

    QByteArray read(qint64 position, qint64 size) const { return readRange(m_path, position, size); }
    QByteArray read(const ByteRange &range) const { return read(range.start, range.size); }

    // Every range written since create().
    const QVector<ByteRange> &writtenRanges() const { return m_written; }

private:
    static qint64 linear(int song, int part) { return 5 * qint64(song) + part; }

    QString m_path;
    QVector<ByteRange> m_written;
};

} // namespace ZovaZode::TestSupport
