// The card's records (header, user prefs, UI song data, UI part data, looper part data, looper
// audio) built as plain byte arrays from the layout alone, so that fixtures never depend on the
// card data library they test. Words the library only carries hold a pattern from a seed, so that
// a test sees when a record is not copied whole.
#pragma once

#include <QByteArray>
#include <QVector>

#include <array>
#include <cstring>

namespace ZovaZode::TestSupport {

inline constexpr int kHeaderSize = 1024, kUserPrefsSize = 512, kSongDataSize = 1024;
inline constexpr int kPartDataSize = 16384, kLooperRecordSize = 10752, kLooperPayloadWords = 2583;
inline constexpr int kChunkSize = 1024, kMaxLooperChunks = 41328;

// Little-endian fields.
inline void putWord(QByteArray &record, int at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        record[at + i] = char(value >> (8 * i));
}
inline void putWord64(QByteArray &record, int at, quint64 value)
{
    putWord(record, at, quint32(value));
    putWord(record, at + 4, quint32(value >> 32));
}
inline quint32 word(const QByteArray &record, int at)
{
    quint32 value = 0;
    for (int i = 0; i < 4; ++i)
        value |= quint32(quint8(record.at(at + i))) << (8 * i);
    return value;
}
inline qint32 signedWord(const QByteArray &record, int at) { return qint32(word(record, at)); }
inline quint64 word64(const QByteArray &record, int at) { return word(record, at) | quint64(word(record, at + 4)) << 32; }
// Each value in turn from byte `at` on, one word apart.
inline void putWords(QByteArray &record, int at, std::initializer_list<qint32> values)
{
    for (qint32 value : values)
        putWord(record, (at += 4) - 4, quint32(value));
}

// Text as the pedal packs it: the bytes, then a NUL (unless the text fills the field) and zeros
// to the end of the NUL's word; later words keep what they held.
inline void putText(QByteArray &record, int at, int fieldSize, const QByteArray &text)
{
    const int size = qMin(text.size(), fieldSize);
    record.replace(at, size, text.left(size));
    for (int i = size; i < fieldSize && (i == size || i % 4 != 0); ++i)
        record[at + i] = '\0';
}
inline QByteArray text(const QByteArray &record, int at, int fieldSize)
{
    const QByteArray field = record.mid(at, fieldSize);
    return field.left(field.indexOf('\0') < 0 ? fieldSize : field.indexOf('\0'));
}

// A record of `size` bytes whose words from `firstWord` on are a deterministic, seldom zero
// pattern, for the fields a reader must carry unchanged.
inline QByteArray filledRecord(int size, quint32 seed, int firstWord = 0)
{
    QByteArray record(size, '\0');
    for (int w = firstWord; w < size / 4; ++w) {
        quint32 x = seed * 2654435761u + quint32(w) * 40503u + 0x9E3779B9u;
        x = (x ^ (x >> 15)) * 0x2C1B3C6Du;
        putWord(record, 4 * w, (x ^ (x >> 12)) | 0x00010000u);
    }
    return record;
}

inline QByteArray cardHeader(const QByteArray &name, const QByteArray &description, quint32 seed = 1,
                             const QByteArray &id = "MLSD")
{
    QByteArray header = filledRecord(kHeaderSize, seed);
    header.replace(0, 4, id.left(4));
    putText(header, 8, 128, name);
    putText(header, 136, 384, description);
    return header;
}

struct UserPrefsFields
{
    qint32 word1 = 1, word3 = 1, word4 = 7; // valid: 0-2, 0-1, 0-11
    quint32 seed = 3;
};
inline QByteArray userPrefs(const UserPrefsFields &fields = {})
{
    QByteArray prefs = filledRecord(kUserPrefsSize, fields.seed);
    putWord(prefs, 4, quint32(fields.word1));
    putWords(prefs, 12, {fields.word3, fields.word4});
    return prefs;
}

struct SongFields
{
    QByteArray name = "Song";
    QByteArray description = "A song";
    qint32 first = 2;
    qint32 second = 0x12345678;
    QVector<qint32> sequence = {0, 1, 2, 1, 3};
    qint32 count = -1; // -1: the size of the sequence
    qint32 third = 5;
    qint32 fourth = 1;
    quint32 seed = 7;
};
inline QByteArray songData(const SongFields &fields)
{
    QByteArray song = filledRecord(kSongDataSize, fields.seed);
    putWord(song, 0, 771);
    putText(song, 4, 128, fields.name);
    putText(song, 132, 384, fields.description);
    putWords(song, 516, {fields.first, fields.second});
    // Slots past the sequence hold values a reader must not look at.
    for (int i = 0; i < 100; ++i)
        putWord(song, 524 + 4 * i, quint32(fields.sequence.value(i, 77 + i)));
    putWords(song, 924, {fields.count < 0 ? fields.sequence.size() : fields.count, fields.third, fields.fourth});
    return song;
}

struct LoopRecordFields
{
    qint32 bars = 8, beats = 4, word197 = 120;
};
struct PartFields
{
    qint32 inUse = 1;
    std::array<LoopRecordFields, 4> loops{}; // (bank, slot): (0,0), (0,1), (1,0), (1,1)
    std::array<qint32, 2> bankSwap{0, 0};
    qint32 count = 3, intense = 0, bassMode = 2, genre = 4;
    std::array<qint32, 24> style{};
    qint32 timeSlot = 0, altTime = 0, flag = 0;
    float duration = 12.5f;
    qint32 looperFlag = 0;
    quint32 seed = 11;
};
inline QByteArray partData(const PartFields &fields)
{
    QByteArray part = filledRecord(kPartDataSize, fields.seed);
    putWord(part, 516, quint32(fields.inUse));
    for (int r = 0; r < 4; ++r) {
        const int at = 4 * (130 + 1868 * (r / 2) + 934 * (r % 2));
        putWords(part, at, {fields.loops[r].bars, fields.loops[r].beats});
        putWord(part, at + 4 * 197, quint32(fields.loops[r].word197));
    }
    putWords(part, 15544, {fields.bankSwap[0], fields.bankSwap[1], fields.count, fields.intense, fields.bassMode,
                           fields.genre});
    for (int i = 0; i < 24; ++i)
        putWord(part, 16144 + 4 * i, quint32(fields.style[i]));
    qint32 duration = 0;
    std::memcpy(&duration, &fields.duration, 4);
    putWords(part, 16240, {fields.timeSlot, fields.altTime, fields.flag, duration});
    putWord(part, 16264, quint32(fields.looperFlag));
    return part;
}

struct LooperFields
{
    qint32 state = 1, length = 0, auxiliary = -1;
    quint32 seed = 13; // payload and padding pattern
    bool checksumOverride = false;
    quint32 checksum = 0; // used when checksumOverride is set
};
// A recording of `length` chunks with a right checksum.
inline LooperFields recording(qint32 length, quint32 seed) { return {0, length, qint32(seed % 1000) + 1, seed}; }
// An empty part as the pedal writes it: state 1, length 0, auxiliary -1.
inline LooperFields emptyLooper(quint32 seed) { return {1, 0, -1, seed}; }
// XOR of payload words 0 to length/32 - 1, never past the payload.
inline quint32 looperChecksum(const QByteArray &record, qint64 length)
{
    quint32 sum = 0;
    for (qint64 i = 0; i < qBound<qint64>(0, length / 32, kLooperPayloadWords); ++i)
        sum ^= word(record, int(16 + 4 * i));
    return sum;
}
inline QByteArray looperRecord(const LooperFields &fields)
{
    QByteArray record = filledRecord(kLooperRecordSize, fields.seed, 4);
    putWords(record, 0, {fields.state, fields.length, fields.auxiliary});
    putWord(record, 12, fields.checksumOverride ? fields.checksum : looperChecksum(record, fields.length));
    return record;
}
// Whether a reader may trust the record: length 1 to kMaxLooperChunks and its checksum right.
inline bool looperAccepted(const QByteArray &record)
{
    const qint32 length = signedWord(record, 4);
    return length >= 1 && length <= kMaxLooperChunks && looperChecksum(record, length) == word(record, 12);
}

// Looper audio in which every byte depends on the seed and its offset, and every chunk differs.
inline QByteArray audio(quint32 seed, qint64 offset, qint64 size)
{
    QByteArray bytes(int(size), '\0');
    for (qint64 i = offset; i < offset + size; ++i)
        bytes[int(i - offset)] = char((i % 1024 * 7 + i / 1024 * 131 + seed * 29 + i % 1024 / 32 * 3) & 0xFF);
    return bytes;
}

} // namespace ZovaZode::TestSupport
