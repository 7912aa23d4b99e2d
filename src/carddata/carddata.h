// The card data library: the only code that knows the byte layout of the pedal's card data
// file (ZOVAZODE.DAT) and of the archive files (".mlad" card archives, ".mlsd" song files).
//
// Conventions shared by every operation here:
// - An operation that can fail returns 0 for success and 1 for failure (or a null handle).
//   On failure it replaces the calling thread's error text with its own name, ": " and a
//   fixed message; mlsdGetErrorString() returns that text. The text is never cleared.
// - Records are byte buffers; 32-bit and 64-bit little-endian fields are read and written
//   only through localGetWord32/localPutWord32 and their 64-bit twins.
// - Every length, count, offset and size read from a file is checked before it sizes a loop,
//   a buffer or a write.
// - The record buffers used by clear, archive and restore are per thread, so the user
//   interface may read archives while the transfer thread archives.
//
// Plain C++; no Qt.
#pragma once

#include "stream.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace carddata {

inline constexpr int64_t kSectorSize = 512;
inline constexpr int kSongCount = 12;
inline constexpr int kPartCount = 5;
inline constexpr int64_t kCardFileSectors = 6263752;
inline constexpr int64_t kCardFileSize = kCardFileSectors * kSectorSize; // 3,207,041,024

inline constexpr size_t kCardHeaderSize = 1024;
inline constexpr size_t kUserPrefsSize = 512;
inline constexpr size_t kUISongDataSize = 1024;
inline constexpr size_t kUIPartDataSize = 16384;
inline constexpr size_t kLooperRecordSize = 10752;
inline constexpr size_t kLooperPayloadWords = 2583;
inline constexpr int32_t kAudioChunkSize = 1024;
inline constexpr int32_t kProgressStep = 10240;
// Longest recording a part can hold: 2,583 payload words x 32 blocks of 512 bytes, in
// 1,024-byte chunks. It keeps every recording inside the part's own two audio areas.
inline constexpr int32_t kMaxLooperChunks = 41328;

inline constexpr size_t kTextNameSize = 128;
inline constexpr size_t kTextDescriptionSize = 384;

// Card header fields (byte offsets).
inline constexpr size_t kCardHeaderNameOffset = 8;
inline constexpr size_t kCardHeaderDescriptionOffset = 136;

// UI song data fields (byte offsets).
inline constexpr size_t kSongNameOffset = 4;
inline constexpr size_t kSongDescriptionOffset = 132;
inline constexpr size_t kSongFirstValueOffset = 516;  // word 129
inline constexpr size_t kSongSecondValueOffset = 520; // word 130
inline constexpr size_t kSongSequenceOffset = 524;    // words 131-230
inline constexpr int kSongSequenceSlots = 100;
inline constexpr size_t kSongSequenceCountOffset = 924; // word 231
inline constexpr size_t kSongThirdValueOffset = 928;    // word 232
inline constexpr size_t kSongFourthValueOffset = 932;   // word 233
inline constexpr uint32_t kSongRecordMarker = 771;      // word 0 of a record built by us

// UI part data fields (byte offsets).
inline constexpr size_t kPartInUseOffset = 516;       // word 129
inline constexpr size_t kPartLoopRecordsOffset = 520; // word 130, four records of 934 words
inline constexpr size_t kLoopRecordWords = 934;
inline constexpr size_t kPartBankSwapOffset = 15544;   // words 3886, 3887
inline constexpr size_t kPartCountOffset = 15552;      // word 3888
inline constexpr size_t kPartIntenseOffset = 15556;    // word 3889
inline constexpr size_t kPartBassModeOffset = 15560;   // word 3890
inline constexpr size_t kPartGenreOffset = 15564;      // word 3891
inline constexpr size_t kPartStyleTableOffset = 16144; // words 4036-4059
inline constexpr int kPartStyleTableWords = 24;
inline constexpr size_t kPartTimeSlotOffset = 16240;   // word 4060
inline constexpr size_t kPartAltTimeOffset = 16244;    // word 4061
inline constexpr size_t kPartFlagOffset = 16248;       // word 4062
inline constexpr size_t kPartDurationOffset = 16252;   // word 4063, float
inline constexpr size_t kPartLooperFlagOffset = 16264; // word 4066

// Looper part data fields (byte offsets).
inline constexpr size_t kLooperStateOffset = 0;
inline constexpr size_t kLooperLengthOffset = 4;
inline constexpr size_t kLooperAuxiliaryOffset = 8;
inline constexpr size_t kLooperChecksumOffset = 12;
inline constexpr size_t kLooperPayloadOffset = 16;

// Archive header fields (byte offsets).
inline constexpr size_t kArchiveHeaderSize = 680;
inline constexpr size_t kArchiveSongHeaderSize = 136;
inline constexpr size_t kArchiveVersionOffset = 4;
inline constexpr size_t kArchiveNameOffset = 8;
inline constexpr size_t kArchiveDescriptionOffset = 136;
inline constexpr size_t kArchivePrefsPresentOffset = 520;
inline constexpr size_t kArchivePrefsOffsetOffset = 524;
inline constexpr size_t kArchivePrefsSizeOffset = 528;
inline constexpr size_t kArchiveSongCountOffset = 532;
inline constexpr size_t kArchiveSongOffsetsOffset = 536; // 12 x 64-bit
inline constexpr size_t kArchiveSongSizesOffset = 632;   // 12 x 32-bit
inline constexpr int kArchiveMaxSongs = 12;

// Archive song header fields (byte offsets).
inline constexpr size_t kSongHeaderUISongOffset = 0; // 64-bit
inline constexpr size_t kSongHeaderUISongSize = 8;
inline constexpr size_t kSongHeaderUIPartOffset = 16; // 64-bit
inline constexpr size_t kSongHeaderUIPartSize = 24;
inline constexpr size_t kSongHeaderUIPartTotal = 28;
inline constexpr size_t kSongHeaderLooperOffset = 32; // 64-bit
inline constexpr size_t kSongHeaderLooperSize = 40;
inline constexpr size_t kSongHeaderLooperTotal = 44;
inline constexpr size_t kSongHeaderAudioOffsets = 48; // 5 x 64-bit
inline constexpr size_t kSongHeaderAudioSizes = 108;  // 5 x 32-bit
inline constexpr size_t kSongHeaderBlockSize = 128;

// Positions inside a song block as this library writes them.
inline constexpr int64_t kBlockUISongData = 136;
inline constexpr int64_t kBlockUIPartData = 1160;
inline constexpr int64_t kBlockLooperData = 83080;
inline constexpr int64_t kBlockAudio = 136840;

// No archive this library writes can be larger than a header, the user prefs and twelve
// song blocks of five full recordings. Positions beyond it come from hostile files.
inline constexpr int64_t kMaxArchiveSize =
    int64_t(kArchiveHeaderSize) + int64_t(kUserPrefsSize) +
    kArchiveMaxSongs * (kBlockAudio + int64_t(kPartCount) * kMaxLooperChunks * kAudioChunkSize);

} // namespace carddata

// ---------------------------------------------------------------------------------------
// Byte order: the two helpers (and their 64-bit twins) through which every field passes.

uint32_t localGetWord32(const uint8_t *buffer, size_t byteOffset);
void localPutWord32(uint8_t *buffer, size_t byteOffset, uint32_t value);
int32_t localGetInt32(const uint8_t *buffer, size_t byteOffset);
uint64_t localGetWord64(const uint8_t *buffer, size_t byteOffset);
void localPutWord64(uint8_t *buffer, size_t byteOffset, uint64_t value);
float localGetFloat(const uint8_t *buffer, size_t byteOffset);

// ---------------------------------------------------------------------------------------
// Layout: memory map, validity rules, text fields.

struct CardMemoryMap
{
    int32_t words[18];
};

enum CardMemoryMapWord {
    MapVersion = 0,
    MapHeaderSector,
    MapHeaderSectors,
    MapUserPrefsSector,
    MapUserPrefsSectors,
    MapSongDataSector,
    MapSongDataSectorsPerSong,
    MapSongDataSectors,
    MapPartDataSector,
    MapPartDataSectorsPerPart,
    MapPartDataSectors,
    MapLooperSector,
    MapLooperSectorsPerPart,
    MapLooperSectors,
    MapAudioSector,
    MapAudioAreaSectors,
    MapAudioSectors,
    MapFileSectors,
};

int localGetMemoryMap(int version, CardMemoryMap *map);

bool localUserPrefsValid(const uint8_t *userPrefs);
bool localUISongDataValid(const uint8_t *songData);
bool localUIPartDataValid(const uint8_t *partData);

// The byte offset, inside a UI part data record, of the part's current loop record, or -1
// when the part is not in use (or names a time slot other than 0 and 1).
long localCurrentLoopRecord(const uint8_t *partData);

// Text fields of N bytes (N is 128 or 384).
void localPackString(uint8_t *field, const char *bytes, size_t n);
void localUnpackString(char *bytes, const uint8_t *field, size_t n);

// XOR of payload words 0 to floor(length / 32) - 1, never past the payload.
uint32_t localLooperChecksum(const uint8_t *record);
// Whether a looper part data record holds a recording that may be trusted: its checksum
// matches and its length is from 1 to kMaxLooperChunks. Any other record is an empty part.
bool localLooperRecordAccepted(const uint8_t *record);

// ---------------------------------------------------------------------------------------
// Memory manager.

struct PartSlot
{
    int32_t state = 1; // 0 holds a recording, 1 empty
    int32_t previousState = 1;
    int32_t length = 0; // audio chunks
    int32_t auxiliary = 0;
    int32_t firstAudioSector = 0;
    int32_t looperSector = 0;
    // Null until the part's payload is first needed (lmmPartPayload): most opens touch a few
    // parts, and 60 zeroed payloads cost more than the records they read.
    uint32_t *payload = nullptr;
};

struct MemoryManager
{
    uint32_t capacity = 0;
    uint32_t songs = 0;
    uint32_t parts = 0;
    uint32_t channelFactor = 0;
    uint32_t blockSize = 0;
    uint32_t divisor = 0;
    uint32_t twoAreas = 0;
    uint32_t areasPerPart = 0;

    uint32_t payloadWordsPerPart = 0;
    uint32_t looperRecordSize = 0;
    uint32_t totalPayloadBits = 0;
    uint32_t blocksPerArea = 0;
    uint32_t sectorsPerAreaInUse = 0;
    uint32_t audioChunkSize = 0;

    carddata::Stream *file = nullptr; // not owned
    int32_t firstAudioSector = 0;
    int32_t sectorsPerArea = 0;
    int32_t audioRegionSectors = 0;
    int32_t firstLooperSector = 0;
    int32_t sectorsPerLooperRecord = 0;
    int32_t looperRegionSectors = 0;

    std::vector<uint8_t> recordBuffer;
    std::vector<std::vector<uint32_t>> payloads;  // [song * parts + part], empty until used
    std::vector<std::vector<PartSlot>> partTable; // [song][part]
};

MemoryManager *lmmCreate(uint32_t capacity, uint32_t songs, uint32_t parts, uint32_t channelFactor,
                         uint32_t blockSize, uint32_t divisor, uint32_t twoAreas);
int lmmOrganizeMemory(MemoryManager *manager, uint32_t songs, uint32_t parts, uint32_t channelFactor,
                      uint32_t blockSize, uint32_t divisor, uint32_t twoAreas);
int lmmSetupSDCard(MemoryManager *manager, carddata::Stream *file, int32_t firstAudioSector,
                   int32_t sectorsPerArea, int32_t audioRegionSectors, int32_t firstLooperSector,
                   int32_t sectorsPerLooperRecord, int32_t looperRegionSectors);
int lmmLoadLooperPartData(MemoryManager *manager, int song, int part);
int lmmSaveLooperPartData(MemoryManager *manager, int song, int part);
void lmmMarkPartEmpty(MemoryManager *manager, int song, int part);
// The part's payloadWordsPerPart payload words, zeros when first asked for; null for a part
// outside the table or when memory runs out.
uint32_t *lmmPartPayload(MemoryManager *manager, int song, int part);
void lmmDestroy(MemoryManager *manager);

// Takes the part's state, length, auxiliary value and payload from a raw looper record,
// applying the acceptance rule: an unaccepted record makes the part empty.
void lmmTakeLooperRecord(MemoryManager *manager, int song, int part, const uint8_t *record);

// ---------------------------------------------------------------------------------------
// Card data file access.

struct SdCardHandle
{
    std::unique_ptr<carddata::Stream> file;
    int32_t writable = 0;
    std::string name; // the whole path, whatever its length
    CardMemoryMap memoryMap{};
    MemoryManager *memoryManager = nullptr;
    std::array<uint8_t, carddata::kCardHeaderSize> header{};
};

// Refuses, before reading anything, a file that is not exactly kCardFileSize bytes long.
SdCardHandle *mlsdOpenSDCard(const char *path, int writable);
// Commits a writable card, closes the file and frees the handle (always). Returns 1 when the
// commit or the close of a writable card failed: data written since the last commit may be lost.
int mlsdCloseSDCard(SdCardHandle *handle);
// Flushes and durably commits what was written to an open card.
int mlsdCommitSDCard(SdCardHandle *handle);

int mlsdGetHeaderFromSDCard(carddata::Stream *file, const CardMemoryMap *map, uint8_t *buffer);
int mlsdSendHeaderToSDCard(carddata::Stream *file, const CardMemoryMap *map, const uint8_t *buffer);
int mlsdGetUserPrefsFromSDCard(carddata::Stream *file, const CardMemoryMap *map, uint8_t *buffer);
int mlsdSendUserPrefsToSDCard(carddata::Stream *file, const CardMemoryMap *map, const uint8_t *buffer);
int mlsdGetUISongDataFromSDCard(carddata::Stream *file, const CardMemoryMap *map, int song, uint8_t *buffer);
int mlsdSendUISongDataToSDCard(carddata::Stream *file, const CardMemoryMap *map, int song,
                               const uint8_t *buffer);
int mlsdGetUIPartDataFromSDCard(carddata::Stream *file, const CardMemoryMap *map, int song, int part,
                                uint8_t *buffer);
int mlsdSendUIPartToSDCard(carddata::Stream *file, const CardMemoryMap *map, int song, int part,
                           const uint8_t *buffer);
int mlsdClearSongOnSDCard(SdCardHandle *handle, int song, const char *newName);

const char *mlsdGetErrorString();

// Byte positions of the card records (64-bit; the file is larger than 2 GiB).
int64_t mlsdSongDataPosition(const CardMemoryMap *map, int song);
int64_t mlsdPartDataPosition(const CardMemoryMap *map, int song, int part);
int64_t mlsdLooperDataPosition(const CardMemoryMap *map, int song, int part);
int64_t mlsdAudioPosition(const CardMemoryMap *map, int song, int part);

// ---------------------------------------------------------------------------------------
// Archive files.

// Something an archive operation copied as the card held it although a restore of the archive
// will refuse it (an archive stores bytes; judging them is the restore's business).
struct ArchiveNote
{
    int32_t song = -1; // archive song, or -1 for the card as a whole (user prefs)
    int32_t part = -1; // part, or -1 for the song's own record
    // For the musician; names the card's song counted from 1, e.g. "song 1: its song data
    // would be refused by a restore (sequence count 100)."
    std::string text;
};

struct ArchiveHandle
{
    std::unique_ptr<carddata::Stream> file;
    int32_t writable = 0;
    std::array<uint8_t, carddata::kArchiveHeaderSize> header{};
    std::array<std::array<uint8_t, carddata::kArchiveSongHeaderSize>, carddata::kArchiveMaxSongs>
        songHeaders{};
    // Filled by the archive operations, in the order they met them; never cleared by them. A
    // song that fails to archive takes its notes with it.
    std::vector<ArchiveNote> notes;
};

void localInitArchiveHeader(ArchiveHandle *handle);
int localReadArchiveHeader(carddata::Stream *file, uint8_t *header);
int localWriteArchiveHeader(carddata::Stream *file, const uint8_t *header);
int localReadArchiveSongHeader(carddata::Stream *file, const uint8_t *header, uint8_t *songHeader, int song);
int localWriteArchiveSongHeader(carddata::Stream *file, const uint8_t *header, const uint8_t *songHeader,
                                int song);
ArchiveHandle *localOpenArchive(std::unique_ptr<carddata::Stream> file, int writable, int create);

ArchiveHandle *mlsdOpenArchiveW(const wchar_t *path, int writable, int create);
// Writes the headers of a writable archive, commits it, closes and frees the handle.
// Returns 1 when the headers could not be written or committed (the error text says
// which), so that nobody mistakes an archive without headers for a finished one.
int mlsdCloseArchive(ArchiveHandle *handle);

int mlsdGetUserPrefsFromArchive(ArchiveHandle *handle, uint8_t *buffer);
int mlsdSendUserPrefsToArchive(ArchiveHandle *handle, const uint8_t *buffer);
int mlsdGetUISongDataFromArchive(ArchiveHandle *handle, int song, uint8_t *buffer);
int mlsdSendUISongDataToArchive(ArchiveHandle *handle, int song, const uint8_t *buffer);
int mlsdGetUIPartDataFromArchive(ArchiveHandle *handle, int song, int part, uint8_t *buffer);
int mlsdSendUIPartDataToArchive(ArchiveHandle *handle, int song, int part, const uint8_t *buffer);

int32_t mlsdArchiveSongCount(const ArchiveHandle *handle);
bool mlsdArchiveHasUserPrefs(const ArchiveHandle *handle);
// How many bytes the file lacks at its end for the audio its song headers place in it: 0 when
// every stored run of audio lies inside the file, -1 without a file. Reads nothing but the file's
// size, so that a library can tell an archive cut short without reading its audio.
int64_t mlsdArchiveBytesMissing(const ArchiveHandle *handle);

// ---------------------------------------------------------------------------------------
// Archive and restore.

struct ProgressCallback
{
    int (*function)(int32_t done, int32_t total, void *context);
    void *context;
};

struct CardProgressCallback
{
    int (*function)(int32_t song, int32_t songCount, int32_t done, int32_t total, void *context);
    void *context;
};

int mlsdArchiveSong(SdCardHandle *card, ArchiveHandle *archive, int cardSong,
                    const ProgressCallback *progress);
int mlsdRestoreSong(SdCardHandle *card, ArchiveHandle *archive, int cardSong, int archiveSong,
                    const ProgressCallback *progress);
int mlsdArchiveUserPrefs(SdCardHandle *card, ArchiveHandle *archive);
int mlsdClearArchive(ArchiveHandle *archive);
int mlsdArchiveSDCard(SdCardHandle *card, ArchiveHandle *archive, const CardProgressCallback *progress);
int mlsdRestoreUserPrefs(SdCardHandle *card, ArchiveHandle *archive);
int mlsdRestoreSDCard(SdCardHandle *card, ArchiveHandle *archive, const CardProgressCallback *progress);
// What mlsdRestoreSDCard (`archiveSong` -1: the user prefs and every song) or mlsdRestoreSong
// checks of the archive before its first write, without a card: every record it would write, and
// that the audio it would copy lies inside the file. 0, or 1 with the restore's own error text.
int mlsdCheckRestore(ArchiveHandle *archive, int archiveSong);

// Deleters so that callers can hold handles in std::unique_ptr and never forget a close.
struct SdCardHandleCloser
{
    void operator()(SdCardHandle *handle) const { mlsdCloseSDCard(handle); }
};
struct ArchiveHandleCloser
{
    void operator()(ArchiveHandle *handle) const { mlsdCloseArchive(handle); }
};
struct MemoryManagerDestroyer
{
    void operator()(MemoryManager *manager) const { lmmDestroy(manager); }
};
