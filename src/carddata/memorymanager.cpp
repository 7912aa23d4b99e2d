// The card memory manager: sizes the looper regions from the pedal's capacity parameters,
// allots every part its looper record and audio sectors, and loads and saves looper records.
#include "internal.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

using namespace carddata;
using carddata::detail::fail;

namespace {

PartSlot *slotOf(MemoryManager *manager, int song, int part)
{
    if (!manager || song < 0 || part < 0 || uint32_t(song) >= manager->partTable.size())
        return nullptr;
    auto &parts = manager->partTable[size_t(song)];
    return uint32_t(part) < parts.size() ? &parts[size_t(part)] : nullptr;
}

// Each slot of the table as created has a payload of its own, whatever lmmOrganizeMemory uses.
size_t payloadIndex(const MemoryManager *manager, uint32_t song, uint32_t part)
{
    return size_t(song) * manager->partTable[0].size() + part;
}

int64_t bytePosition(int32_t sector)
{
    return int64_t(sector) * kSectorSize;
}

} // namespace

MemoryManager *lmmCreate(uint32_t capacity, uint32_t songs, uint32_t parts, uint32_t channelFactor,
                         uint32_t blockSize, uint32_t divisor, uint32_t twoAreas)
{
    if (songs == 0 || parts == 0 || channelFactor == 0 || blockSize == 0 || divisor == 0) {
        fail("lmmCreate", "Invalid parameter");
        return nullptr;
    }
    auto *manager = new (std::nothrow) MemoryManager;
    if (!manager)
        return nullptr;
    const uint32_t partCount = songs * parts;
    manager->payloadWordsPerPart = ((capacity * divisor) / blockSize) / partCount / 32;
    manager->looperRecordSize = (manager->payloadWordsPerPart * 4 + 16 + 511) / 512 * 512;
    manager->totalPayloadBits = manager->payloadWordsPerPart * partCount * 32;
    manager->capacity = manager->totalPayloadBits * blockSize / divisor;
    try {
        manager->recordBuffer.assign(manager->looperRecordSize, 0);
        manager->payloads.resize(size_t(partCount));
        manager->partTable.assign(songs, std::vector<PartSlot>(parts));
    } catch (const std::bad_alloc &) {
        delete manager;
        return nullptr;
    }
    lmmOrganizeMemory(manager, songs, parts, channelFactor, blockSize, divisor, twoAreas);
    return manager;
}

int lmmOrganizeMemory(MemoryManager *manager, uint32_t songs, uint32_t parts, uint32_t channelFactor,
                      uint32_t blockSize, uint32_t divisor, uint32_t twoAreas)
{
    if (!manager || songs == 0 || parts == 0 || channelFactor == 0 || blockSize == 0 || divisor == 0)
        return fail("lmmOrganizeMemory", "Invalid parameter");
    // The part table was sized at creation; more parts would not fit.
    if (songs > manager->partTable.size() || parts > manager->partTable[0].size())
        return fail("lmmOrganizeMemory", "Invalid parameter");

    manager->songs = songs;
    manager->parts = parts;
    manager->channelFactor = channelFactor;
    manager->blockSize = blockSize;
    manager->divisor = divisor;
    manager->twoAreas = twoAreas;
    manager->areasPerPart = twoAreas + 1;
    manager->blocksPerArea =
        ((manager->capacity * divisor) / (channelFactor * blockSize)) / (songs * parts * manager->areasPerPart);
    manager->sectorsPerAreaInUse = (manager->blocksPerArea * channelFactor * blockSize * 4 / divisor) / 512;
    manager->audioChunkSize = manager->areasPerPart * blockSize * channelFactor / divisor * 4;

    for (uint32_t s = 0; s < songs; ++s) {
        for (uint32_t p = 0; p < parts; ++p) {
            PartSlot &slot = manager->partTable[s][p];
            slot.previousState = slot.state;
            slot.state = 1;
            std::vector<uint32_t> &words = manager->payloads[payloadIndex(manager, s, p)];
            slot.payload = words.empty() ? nullptr : words.data();
        }
    }
    return 0;
}

int lmmSetupSDCard(MemoryManager *manager, Stream *file, int32_t firstAudioSector, int32_t sectorsPerArea,
                   int32_t audioRegionSectors, int32_t firstLooperSector, int32_t sectorsPerLooperRecord,
                   int32_t looperRegionSectors)
{
    if (!manager)
        return fail("lmmSetupSDCard", "Invalid parameter");
    manager->file = file;
    manager->firstAudioSector = firstAudioSector;
    manager->sectorsPerArea = sectorsPerArea;
    manager->audioRegionSectors = audioRegionSectors;
    manager->firstLooperSector = firstLooperSector;
    manager->sectorsPerLooperRecord = sectorsPerLooperRecord;
    manager->looperRegionSectors = looperRegionSectors;

    // These reports only inform: with the fixed parameters none of them occurs.
    if (int64_t(manager->sectorsPerAreaInUse) + 64 > sectorsPerArea)
        fail("lmmSetupSDCard", "Not enough Sectors allocated per part for audio data on SD Card");
    if (int64_t(manager->areasPerPart) * manager->songs * sectorsPerArea * manager->parts > audioRegionSectors)
        fail("lmmSetupSDCard", "Not enough Sectors allocated for all parts for audio data on SD Card");

    int64_t next = int64_t(firstAudioSector) + 64;
    for (uint32_t s = 0; s < manager->songs; ++s) {
        for (uint32_t p = 0; p < manager->parts; ++p) {
            PartSlot &slot = manager->partTable[s][p];
            slot.previousState = slot.state;
            slot.state = 1;
            slot.firstAudioSector = int32_t(next);
            next += sectorsPerArea;
            if (manager->areasPerPart == 2)
                next += sectorsPerArea;
        }
    }

    if (int64_t(manager->looperRecordSize) > int64_t(sectorsPerLooperRecord) * 512)
        fail("lmmSetPartDataFileHandleSD", "Not enough Sectors allocated per part for part data on SD Card");
    if (int64_t(looperRegionSectors) < int64_t(sectorsPerLooperRecord) * manager->songs * manager->parts)
        fail("lmmSetPartDataFileHandleSD", "Not enough Sectors allocated for part data on SD Card");

    int64_t nextLooper = firstLooperSector;
    for (uint32_t s = 0; s < manager->songs; ++s) {
        for (uint32_t p = 0; p < manager->parts; ++p) {
            manager->partTable[s][p].looperSector = int32_t(nextLooper);
            nextLooper += sectorsPerLooperRecord;
        }
    }
    return 0;
}

int lmmLoadLooperPartData(MemoryManager *manager, int song, int part)
{
    PartSlot *slot = slotOf(manager, song, part);
    if (!slot || manager->recordBuffer.size() < kLooperRecordSize)
        return 1;
    uint8_t *record = manager->recordBuffer.data();
    if (!detail::readAt(manager->file, bytePosition(slot->looperSector), record, manager->recordBuffer.size()))
        return 1;
    if (localLooperRecordAccepted(record)) {
        uint32_t *payload = lmmPartPayload(manager, song, part);
        if (!payload)
            return 1;
        for (uint32_t i = 0; i < manager->payloadWordsPerPart && i < kLooperPayloadWords; ++i)
            payload[i] = localGetWord32(record, kLooperPayloadOffset + 4 * size_t(i));
        slot->state = localGetInt32(record, kLooperStateOffset);
        slot->length = localGetInt32(record, kLooperLengthOffset);
        slot->auxiliary = localGetInt32(record, kLooperAuxiliaryOffset);
    } else {
        slot->state = 1;
        slot->length = 0;
        slot->auxiliary = -1;
    }
    return 0;
}

void lmmTakeLooperRecord(MemoryManager *manager, int song, int part, const uint8_t *record)
{
    PartSlot *slot = slotOf(manager, song, part);
    uint32_t *payload = lmmPartPayload(manager, song, part);
    if (!slot || !payload)
        return;
    for (uint32_t i = 0; i < manager->payloadWordsPerPart && i < kLooperPayloadWords; ++i)
        payload[i] = localGetWord32(record, kLooperPayloadOffset + 4 * size_t(i));
    if (localLooperRecordAccepted(record)) {
        slot->state = localGetInt32(record, kLooperStateOffset);
        slot->length = localGetInt32(record, kLooperLengthOffset);
        slot->auxiliary = localGetInt32(record, kLooperAuxiliaryOffset);
    } else {
        slot->state = 1;
        slot->length = 0;
        slot->auxiliary = -1;
    }
}

int lmmSaveLooperPartData(MemoryManager *manager, int song, int part)
{
    PartSlot *slot = slotOf(manager, song, part);
    if (!slot || manager->recordBuffer.size() < kLooperRecordSize)
        return 1;
    uint8_t *record = manager->recordBuffer.data();
    const size_t words = std::min<size_t>(manager->payloadWordsPerPart, kLooperPayloadWords);
    if (slot->payload) {
        for (size_t i = 0; i < words; ++i)
            localPutWord32(record, kLooperPayloadOffset + 4 * i, slot->payload[i]);
    } else {
        // A payload never asked for is zeros: most parts of a card being cleared or saved.
        std::memset(record + kLooperPayloadOffset, 0, 4 * words);
    }
    localPutWord32(record, kLooperStateOffset, uint32_t(slot->state));
    localPutWord32(record, kLooperLengthOffset, uint32_t(slot->length));
    localPutWord32(record, kLooperAuxiliaryOffset, uint32_t(slot->auxiliary));
    // The checksum guards recordings only; an empty part keeps whatever word 3 held.
    if (slot->state == 0)
        localPutWord32(record, kLooperChecksumOffset, localLooperChecksum(record));
    return detail::writeAt(manager->file, bytePosition(slot->looperSector), record, manager->recordBuffer.size())
               ? 0
               : 1;
}

void lmmMarkPartEmpty(MemoryManager *manager, int song, int part)
{
    if (PartSlot *slot = slotOf(manager, song, part)) {
        slot->previousState = slot->state;
        slot->state = 1;
    }
}

uint32_t *lmmPartPayload(MemoryManager *manager, int song, int part)
{
    PartSlot *slot = slotOf(manager, song, part);
    if (!slot)
        return nullptr;
    if (!slot->payload) {
        try {
            std::vector<uint32_t> &words = manager->payloads.at(payloadIndex(manager, song, part));
            // One word at least, so that a part of a manager without payload still gets one.
            words.assign(std::max<uint32_t>(manager->payloadWordsPerPart, 1), 0);
            slot->payload = words.data();
        } catch (const std::exception &) {
            return nullptr;
        }
    }
    return slot->payload;
}

void lmmDestroy(MemoryManager *manager)
{
    delete manager;
}
