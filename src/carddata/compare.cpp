// Read-back comparison of a card and an archive.
//
// A looper record is equal when the card holds either the archive's raw record (an archive made
// from the card stores the raw record) or the record a restore makes of it: a record the pedal
// would not accept becomes an empty part, and a recording gets its checksum. Audio is compared
// only where a restore copies it, so the bytes of empty parts, which nobody copies, never count.
#include "compare.h"

#include "internal.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace carddata;
using carddata::detail::fail;
using carddata::detail::readAt;

namespace {

constexpr const char *kSongSelf = "mlsdCompareArchiveSong";
constexpr const char *kCardSelf = "mlsdCompareArchiveCard";
constexpr size_t kCompareBlock = 64 * 1024;

// 1234567 -> "1,234,567": the byte position of a difference is read by people.
std::string grouped(uint64_t value)
{
    std::string digits = std::to_string(value);
    for (int i = int(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(size_t(i), 1, ',');
    return digits;
}

int differs(const char *self, const std::string &where)
{
    const std::string message = where + " differs from the original.";
    return fail(self, message.c_str());
}

std::string songWhere(int cardSong)
{
    return "song " + std::to_string(cardSong + 1);
}

std::string partWhere(int cardSong, int part)
{
    return songWhere(cardSong) + ", part " + std::to_string(part + 1);
}

// The record a restore writes to the card for an archive looper record.
void restoredLooperRecord(const uint8_t *archived, uint8_t *restored)
{
    std::memcpy(restored, archived, kLooperRecordSize);
    if (!localLooperRecordAccepted(archived)) {
        localPutWord32(restored, kLooperStateOffset, 1);
        localPutWord32(restored, kLooperLengthOffset, 0);
        localPutWord32(restored, kLooperAuxiliaryOffset, uint32_t(-1));
    }
    if (localGetInt32(restored, kLooperStateOffset) == 0)
        localPutWord32(restored, kLooperChecksumOffset, localLooperChecksum(restored));
}

bool validArchivePosition(uint64_t a, uint64_t b, uint64_t c)
{
    const uint64_t limit = uint64_t(kMaxArchiveSize);
    return a <= limit && b <= limit && c <= limit && a + b + c <= limit;
}

} // namespace

int mlsdCompareArchiveSong(SdCardHandle *card, ArchiveHandle *archive, int cardSong, int archiveSong,
                           const ProgressCallback *progress, unsigned ignore)
{
    const char *self = kSongSelf;
    if (!card || !archive || !card->file || !archive->file || !card->memoryManager)
        return fail(self, "Nothing to compare.");
    if (cardSong < 0 || cardSong >= kSongCount || archiveSong < 0 ||
        archiveSong >= mlsdArchiveSongCount(archive))
        return fail(self, "song num out of range - cannot compare song");
    Stream *cardFile = card->file.get();
    Stream *archiveFile = archive->file.get();
    const CardMemoryMap *map = &card->memoryMap;

    std::vector<uint8_t> a(std::max(kUIPartDataSize, kCompareBlock));
    std::vector<uint8_t> b(a.size());
    std::vector<uint8_t> restored(kLooperRecordSize);

    if (mlsdGetUISongDataFromSDCard(cardFile, map, cardSong, a.data()) != 0)
        return fail(self, "Error reading UI song data from SD card");
    if (mlsdGetUISongDataFromArchive(archive, archiveSong, b.data()) != 0)
        return fail(self, "Error reading UI song data from archive");
    // Renaming rewrites the record from the song's values, which also stamps word 0.
    if (ignore & CompareIgnoreName) {
        std::memcpy(b.data(), a.data(), 4);
        std::memcpy(b.data() + kSongNameOffset, a.data() + kSongNameOffset, kTextNameSize);
    }
    if (std::memcmp(a.data(), b.data(), kUISongDataSize) != 0)
        return differs(self, songWhere(cardSong) + ", song data");

    std::vector<uint8_t> archivePartInUse(kPartCount);
    for (int part = 0; part < kPartCount; ++part) {
        if (mlsdGetUIPartDataFromSDCard(cardFile, map, cardSong, part, a.data()) != 0)
            return fail(self, "Error reading UI part data from SD card");
        if (mlsdGetUIPartDataFromArchive(archive, archiveSong, part, b.data()) != 0)
            return fail(self, "Error reading UI part data from archive");
        if (std::memcmp(a.data(), b.data(), kUIPartDataSize) != 0)
            return differs(self, partWhere(cardSong, part) + ", part data");
        archivePartInUse[size_t(part)] = localGetWord32(b.data(), kPartInUseOffset) != 0;
    }

    const uint8_t *songHeader = archive->songHeaders[size_t(archiveSong)].data();
    const uint64_t block =
        localGetWord64(archive->header.data(), kArchiveSongOffsetsOffset + 8 * size_t(archiveSong));
    const uint64_t looperOffset = localGetWord64(songHeader, kSongHeaderLooperOffset);
    if (localGetWord32(songHeader, kSongHeaderLooperSize) != kLooperRecordSize)
        return fail(self, "Error reading looper part data from archive");
    std::vector<int64_t> audioBytes(kPartCount);
    for (int part = 0; part < kPartCount; ++part) {
        const uint64_t partOffset = uint64_t(part) * kLooperRecordSize;
        if (!validArchivePosition(block, looperOffset, partOffset) ||
            !readAt(archiveFile, int64_t(block + looperOffset + partOffset), b.data(), kLooperRecordSize))
            return fail(self, "Error reading looper part data from archive");
        if (!readAt(cardFile, mlsdLooperDataPosition(map, cardSong, part), a.data(), kLooperRecordSize))
            return fail(self, "Error reading looper part data from SD card");
        restoredLooperRecord(b.data(), restored.data());
        if (std::memcmp(a.data(), b.data(), kLooperRecordSize) != 0 &&
            std::memcmp(a.data(), restored.data(), kLooperRecordSize) != 0)
            return differs(self, partWhere(cardSong, part) + ", looper record");
        if (archivePartInUse[size_t(part)] && localLooperRecordAccepted(b.data()))
            audioBytes[size_t(part)] =
                int64_t(localGetInt32(b.data(), kLooperLengthOffset)) * kAudioChunkSize;
    }

    int64_t total = 0;
    for (int64_t bytes : audioBytes)
        total += bytes;
    int64_t done = 0;
    int64_t lastReported = 0;
    const auto &slots = card->memoryManager->partTable[size_t(cardSong)];
    for (int part = 0; part < kPartCount; ++part) {
        const int64_t bytes = audioBytes[size_t(part)];
        if (bytes <= 0)
            continue;
        const uint64_t audioOffset = localGetWord64(songHeader, kSongHeaderAudioOffsets + 8 * size_t(part));
        if (uint64_t(bytes) > localGetWord32(songHeader, kSongHeaderAudioSizes + 4 * size_t(part)) ||
            !validArchivePosition(block, audioOffset, uint64_t(bytes)) ||
            !archiveFile->seek(int64_t(block + audioOffset)))
            return fail(self, "Error reading looper audio from archive");
        if (!cardFile->seek(int64_t(slots[size_t(part)].firstAudioSector) * kSectorSize))
            return fail(self, "Error reading looper audio from SD card");
        for (int64_t position = 0; position < bytes;) {
            const size_t n = size_t(std::min<int64_t>(int64_t(kCompareBlock), bytes - position));
            if (cardFile->read(a.data(), n) != n)
                return fail(self, "Error reading looper audio from SD card");
            if (archiveFile->read(b.data(), n) != n)
                return fail(self, "Error reading looper audio from archive");
            if (std::memcmp(a.data(), b.data(), n) != 0) {
                const auto mismatch = std::mismatch(a.begin(), a.begin() + std::ptrdiff_t(n), b.begin());
                const uint64_t at = uint64_t(position) + uint64_t(mismatch.first - a.begin());
                return differs(self, partWhere(cardSong, part) + ", looper audio at byte " + grouped(at));
            }
            position += int64_t(n);
            done += int64_t(n);
            if (progress && progress->function && (done - lastReported >= kProgressStep || done == total)) {
                lastReported = done;
                if (progress->function(int32_t(done), int32_t(total), progress->context) != 0)
                    return fail(self, "Aborted by user.");
            }
        }
    }
    return 0;
}

int mlsdCompareArchiveCard(SdCardHandle *card, ArchiveHandle *archive, const CardProgressCallback *progress,
                           unsigned ignore)
{
    const char *self = kCardSelf;
    if (!card || !archive || !card->file || !archive->file || !card->memoryManager)
        return fail(self, "Nothing to compare.");

    const uint8_t *cardHeader = card->header.data();
    const uint8_t *archiveHeader = archive->header.data();
    if (!(ignore & CompareIgnoreName) && std::memcmp(cardHeader + kCardHeaderNameOffset,
                                                     archiveHeader + kArchiveNameOffset, kTextNameSize) != 0)
        return differs(self, "card name");
    if (std::memcmp(cardHeader + kCardHeaderDescriptionOffset, archiveHeader + kArchiveDescriptionOffset,
                    kTextDescriptionSize) != 0)
        return differs(self, "card description");

    if (mlsdArchiveHasUserPrefs(archive)) {
        std::vector<uint8_t> cardPrefs(kUserPrefsSize);
        std::vector<uint8_t> archivePrefs(kUserPrefsSize);
        const int64_t cardPosition = int64_t(card->memoryMap.words[MapUserPrefsSector]) * kSectorSize;
        if (!readAt(card->file.get(), cardPosition, cardPrefs.data(), kUserPrefsSize))
            return fail(self, "Error reading user prefs from SD card.");
        const uint32_t offset = localGetWord32(archiveHeader, kArchivePrefsOffsetOffset);
        if (localGetWord32(archiveHeader, kArchivePrefsSizeOffset) != kUserPrefsSize ||
            !readAt(archive->file.get(), offset, archivePrefs.data(), kUserPrefsSize))
            return fail(self, "Error reading userPrefs from archive.");
        // Prefs that neither side would use were never copied by anyone.
        const bool used = localUserPrefsValid(cardPrefs.data()) || localUserPrefsValid(archivePrefs.data());
        if (used && cardPrefs != archivePrefs)
            return differs(self, "user preferences");
    }

    const int32_t songs = mlsdArchiveSongCount(archive);
    if (songs < 0 || songs > kSongCount)
        return fail(self, "Error reading archive header.");
    struct Forward
    {
        const CardProgressCallback *card;
        int32_t song;
        int32_t songCount;
    };
    for (int song = 0; song < songs; ++song) {
        Forward forward{progress, song, songs};
        const ProgressCallback songProgress{[](int32_t done, int32_t total, void *context) {
                                                auto *f = static_cast<Forward *>(context);
                                                return f->card->function(f->song, f->songCount, done, total,
                                                                         f->card->context);
                                            },
                                            &forward};
        const bool reports = progress && progress->function;
        if (mlsdCompareArchiveSong(card, archive, song, song, reports ? &songProgress : nullptr) != 0) {
            // The song comparison's text names the place; keep it under the card's name.
            std::string text = mlsdGetErrorString();
            const std::string prefix = std::string(kSongSelf) + ": ";
            if (text.compare(0, prefix.size(), prefix) == 0)
                text.erase(0, prefix.size());
            return fail(self, text.c_str());
        }
    }
    return 0;
}
