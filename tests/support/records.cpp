// Record builders for fixtures; see records.h.
#include "records.h"

#include <cstring>

namespace ZovaZode::TestSupport {

void putWord(QByteArray &record, int byteOffset, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        record[byteOffset + i] = char((value >> (8 * i)) & 0xFF);
}

void putWord64(QByteArray &record, int byteOffset, quint64 value)
{
    putWord(record, byteOffset, quint32(value & 0xFFFFFFFFu));
    putWord(record, byteOffset + 4, quint32(value >> 32));
}

void putFloat(QByteArray &record, int byteOffset, float value)
{
    quint32 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    putWord(record, byteOffset, bits);
}

quint32 word(const QByteArray &record, int byteOffset)
{
    quint32 value = 0;
    for (int i = 0; i < 4; ++i)
        value |= quint32(quint8(record.at(byteOffset + i))) << (8 * i);
    return value;
}

qint32 signedWord(const QByteArray &record, int byteOffset)
{
    return qint32(word(record, byteOffset));
}

quint64 word64(const QByteArray &record, int byteOffset)
{
    return quint64(word(record, byteOffset)) | (quint64(word(record, byteOffset + 4)) << 32);
}

void putText(QByteArray &record, int byteOffset, int fieldSize, const QByteArray &text)
{
    const int size = qMin(text.size(), fieldSize);
    for (int i = 0; i < size; ++i)
        record[byteOffset + i] = text.at(i);
    if (size < fieldSize) {
        record[byteOffset + size] = '\0';
        for (int i = size + 1; i % 4 != 0; ++i)
            record[byteOffset + i] = '\0';
    }
}

QByteArray text(const QByteArray &record, int byteOffset, int fieldSize)
{
    const QByteArray field = record.mid(byteOffset, fieldSize);
    const int end = field.indexOf('\0');
    return end < 0 ? field : field.left(end);
}

quint32 fillerWord(quint32 seed, int index)
{
    quint32 x = seed * 2654435761u + quint32(index) * 40503u + 0x9E3779B9u;
    x ^= x >> 15;
    x *= 0x2C1B3C6Du;
    x ^= x >> 12;
    return x | 0x00010000u;
}

static void fillWords(QByteArray &record, quint32 seed, int firstWord, int lastWord)
{
    for (int w = firstWord; w <= lastWord; ++w)
        putWord(record, 4 * w, fillerWord(seed, w));
}

QByteArray cardHeader(const QByteArray &name, const QByteArray &description, quint32 seed,
                      const QByteArray &id)
{
    QByteArray header(kHeaderSize, '\0');
    fillWords(header, seed, 0, kHeaderSize / 4 - 1);
    for (int i = 0; i < 4 && i < id.size(); ++i)
        header[i] = id.at(i);
    putText(header, 8, 128, name);
    putText(header, 136, 384, description);
    return header;
}

QByteArray userPrefs(const UserPrefsFields &fields)
{
    QByteArray prefs(kUserPrefsSize, '\0');
    fillWords(prefs, fields.seed, 0, kUserPrefsSize / 4 - 1);
    putWord(prefs, 4, quint32(fields.word1));
    putWord(prefs, 12, quint32(fields.word3));
    putWord(prefs, 16, quint32(fields.word4));
    return prefs;
}

QByteArray songData(const SongFields &fields)
{
    QByteArray song(kSongDataSize, '\0');
    fillWords(song, fields.seed, 1, 128);
    putWord(song, 0, 771);
    putText(song, 4, 128, fields.name);
    putText(song, 132, 384, fields.description);
    putWord(song, 516, quint32(fields.first));
    putWord(song, 520, quint32(fields.second));
    // Unused sequence slots hold values a reader must not look at.
    for (int i = 0; i < 100; ++i)
        putWord(song, 524 + 4 * i,
                i < fields.sequence.size() ? quint32(fields.sequence.at(i)) : 77u + quint32(i));
    putWord(song, 924, quint32(fields.count < 0 ? fields.sequence.size() : fields.count));
    putWord(song, 928, quint32(fields.third));
    putWord(song, 932, quint32(fields.fourth));
    fillWords(song, fields.seed + 1, 234, 255);
    return song;
}

int loopRecordOffset(int bank, int slot)
{
    return 4 * (130 + 1868 * bank + 934 * slot);
}

QByteArray partData(const PartFields &fields)
{
    QByteArray part(kPartDataSize, '\0');
    fillWords(part, fields.seed, 0, 128);
    fillWords(part, fields.seed + 1, 3866, 3885);
    fillWords(part, fields.seed + 2, 3892, 4035);
    fillWords(part, fields.seed + 3, 4064, 4065);
    fillWords(part, fields.seed + 4, 4067, 4095);
    putWord(part, 516, quint32(fields.inUse));
    for (int r = 0; r < 4; ++r) {
        const int base = loopRecordOffset(r / 2, r % 2);
        fillWords(part, fields.seed + 10 + quint32(r), base / 4 + 2, base / 4 + 933);
        putWord(part, base, quint32(fields.loops[r].bars));
        putWord(part, base + 4, quint32(fields.loops[r].beats));
        putWord(part, base + 4 * 197, quint32(fields.loops[r].word197));
    }
    putWord(part, 15544, quint32(fields.bankSwap[0]));
    putWord(part, 15548, quint32(fields.bankSwap[1]));
    putWord(part, 15552, quint32(fields.count));
    putWord(part, 15556, quint32(fields.intense));
    putWord(part, 15560, quint32(fields.bassMode));
    putWord(part, 15564, quint32(fields.genre));
    for (int i = 0; i < 24; ++i)
        putWord(part, 16144 + 4 * i, quint32(fields.style[i]));
    putWord(part, 16240, quint32(fields.timeSlot));
    putWord(part, 16244, quint32(fields.altTime));
    putWord(part, 16248, quint32(fields.flag));
    putFloat(part, 16252, fields.duration);
    putWord(part, 16264, quint32(fields.looperFlag));
    return part;
}

LooperFields recording(qint32 length, quint32 seed)
{
    LooperFields fields;
    fields.state = 0;
    fields.length = length;
    fields.auxiliary = qint32(seed % 1000) + 1;
    fields.seed = seed;
    return fields;
}

LooperFields emptyLooper(quint32 seed)
{
    LooperFields fields;
    fields.seed = seed;
    return fields;
}

QByteArray looperRecord(const LooperFields &fields)
{
    QByteArray record(kLooperRecordSize, '\0');
    if (!fields.zeroPayload)
        fillWords(record, fields.seed, 4, kLooperRecordSize / 4 - 1);
    putWord(record, 0, quint32(fields.state));
    putWord(record, 4, quint32(fields.length));
    putWord(record, 8, quint32(fields.auxiliary));
    putWord(record, 12, fields.checksumOverride ? fields.checksum : looperChecksum(record, fields.length));
    return record;
}

quint32 looperChecksum(const QByteArray &record, qint64 length)
{
    const qint64 words = qBound<qint64>(0, length / 32, kLooperPayloadWords);
    quint32 sum = 0;
    for (qint64 i = 0; i < words; ++i)
        sum ^= word(record, int(16 + 4 * i));
    return sum;
}

bool looperAccepted(const QByteArray &record)
{
    const qint32 length = signedWord(record, 4);
    return length >= 1 && length <= kMaxLooperChunks && looperChecksum(record, length) == word(record, 12);
}

char audioByte(quint32 seed, qint64 offset)
{
    const quint32 chunk = quint32(offset / kChunkSize);
    const quint32 within = quint32(offset % kChunkSize);
    return char((within * 7u + chunk * 131u + seed * 29u + (within >> 5) * 3u) & 0xFF);
}

QByteArray audio(quint32 seed, qint64 offset, qint64 size)
{
    QByteArray bytes(int(size), '\0');
    for (qint64 i = 0; i < size; ++i)
        bytes[int(i)] = audioByte(seed, offset + i);
    return bytes;
}

} // namespace ZovaZode::TestSupport
