// Conversions between the card's song and part records and SongInfo/PartInfo, and the lengths of
// names and descriptions.
#include "domain/cardrecords.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>
#include <vector>

namespace ZovaZode {

namespace {

constexpr int kStyleTableWords = carddata::kPartStyleTableWords;

qint32 wordAt(const uint8_t *record, size_t offset)
{
    return localGetInt32(record, offset);
}

} // namespace

bool operator==(const SongInfo &a, const SongInfo &b)
{
    return a.name == b.name && a.description == b.description && a.firstValue == b.firstValue &&
           a.secondValue == b.secondValue && a.sequence == b.sequence && a.thirdValue == b.thirdValue &&
           a.fourthValue == b.fourthValue;
}

QString decodeCardText(const uint8_t *field, size_t n)
{
    // The extra byte terminates a field that holds no NUL of its own.
    std::vector<char> bytes(n + 1, 0);
    localUnpackString(bytes.data(), field, n);
    return QString::fromUtf8(bytes.data());
}

void encodeCardText(const QString &text, uint8_t *field, size_t n)
{
    const QByteArray utf8 = text.toUtf8();
    std::vector<char> bytes(n, 0);
    std::memcpy(bytes.data(), utf8.constData(), std::min(n, size_t(utf8.size())));
    localPackString(field, bytes.data(), n);
}

bool isValidCardName(const QString &name)
{
    return size_t(name.toUtf8().size()) <= carddata::kTextNameSize;
}

bool isValidCardDescription(const QString &description)
{
    return size_t(description.toUtf8().size()) <= carddata::kTextDescriptionSize;
}

SongInfo songInfoFromRecord(const SongRecord &record)
{
    const uint8_t *data = record.data();
    SongInfo info;
    info.name = decodeCardText(data + carddata::kSongNameOffset, carddata::kTextNameSize);
    info.description =
        decodeCardText(data + carddata::kSongDescriptionOffset, carddata::kTextDescriptionSize);
    info.firstValue = wordAt(data, carddata::kSongFirstValueOffset);
    info.secondValue = wordAt(data, carddata::kSongSecondValueOffset);
    // The count comes from the file: more than the 100 slots would read past the sequence.
    const qint32 count =
        std::min(wordAt(data, carddata::kSongSequenceCountOffset), carddata::kSongSequenceSlots);
    for (qint32 i = 0; i < count; ++i)
        info.sequence.append(wordAt(data, carddata::kSongSequenceOffset + 4 * size_t(i)));
    info.thirdValue = wordAt(data, carddata::kSongThirdValueOffset);
    info.fourthValue = wordAt(data, carddata::kSongFourthValueOffset);
    return info;
}

void songInfoToRecord(const SongInfo &info, SongRecord &record)
{
    uint8_t *data = record.data();
    localPutWord32(data, 0, carddata::kSongRecordMarker);
    encodeCardText(info.name, data + carddata::kSongNameOffset, carddata::kTextNameSize);
    encodeCardText(info.description, data + carddata::kSongDescriptionOffset, carddata::kTextDescriptionSize);
    localPutWord32(data, carddata::kSongFirstValueOffset, uint32_t(info.firstValue));
    localPutWord32(data, carddata::kSongSecondValueOffset, uint32_t(info.secondValue));
    const int count = std::min(info.sequence.size(), carddata::kSongSequenceSlots);
    localPutWord32(data, carddata::kSongSequenceCountOffset, uint32_t(count));
    for (int i = 0; i < count; ++i)
        localPutWord32(data, carddata::kSongSequenceOffset + 4 * size_t(i), uint32_t(info.sequence.at(i)));
    localPutWord32(data, carddata::kSongThirdValueOffset, uint32_t(info.thirdValue));
    localPutWord32(data, carddata::kSongFourthValueOffset, uint32_t(info.fourthValue));
}

PartInfo partInfoFromRecord(const PartRecord &record)
{
    const uint8_t *data = record.data();
    PartInfo part;
    part.hasData = wordAt(data, carddata::kPartInUseOffset) != 0;
    part.isLooper = wordAt(data, carddata::kPartLooperFlagOffset) != 0;
    part.isIntense = wordAt(data, carddata::kPartIntenseOffset) > 0;
    part.count = wordAt(data, carddata::kPartCountOffset);
    part.altTime = wordAt(data, carddata::kPartAltTimeOffset) != 0;

    switch (wordAt(data, carddata::kPartBassModeOffset)) {
    case 1:
        part.bassMode = 2;
        break;
    case 3:
        part.bassMode = 1;
        break;
    default:
        part.bassMode = 0;
        break;
    }

    part.genre = wordAt(data, carddata::kPartGenreOffset);
    part.timeSignature = wordAt(data, carddata::kPartTimeSlotOffset);

    // Genre and time slot come from the file; 64-bit arithmetic keeps a hostile pair from
    // overflowing into a valid-looking index.
    const qint64 styleIndex = qint64(part.timeSignature) + 2 * qint64(part.genre);
    if (styleIndex >= 0 && styleIndex < kStyleTableWords)
        part.style = wordAt(data, carddata::kPartStyleTableOffset + 4 * size_t(styleIndex));

    part.duration = localGetFloat(data, carddata::kPartDurationOffset);

    const long loopRecord = localCurrentLoopRecord(data);
    if (loopRecord >= 0 && size_t(loopRecord) + 8 <= record.size()) {
        part.bars = wordAt(data, size_t(loopRecord));
        const qint64 beats = qint64(part.bars) * qint64(wordAt(data, size_t(loopRecord) + 4));
        if (part.duration != 0.0f)
            part.tempo = float(double(beats) * 60.0 / double(part.duration));
    }
    return part;
}

int partState(const PartInfo &part)
{
    if (!part.hasData)
        return 0;
    if (part.isLooper)
        return 3;
    if (part.isIntense)
        return 2;
    return 1;
}

} // namespace ZovaZode
