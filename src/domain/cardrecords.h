// The values the rest of the program works with in place of the card's raw records: a song's
// record (SongInfo), a part's record (PartInfo), the packed UTF-8 text fields, and the rules
// every name and description edit applies before anything is written.
#pragma once

#include "carddata/carddata.h"

#include <QRegularExpression>
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

QRegularExpression forbiddenNameCharacters();
bool hasNoForbiddenCharacters(const QString &text);
QString removeForbiddenCharacters(const QString &text);

// The longest name, in bytes of its encoded form, that a generated library file may have: a new
// file is first written under its name plus a temporary suffix (".<8 characters>.partial", see
// NewFile), and both must fit the 255-byte limit of common file systems.
inline constexpr int kLibraryFileNameBytes = 238;

// `text` without what never goes into a generated file name: the characters not permitted in a
// name, control characters, and invisible format characters (bidirectional controls U+202A-U+202E,
// U+2066-U+2069, U+200E, U+200F, U+061C; zero-width characters) and line separators.
QString removeFileNameCharacters(const QString &text);
// `text` cut at a character boundary so that its encoded file-name form has at most `bytes` bytes.
QString fitFileNameBytes(const QString &text, int bytes);
// A file name from a card or song name: removeFileNameCharacters(), no leading dots or spaces
// (which would hide the file), cut to fit with the extension, or `fallback` when nothing is left.
QString libraryFileName(const QString &name, const QString &extension, const QString &fallback);

// The file name of a card archive in the card library.
QString archiveFileName(const QString &name);

SongInfo songInfoFromRecord(const SongRecord &record);
// Changes only what SongInfo carries, so a record read from the card first keeps the bytes
// this program does not understand (words 234 to 255, text after a terminator, sequence
// words beyond the count).
void songInfoToRecord(const SongInfo &info, SongRecord &record);
PartInfo partInfoFromRecord(const PartRecord &record);

// 0 empty, 1 normal, 2 intense, 3 looper.
int partState(const PartInfo &part);

} // namespace ZovaZode
