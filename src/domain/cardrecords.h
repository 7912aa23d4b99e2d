// The values the rest of the program works with in place of the card's raw records: a song's
// record (SongInfo), a part's record (PartInfo), the packed UTF-8 text fields and their lengths.
// What a name may hold is libraryfilenames.h's.
#pragma once

#include "carddata/carddata.h"

#include <QString>
#include <QVector>

#include <array>
#include <cstddef>
#include <cstdint>

namespace ZovaZode {

using SongRecord = std::array<uint8_t, carddata::kUISongDataSize>;
using PartRecord = std::array<uint8_t, carddata::kUIPartDataSize>;

struct SongInfo
{
    QString name;
    QString description;
    qint32 firstValue = 0;
    qint32 secondValue = 0;
    QVector<qint32> sequence;
    qint32 thirdValue = 0;
    qint32 fourthValue = 0;
};

bool operator==(const SongInfo &a, const SongInfo &b);
inline bool operator!=(const SongInfo &a, const SongInfo &b)
{
    return !(a == b);
}

struct PartInfo
{
    bool hasData = false;
    bool isLooper = false;
    bool isIntense = false;
    qint32 count = 0;
    bool altTime = false;
    qint32 bassMode = 0;
    qint32 genre = 0;
    qint32 style = 0;
    qint32 timeSignature = 0;
    float tempo = 0.0f;
    qint32 bars = 0;
    float duration = 0.0f;

    bool isActive() const { return hasData || count > 0; }
};

// Text fields of n bytes (128 for names, 384 for descriptions).
QString decodeCardText(const uint8_t *field, size_t n);
// Callers check the length rules first: an over-long text is cut at byte n, even inside a
// multi-byte character.
void encodeCardText(const QString &text, uint8_t *field, size_t n);

bool isValidCardName(const QString &name);
bool isValidCardDescription(const QString &description);

SongInfo songInfoFromRecord(const SongRecord &record);
// Changes only what SongInfo carries, so a record read from the card first keeps the bytes
// this program does not understand (words 234 to 255, text after a terminator, sequence
// words beyond the count).
void songInfoToRecord(const SongInfo &info, SongRecord &record);
PartInfo partInfoFromRecord(const PartRecord &record);

// 0 empty, 1 normal, 2 intense, 3 looper.
int partState(const PartInfo &part);

} // namespace ZovaZode
