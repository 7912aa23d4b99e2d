// The card file's layout: byte order, the memory map, the validity rules of the records,
// text fields and the looper checksum.
#include "internal.h"

#include <cstring>

using namespace carddata;

uint32_t localGetWord32(const uint8_t *buffer, size_t byteOffset)
{
    const uint8_t *p = buffer + byteOffset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void localPutWord32(uint8_t *buffer, size_t byteOffset, uint32_t value)
{
    uint8_t *p = buffer + byteOffset;
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
    p[2] = uint8_t(value >> 16);
    p[3] = uint8_t(value >> 24);
}

int32_t localGetInt32(const uint8_t *buffer, size_t byteOffset)
{
    return int32_t(localGetWord32(buffer, byteOffset));
}

uint64_t localGetWord64(const uint8_t *buffer, size_t byteOffset)
{
    return uint64_t(localGetWord32(buffer, byteOffset)) | uint64_t(localGetWord32(buffer, byteOffset + 4)) << 32;
}

void localPutWord64(uint8_t *buffer, size_t byteOffset, uint64_t value)
{
    localPutWord32(buffer, byteOffset, uint32_t(value));
    localPutWord32(buffer, byteOffset + 4, uint32_t(value >> 32));
}

float localGetFloat(const uint8_t *buffer, size_t byteOffset)
{
    const uint32_t bits = localGetWord32(buffer, byteOffset);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

int localGetMemoryMap(int version, CardMemoryMap *map)
{
    if (version != 0 || !map)
        return 1;
    static constexpr int32_t version0[18] = {0,     0,   100,  100,   100,  41260, 101,     1212,   42472,
                                             164,   9840, 52312, 164, 9840, 62152, 51680, 6201600, 6263752};
    std::memcpy(map->words, version0, sizeof version0);
    return 0;
}

bool localUserPrefsValid(const uint8_t *userPrefs)
{
    const int32_t word1 = localGetInt32(userPrefs, 4);
    const int32_t word3 = localGetInt32(userPrefs, 12);
    const int32_t word4 = localGetInt32(userPrefs, 16);
    return word1 >= 0 && word1 <= 2 && word3 >= 0 && word3 <= 1 && word4 >= 0 && word4 <= 11;
}

bool localUISongDataValid(const uint8_t *songData)
{
    const int32_t first = localGetInt32(songData, kSongFirstValueOffset);
    if (first < 0 || first > 4)
        return false;
    const int32_t count = localGetInt32(songData, kSongSequenceCountOffset);
    if (count < 0 || count > 99)
        return false;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t entry = localGetInt32(songData, kSongSequenceOffset + 4 * size_t(i));
        if (entry < 0 || entry > 4)
            return false;
    }
    const int32_t third = localGetInt32(songData, kSongThirdValueOffset);
    if (third < -1 || third > 11)
        return false;
    const int32_t fourth = localGetInt32(songData, kSongFourthValueOffset);
    return fourth >= 0 && fourth <= 2;
}

namespace {

bool inRange(int32_t value, int32_t low, int32_t high)
{
    return value >= low && value <= high;
}

size_t loopRecordOffset(int bank, int slot)
{
    return kPartLoopRecordsOffset + 4 * kLoopRecordWords * size_t(2 * bank + slot);
}

} // namespace

bool localUIPartDataValid(const uint8_t *partData)
{
    const int32_t inUse = localGetInt32(partData, kPartInUseOffset);
    if (!inRange(inUse, 0, 1))
        return false;
    if (!inRange(localGetInt32(partData, kPartGenreOffset), 0, 11))
        return false;
    if (inUse == 0)
        return true;

    const bool looper = localGetInt32(partData, kPartLooperFlagOffset) != 0;
    for (int bank = 0; bank < 2; ++bank) {
        for (int slot = 0; slot < 2; ++slot) {
            const size_t record = loopRecordOffset(bank, slot);
            if (!looper && !inRange(localGetInt32(partData, record), 1, 96))
                return false;
            if (!inRange(localGetInt32(partData, record + 4), 1, 8))
                return false;
            if (!inRange(localGetInt32(partData, record + 4 * 197), 1, 256))
                return false;
        }
    }
    if (!inRange(localGetInt32(partData, kPartBankSwapOffset), 0, 1) ||
        !inRange(localGetInt32(partData, kPartBankSwapOffset + 4), 0, 1))
        return false;
    if (!looper) {
        for (int i = 0; i < kPartStyleTableWords; ++i) {
            if (!inRange(localGetInt32(partData, kPartStyleTableOffset + 4 * size_t(i)), 0, 11))
                return false;
        }
    }
    return inRange(localGetInt32(partData, kPartTimeSlotOffset), 0, 1) &&
           inRange(localGetInt32(partData, kPartAltTimeOffset), 0, 1) &&
           inRange(localGetInt32(partData, kPartFlagOffset), 0, 1);
}

long localCurrentLoopRecord(const uint8_t *partData)
{
    if (localGetInt32(partData, kPartInUseOffset) == 0)
        return -1;
    // The record is not validated when it is only shown; a time slot outside 0 and 1 would
    // index outside the record.
    const int32_t slot = localGetInt32(partData, kPartTimeSlotOffset);
    if (slot != 0 && slot != 1)
        return -1;
    const bool altTime = localGetInt32(partData, kPartAltTimeOffset) != 0;
    const bool swapped = localGetInt32(partData, kPartBankSwapOffset + 4 * size_t(slot)) != 0;
    const int bank = altTime != swapped ? 1 : 0;
    return long(loopRecordOffset(bank, slot));
}

void localPackString(uint8_t *field, const char *bytes, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const size_t word = 4 * (i / 4);
        if (i % 4 == 0)
            localPutWord32(field, word, 0);
        const uint8_t byte = bytes ? uint8_t(bytes[i]) : 0;
        localPutWord32(field, word, localGetWord32(field, word) | uint32_t(byte) << (8 * (i % 4)));
        if (byte == 0)
            break;
    }
}

void localUnpackString(char *bytes, const uint8_t *field, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const uint8_t byte = uint8_t(localGetWord32(field, 4 * (i / 4)) >> (8 * (i % 4)));
        bytes[i] = char(byte);
        if (byte == 0)
            break;
    }
}

uint32_t localLooperChecksum(const uint8_t *record)
{
    const int32_t length = localGetInt32(record, kLooperLengthOffset);
    size_t words = length > 0 ? size_t(length / 32) : 0;
    if (words > kLooperPayloadWords)
        words = kLooperPayloadWords;
    uint32_t checksum = 0;
    for (size_t i = 0; i < words; ++i)
        checksum ^= localGetWord32(record, kLooperPayloadOffset + 4 * i);
    return checksum;
}

bool localLooperRecordAccepted(const uint8_t *record)
{
    const int32_t length = localGetInt32(record, kLooperLengthOffset);
    if (length < 1 || length > kMaxLooperChunks)
        return false;
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // Lets the fuzzer reach the audio code behind the checksum; never in a shipped build.
    return true;
#else
    return localLooperChecksum(record) == localGetWord32(record, kLooperChecksumOffset);
#endif
}
