// Opening and closing the card data file, reading and writing its records, clearing a song.
#include "internal.h"

#include <cstring>
#include <new>

using namespace carddata;
using carddata::detail::fail;
using carddata::detail::readAt;
using carddata::detail::writeAt;

namespace {

int64_t sectorPosition(int64_t sector)
{
    return sector * kSectorSize;
}

bool validSong(int song)
{
    return song >= 0 && song < kSongCount;
}

bool validPart(int song, int part)
{
    return validSong(song) && part >= 0 && part < kPartCount;
}

} // namespace

int64_t mlsdSongDataPosition(const CardMemoryMap *map, int song)
{
    return sectorPosition(int64_t(map->words[MapSongDataSector]) +
                          int64_t(map->words[MapSongDataSectorsPerSong]) * song);
}

int64_t mlsdPartDataPosition(const CardMemoryMap *map, int song, int part)
{
    return sectorPosition(int64_t(map->words[MapPartDataSector]) +
                          int64_t(map->words[MapPartDataSectorsPerPart]) * (song * kPartCount + part));
}

int64_t mlsdLooperDataPosition(const CardMemoryMap *map, int song, int part)
{
    return sectorPosition(int64_t(map->words[MapLooperSector]) +
                          int64_t(map->words[MapLooperSectorsPerPart]) * (song * kPartCount + part));
}

int64_t mlsdAudioPosition(const CardMemoryMap *map, int song, int part)
{
    return sectorPosition(int64_t(map->words[MapAudioSector]) + 64 +
                          2 * int64_t(map->words[MapAudioAreaSectors]) * (song * kPartCount + part));
}

SdCardHandle *mlsdOpenSDCard(const char *path, int writable)
{
    static constexpr const char *self = "mlsdOpenSDCard";
    std::unique_ptr<SdCardHandle> handle(new (std::nothrow) SdCardHandle);
    if (!handle) {
        fail(self, "Error allocating memory for SD card structure.");
        return nullptr;
    }
    handle->writable = writable ? 1 : 0;
    handle->file = path ? streamOpen(path, writable ? OpenMode::Update : OpenMode::Read) : nullptr;
    if (!handle->file) {
        fail(self, "Error opening SD card file.");
        return nullptr;
    }
    // Only a file of exactly a card's size is taken for one: everything below reads and writes
    // at fixed positions, and a write past the end of a smaller file would grow it into a
    // 3.2 GB "card".
    if (handle->file->size() != kCardFileSize) {
        fail(self, "The file is not the size of a card data file (3,207,041,024 bytes).");
        return nullptr;
    }
    handle->name = path;
    if (localGetMemoryMap(0, &handle->memoryMap) != 0) {
        fail(self, "Error reading memory map from SD card.");
        return nullptr;
    }
    if (mlsdGetHeaderFromSDCard(handle->file.get(), &handle->memoryMap, handle->header.data()) != 0) {
        fail(self, "Error reading header from SD card.");
        return nullptr;
    }
    if (std::memcmp(handle->header.data(), "MLSD", 4) != 0) {
        fail(self, "SD Card File header does not have the correct ID.");
        return nullptr;
    }
    std::unique_ptr<MemoryManager, MemoryManagerDestroyer> manager(lmmCreate(635040000, 12, 5, 1, 256, 2, 1));
    if (!manager) {
        fail(self, "Error creating memory manager.");
        return nullptr;
    }
    if (lmmOrganizeMemory(manager.get(), 12, 5, 1, 256, 2, 1) != 0) {
        fail(self, "Error organizing memory map on SD card.");
        return nullptr;
    }
    const int32_t *w = handle->memoryMap.words;
    if (lmmSetupSDCard(manager.get(), handle->file.get(), w[MapAudioSector], w[MapAudioAreaSectors],
                       w[MapAudioSectors], w[MapLooperSector], w[MapLooperSectorsPerPart],
                       w[MapLooperSectors]) != 0) {
        fail(self, "Error setting up SD card.");
        return nullptr;
    }
    handle->memoryManager = manager.release();
    return handle.release();
}

int mlsdCloseSDCard(SdCardHandle *handle)
{
    if (!handle)
        return 0;
    int result = 0;
    if (handle->file) {
        // Whatever was written reaches the device before the card may be pulled; a commit that
        // failed has lost data, which the caller must hear about.
        const bool committed = !handle->writable || handle->file->commit();
        const bool closed = handle->file->close();
        if (handle->writable && !(committed && closed))
            result = fail("mlsdCloseSDCard", "Error committing data to SD card.");
    }
    lmmDestroy(handle->memoryManager);
    delete handle;
    return result;
}

int mlsdCommitSDCard(SdCardHandle *handle)
{
    if (!handle || !handle->file || !handle->file->commit())
        return fail("mlsdCommitSDCard", "Error committing data to SD card.");
    return 0;
}

int mlsdGetHeaderFromSDCard(Stream *file, const CardMemoryMap *map, uint8_t *buffer)
{
    if (!map || !readAt(file, sectorPosition(map->words[MapHeaderSector]), buffer, kCardHeaderSize))
        return fail("mlsdGetHeaderFromSDCard", "Error reading header from SD card.");
    return 0;
}

int mlsdSendHeaderToSDCard(Stream *file, const CardMemoryMap *map, const uint8_t *buffer)
{
    if (!map || !writeAt(file, sectorPosition(map->words[MapHeaderSector]), buffer, kCardHeaderSize))
        return fail("mlsdSendHeaderToSDCard", "Error writing header to SD card.");
    return 0;
}

int mlsdGetUserPrefsFromSDCard(Stream *file, const CardMemoryMap *map, uint8_t *buffer)
{
    static constexpr const char *self = "mlsdGetUserPrefsFromSDCard";
    if (!map || !readAt(file, sectorPosition(map->words[MapUserPrefsSector]), buffer, kUserPrefsSize))
        return fail(self, "Error reading user prefs from SD card.");
    if (!localUserPrefsValid(buffer))
        return fail(self, "UserPrefs read from SD card are invalid.");
    return 0;
}

int mlsdSendUserPrefsToSDCard(Stream *file, const CardMemoryMap *map, const uint8_t *buffer)
{
    if (!map || !writeAt(file, sectorPosition(map->words[MapUserPrefsSector]), buffer, kUserPrefsSize))
        return fail("mlsdSendUserPrefsToSDCard", "Error writing user prefs to SD card.");
    return 0;
}

// Song and part numbers are checked although callers pass valid ones: a wrong number would
// write into another song's record.
int mlsdGetUISongDataFromSDCard(Stream *file, const CardMemoryMap *map, int song, uint8_t *buffer)
{
    if (!map || !validSong(song) || !readAt(file, mlsdSongDataPosition(map, song), buffer, kUISongDataSize))
        return fail("mlsdGetUISongDataFromSDCard", "Error reading UI song data from SD card.");
    return 0;
}

int mlsdSendUISongDataToSDCard(Stream *file, const CardMemoryMap *map, int song, const uint8_t *buffer)
{
    if (!map || !validSong(song) || !writeAt(file, mlsdSongDataPosition(map, song), buffer, kUISongDataSize))
        return fail("mlsdSendUISongDataToSDCard", "Error writing UI song data to SD card.");
    return 0;
}

int mlsdGetUIPartDataFromSDCard(Stream *file, const CardMemoryMap *map, int song, int part, uint8_t *buffer)
{
    if (!map || !validPart(song, part) ||
        !readAt(file, mlsdPartDataPosition(map, song, part), buffer, kUIPartDataSize))
        return fail("mlsdGetUIPartDataFromSDCard", "Error reading UI part data from SD card.");
    return 0;
}

int mlsdSendUIPartToSDCard(Stream *file, const CardMemoryMap *map, int song, int part, const uint8_t *buffer)
{
    if (!map || !validPart(song, part) ||
        !writeAt(file, mlsdPartDataPosition(map, song, part), buffer, kUIPartDataSize))
        return fail("mlsdSendUIPartToSDCard", "Error writing UI part data to SD card.");
    return 0;
}

int mlsdClearSongOnSDCard(SdCardHandle *handle, int song, const char *newName)
{
    static constexpr const char *self = "mlsdClearSongOnSDCard";
    if (!handle || !handle->file)
        return fail(self, "Error reading UI song data from SD card");
    auto &buffers = detail::recordBuffers();
    uint8_t *songData = buffers.songData.data();
    Stream *file = handle->file.get();
    const CardMemoryMap *map = &handle->memoryMap;

    if (mlsdGetUISongDataFromSDCard(file, map, song, songData) != 0)
        return fail(self, "Error reading UI song data from SD card");
    if (!localUISongDataValid(songData))
        return fail(self, "Song data from SD card is invalid");

    localPutWord32(songData, kSongFirstValueOffset, 0);
    localPutWord32(songData, kSongSecondValueOffset, 0);
    for (int i = 0; i < kSongSequenceSlots; ++i)
        localPutWord32(songData, kSongSequenceOffset + 4 * size_t(i), 0);
    localPutWord32(songData, kSongSequenceCountOffset, 0);
    localPutWord32(songData, kSongThirdValueOffset, uint32_t(-1));
    localPutWord32(songData, kSongFourthValueOffset, 0);
    localPackString(songData + kSongNameOffset, newName ? newName : "", kTextNameSize);
    localPackString(songData + kSongDescriptionOffset, "", kTextDescriptionSize);
    if (mlsdSendUISongDataToSDCard(file, map, song, songData) != 0)
        return 1;

    for (int part = 0; part < kPartCount; ++part) {
        uint8_t *partData = detail::partSlot(buffers, part);
        if (mlsdGetUIPartDataFromSDCard(file, map, song, part, partData) != 0)
            return fail(self, "Error reading UI part data from SD card");
        if (!localUIPartDataValid(partData))
            return fail(self, "Part data from SD card is invalid");
        localPutWord32(partData, kPartInUseOffset, 0);
        if (mlsdSendUIPartToSDCard(file, map, song, part, partData) != 0)
            return fail(self, "Error writing UI part data to SD card");
        lmmMarkPartEmpty(handle->memoryManager, song, part);
        // A looper record that kept its recording would make the cleared song play it again.
        if (lmmSaveLooperPartData(handle->memoryManager, song, part) != 0)
            return fail(self, "Error writing looper part data to SD card");
    }
    return 0;
}
