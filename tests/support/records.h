// Builders of the card's records (header, user prefs, UI song data, UI part data, looper part
// data, looper audio) as plain byte arrays, written from the layout alone so that fixtures never
// depend on the card data library they are used to test.
//
// Fields the library only carries (words it does not interpret) are filled with a pattern
// derived from a seed, so that a test sees when a record is not copied whole.
#pragma once

#include <QByteArray>
#include <QVector>

#include <array>
#include <cstdint>

namespace ZovaZode::TestSupport {

inline constexpr int kHeaderSize = 1024;
inline constexpr int kUserPrefsSize = 512;
inline constexpr int kSongDataSize = 1024;
inline constexpr int kPartDataSize = 16384;
inline constexpr int kLooperRecordSize = 10752;
inline constexpr int kLooperPayloadWords = 2583;
inline constexpr int kChunkSize = 1024;
inline constexpr int kMaxLooperChunks = 41328;

// Little-endian field access on a record.
void putWord(QByteArray &record, int byteOffset, quint32 value);
void putWord64(QByteArray &record, int byteOffset, quint64 value);
void putFloat(QByteArray &record, int byteOffset, float value);
quint32 word(const QByteArray &record, int byteOffset);
qint32 signedWord(const QByteArray &record, int byteOffset);
quint64 word64(const QByteArray &record, int byteOffset);

// Packs text the way the pedal does: byte i at bits 8(i mod 4) of word i/4, a NUL after the
// text unless it fills the field, the rest of the NUL's word zeroed and later words untouched.
void putText(QByteArray &record, int byteOffset, int fieldSize, const QByteArray &text);
// The text of a field, up to its NUL or its end.
QByteArray text(const QByteArray &record, int byteOffset, int fieldSize);

// A deterministic, seldom-zero word for carried-but-not-interpreted fields.
quint32 fillerWord(quint32 seed, int index);

QByteArray cardHeader(const QByteArray &name, const QByteArray &description, quint32 seed = 1,
                      const QByteArray &id = "MLSD");

struct UserPrefsFields
{
    qint32 word1 = 1; // 0 to 2
    qint32 word3 = 1; // 0 to 1
    qint32 word4 = 7; // 0 to 11
    quint32 seed = 3;
};
QByteArray userPrefs(const UserPrefsFields &fields = {});

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
QByteArray songData(const SongFields &fields);

struct LoopRecordFields
{
    qint32 bars = 8;
    qint32 beats = 4;
    qint32 word197 = 120;
};

struct PartFields
{
    qint32 inUse = 1;
    std::array<LoopRecordFields, 4> loops{}; // (bank, slot): (0,0), (0,1), (1,0), (1,1)
    std::array<qint32, 2> bankSwap{0, 0};
    qint32 count = 3;
    qint32 intense = 0;
    qint32 bassMode = 2;
    qint32 genre = 4;
    std::array<qint32, 24> style{};
    qint32 timeSlot = 0;
    qint32 altTime = 0;
    qint32 flag = 0;
    float duration = 12.5f;
    qint32 looperFlag = 0;
    quint32 seed = 11;
};
QByteArray partData(const PartFields &fields);
int loopRecordOffset(int bank, int slot);

struct LooperFields
{
    qint32 state = 1;
    qint32 length = 0;
    qint32 auxiliary = -1;
    quint32 seed = 13; // payload and padding pattern
    bool zeroPayload = false;
    bool checksumOverride = false;
    quint32 checksum = 0; // used when checksumOverride is set
};
// A recording of `length` chunks with a correct checksum.
LooperFields recording(qint32 length, quint32 seed);
// An empty part as the pedal writes it: state 1, length 0, auxiliary -1.
LooperFields emptyLooper(quint32 seed);
QByteArray looperRecord(const LooperFields &fields);
// XOR of payload words 0 to length/32 - 1 (at most the whole payload).
quint32 looperChecksum(const QByteArray &record, qint64 length);
// Whether a reader may trust the record: checksum right and length 1 to kMaxLooperChunks.
bool looperAccepted(const QByteArray &record);

// Looper audio pattern: every byte depends on the seed and its offset, and every chunk differs.
char audioByte(quint32 seed, qint64 offset);
QByteArray audio(quint32 seed, qint64 offset, qint64 size);

} // namespace ZovaZode::TestSupport
