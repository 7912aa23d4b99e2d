// Archive and restore: songs and whole cards copied between an open card and an archive file,
// records unchanged and looper audio in 1 KiB chunks, with progress and abort.
//
// A restore reads and checks everything it will write from the archive (records, looper
// records and their lengths against the stored audio sizes) before it writes the first byte
// to the card, so a damaged or hostile archive is refused with the card untouched. Only the
// audio itself is read while it is copied.
#include "internal.h"

#include <cstring>

using namespace carddata;
using carddata::detail::fail;
using carddata::detail::readAt;
using carddata::detail::writeAt;

namespace {

constexpr int kCardProgressSongCount = 12;

struct SongProgress
{
    const CardProgressCallback *card;
    int32_t song;
};

int forwardToCard(int32_t done, int32_t total, void *context)
{
    auto *progress = static_cast<SongProgress *>(context);
    if (!progress->card || !progress->card->function)
        return 0;
    return progress->card->function(progress->song, kCardProgressSongCount, done, total, progress->card->context);
}

bool partInUse(const uint8_t *partData)
{
    return localGetWord32(partData, kPartInUseOffset) != 0;
}

uint8_t *looperSlot(detail::RecordBuffers &buffers, int part)
{
    return buffers.looperData.data() + size_t(part) * kLooperRecordSize;
}

// Reports progress at most once per kProgressStep bytes; true when the caller asked to stop.
class ProgressCounter
{
public:
    ProgressCounter(const ProgressCallback *progress, int32_t total) : m_progress(progress), m_total(total) {}

    // `beforeReport` runs before each report (a restore flushes the card there).
    template<typename F>
    bool advance(F beforeReport)
    {
        m_done += kAudioChunkSize;
        if (!m_progress || !m_progress->function || m_done - m_lastReported < kProgressStep)
            return false;
        beforeReport();
        m_lastReported = m_done;
        return m_progress->function(m_done, m_total, m_progress->context) != 0;
    }

private:
    const ProgressCallback *m_progress;
    int32_t m_total;
    int32_t m_done = 0;
    int32_t m_lastReported = 0;
};

int archiveSongRecords(SdCardHandle *card, ArchiveHandle *archive, int cardSong, int n,
                       const ProgressCallback *progress)
{
    static constexpr const char *self = "mlsdArchiveSong";
    auto &buffers = detail::recordBuffers();
    Stream *cardFile = card->file.get();
    const CardMemoryMap *map = &card->memoryMap;
    MemoryManager *manager = card->memoryManager;
    uint8_t *songHeader = archive->songHeaders[size_t(n)].data();
    const int64_t block = int64_t(localGetWord64(archive->header.data(), kArchiveSongOffsetsOffset + 8 * size_t(n)));

    if (mlsdGetUISongDataFromSDCard(cardFile, map, cardSong, buffers.songData.data()) != 0)
        return fail(self, "Error reading UI song data from SD card");
    if (!localUISongDataValid(buffers.songData.data()))
        return fail(self, "UI song data from SD card is invalid");

    localPutWord64(songHeader, kSongHeaderUISongOffset, uint64_t(kBlockUISongData));
    localPutWord32(songHeader, kSongHeaderUISongSize, uint32_t(kUISongDataSize));
    if (mlsdSendUISongDataToArchive(archive, n, buffers.songData.data()) != 0)
        return 1;

    localPutWord64(songHeader, kSongHeaderUIPartOffset, uint64_t(kBlockUIPartData));
    localPutWord32(songHeader, kSongHeaderUIPartSize, uint32_t(kUIPartDataSize));
    localPutWord32(songHeader, kSongHeaderUIPartTotal, uint32_t(kPartCount * kUIPartDataSize));
    for (int part = 0; part < kPartCount; ++part) {
        uint8_t *partData = detail::partSlot(buffers, part);
        if (mlsdGetUIPartDataFromSDCard(cardFile, map, cardSong, part, partData) != 0)
            return fail(self, "Error reading UI part data from SD card");
        if (!localUIPartDataValid(partData))
            return fail(self, "Part data from SD card is invalid");
        if (mlsdSendUIPartDataToArchive(archive, n, part, partData) != 0)
            return fail(self, "Error writing UI part data to Archive");
    }

    const size_t recordSize = manager->recordBuffer.size();
    localPutWord64(songHeader, kSongHeaderLooperOffset, uint64_t(kBlockLooperData));
    for (int part = 0; part < kPartCount; ++part) {
        if (lmmLoadLooperPartData(manager, cardSong, part) != 0)
            return fail(self, "Error reading Looper part data from SD card");
        const int64_t position = block + kBlockLooperData + int64_t(part) * int64_t(recordSize);
        if (!writeAt(archive->file.get(), position, manager->recordBuffer.data(), recordSize))
            return fail(self, "Error writing looper part data to archive");
    }
    localPutWord32(songHeader, kSongHeaderLooperSize, uint32_t(recordSize));
    localPutWord32(songHeader, kSongHeaderLooperTotal, uint32_t(kPartCount * recordSize));

    const auto &slots = manager->partTable[size_t(cardSong)];
    int32_t total = 0;
    for (int part = 0; part < kPartCount; ++part) {
        if (partInUse(detail::partSlot(buffers, part)))
            total += slots[size_t(part)].length * kAudioChunkSize;
    }

    ProgressCounter counter(progress, total);
    int64_t position = kBlockAudio;
    uint8_t *chunk = buffers.chunk.data();
    for (int part = 0; part < kPartCount; ++part) {
        const int64_t audioOffset = position;
        localPutWord64(songHeader, kSongHeaderAudioOffsets + 8 * size_t(part), uint64_t(audioOffset));
        const PartSlot &slot = slots[size_t(part)];
        if (partInUse(detail::partSlot(buffers, part)) && slot.length > 0) {
            if (!cardFile->seek(int64_t(slot.firstAudioSector) * kSectorSize))
                return fail(self, "Error reading looper audio from SD card");
            if (!archive->file->seek(block + position))
                return fail(self, "Error writing looper audio to archive");
            for (int32_t i = 0; i < slot.length; ++i) {
                if (cardFile->read(chunk, kAudioChunkSize) != size_t(kAudioChunkSize))
                    return fail(self, "Error reading looper audio from SD card");
                if (archive->file->write(chunk, kAudioChunkSize) != size_t(kAudioChunkSize))
                    return fail(self, "Error writing looper audio to archive");
                position += kAudioChunkSize;
                if (counter.advance([] {}))
                    return fail(self, "Aborted by user.");
            }
        }
        localPutWord32(songHeader, kSongHeaderAudioSizes + 4 * size_t(part), uint32_t(position - audioOffset));
    }

    localPutWord32(songHeader, kSongHeaderBlockSize, uint32_t(position));
    localPutWord32(archive->header.data(), kArchiveSongSizesOffset + 4 * size_t(n), uint32_t(position));
    if (n + 1 < kArchiveMaxSongs)
        localPutWord64(archive->header.data(), kArchiveSongOffsetsOffset + 8 * size_t(n + 1),
                       uint64_t(block + position));
    return 0;
}

// Reads archive song `song` into the thread's record buffers and checks every record that a
// restore would write. Reports under mlsdRestoreSong's name, as the restore itself would.
int loadArchiveSong(ArchiveHandle *archive, int song)
{
    static constexpr const char *self = "mlsdRestoreSong";
    auto &buffers = detail::recordBuffers();
    if (song < 0 || song >= mlsdArchiveSongCount(archive))
        return fail(self, "song num out of archive song range - cannot restore song");

    if (mlsdGetUISongDataFromArchive(archive, song, buffers.songData.data()) != 0)
        return fail(self, "Error reading UI song data from Archive");
    if (!localUISongDataValid(buffers.songData.data()))
        return fail(self, "Song data from archive is invalid");
    for (int part = 0; part < kPartCount; ++part) {
        uint8_t *partData = detail::partSlot(buffers, part);
        if (mlsdGetUIPartDataFromArchive(archive, song, part, partData) != 0)
            return fail(self, "Error reading UI part data from Archive");
        if (!localUIPartDataValid(partData))
            return fail(self, "Part data from archive card is invalid");
    }

    const uint8_t *songHeader = archive->songHeaders[size_t(song)].data();
    const uint64_t block = localGetWord64(archive->header.data(), kArchiveSongOffsetsOffset + 8 * size_t(song));
    const uint64_t looperOffset = localGetWord64(songHeader, kSongHeaderLooperOffset);
    const bool sizeMatches = localGetWord32(songHeader, kSongHeaderLooperSize) == kLooperRecordSize;
    for (int part = 0; part < kPartCount; ++part) {
        uint8_t *record = looperSlot(buffers, part);
        const uint64_t position = block + looperOffset + uint64_t(part) * kLooperRecordSize;
        if (!sizeMatches || block > uint64_t(kMaxArchiveSize) || looperOffset > uint64_t(kMaxArchiveSize) ||
            position > uint64_t(kMaxArchiveSize) || !readAt(archive->file.get(), int64_t(position), record, kLooperRecordSize))
            return fail(self, "Error reading looper part data from archive");
        // A recording longer than the audio stored for it would copy bytes that belong to
        // something else onto the card.
        if (partInUse(detail::partSlot(buffers, part)) && localLooperRecordAccepted(record)) {
            const uint64_t needed = uint64_t(localGetInt32(record, kLooperLengthOffset)) * kAudioChunkSize;
            if (needed > localGetWord32(songHeader, kSongHeaderAudioSizes + 4 * size_t(part)))
                return fail(self, "Error reading looper part data from archive");
        }
    }
    return 0;
}

// Writes the song loaded by loadArchiveSong() into card song `cardSong` and copies its audio.
int writeLoadedSong(SdCardHandle *card, ArchiveHandle *archive, int cardSong, int song,
                    const ProgressCallback *progress)
{
    static constexpr const char *self = "mlsdRestoreSong";
    auto &buffers = detail::recordBuffers();
    Stream *cardFile = card->file.get();
    const CardMemoryMap *map = &card->memoryMap;
    MemoryManager *manager = card->memoryManager;

    if (mlsdSendUISongDataToSDCard(cardFile, map, cardSong, buffers.songData.data()) != 0)
        return fail(self, "Error writing UI song data from SD card");
    for (int part = 0; part < kPartCount; ++part) {
        if (mlsdSendUIPartToSDCard(cardFile, map, cardSong, part, detail::partSlot(buffers, part)) != 0)
            return fail(self, "Error writing UI part data to SD card");
    }
    for (int part = 0; part < kPartCount; ++part) {
        std::memcpy(manager->recordBuffer.data(), looperSlot(buffers, part), kLooperRecordSize);
        lmmTakeLooperRecord(manager, cardSong, part, manager->recordBuffer.data());
        if (lmmSaveLooperPartData(manager, cardSong, part) != 0)
            return fail(self, "Error writing looper part data to SD card");
    }

    const uint8_t *songHeader = archive->songHeaders[size_t(song)].data();
    const auto &slots = manager->partTable[size_t(cardSong)];
    int32_t total = 0;
    for (int part = 0; part < kPartCount; ++part) {
        if (slots[size_t(part)].state == 0)
            total += int32_t(localGetWord32(songHeader, kSongHeaderAudioSizes + 4 * size_t(part)));
    }

    const uint64_t block = localGetWord64(archive->header.data(), kArchiveSongOffsetsOffset + 8 * size_t(song));
    ProgressCounter counter(progress, total);
    uint8_t *chunk = buffers.chunk.data();
    for (int part = 0; part < kPartCount; ++part) {
        const PartSlot &slot = slots[size_t(part)];
        if (!partInUse(detail::partSlot(buffers, part)) || slot.length <= 0)
            continue;
        const uint64_t audioOffset = localGetWord64(songHeader, kSongHeaderAudioOffsets + 8 * size_t(part));
        const uint64_t bytes = uint64_t(slot.length) * kAudioChunkSize;
        if (block > uint64_t(kMaxArchiveSize) || audioOffset > uint64_t(kMaxArchiveSize) ||
            block + audioOffset + bytes > uint64_t(kMaxArchiveSize) ||
            !archive->file->seek(int64_t(block + audioOffset)))
            return fail(self, "Error reading looper audio from archive");
        if (!cardFile->seek(int64_t(slot.firstAudioSector) * kSectorSize))
            return fail(self, "Error writing looper audio to SD card");
        for (int32_t i = 0; i < slot.length; ++i) {
            if (archive->file->read(chunk, kAudioChunkSize) != size_t(kAudioChunkSize))
                return fail(self, "Error reading looper audio from archive");
            if (cardFile->write(chunk, kAudioChunkSize) != size_t(kAudioChunkSize))
                return fail(self, "Error writing looper audio to SD card");
            if (counter.advance([cardFile] { cardFile->flush(); }))
                return fail(self, "Aborted by user.");
        }
    }
    if (!cardFile->commit())
        return fail(self, "Error writing looper audio to SD card");
    return 0;
}

} // namespace

int mlsdArchiveSong(SdCardHandle *card, ArchiveHandle *archive, int cardSong, const ProgressCallback *progress)
{
    static constexpr const char *self = "mlsdArchiveSong";
    if (!card || !archive || !card->file || !archive->file || !card->memoryManager)
        return fail(self, "Error reading UI song data from SD card");
    const int32_t n = mlsdArchiveSongCount(archive);
    if (n >= kArchiveMaxSongs)
        return fail(self, "Maximum songs in archive - cannot add another song");
    if (!archive->writable)
        return fail(self, "Archive is not writable.");
    if (cardSong < 0 || cardSong >= kSongCount)
        return fail(self, "Error reading UI song data from SD card");

    localPutWord32(archive->header.data(), kArchiveSongCountOffset, uint32_t(n + 1));
    if (archiveSongRecords(card, archive, cardSong, n, progress) != 0) {
        localPutWord32(archive->header.data(), kArchiveSongCountOffset, uint32_t(n < 0 ? 0 : n));
        return 1;
    }
    return 0;
}

int mlsdRestoreSong(SdCardHandle *card, ArchiveHandle *archive, int cardSong, int archiveSong,
                    const ProgressCallback *progress)
{
    static constexpr const char *self = "mlsdRestoreSong";
    if (!card || !archive || !card->file || !archive->file || !card->memoryManager)
        return fail(self, "song num out of archive song range - cannot restore song");
    if (archiveSong < 0 || archiveSong >= mlsdArchiveSongCount(archive))
        return fail(self, "song num out of archive song range - cannot restore song");
    if (!card->writable)
        return fail(self, "SD Card is not writable.");
    if (cardSong < 0 || cardSong >= kSongCount)
        return fail(self, "Error writing UI song data from SD card");
    if (loadArchiveSong(archive, archiveSong) != 0)
        return 1;
    return writeLoadedSong(card, archive, cardSong, archiveSong, progress);
}

int mlsdArchiveUserPrefs(SdCardHandle *card, ArchiveHandle *archive)
{
    if (!card || !archive || !archive->writable)
        return fail("mlsdArchiveUserPrefs", "Archive is not writable.");
    auto &buffers = detail::recordBuffers();
    const int readResult = mlsdGetUserPrefsFromSDCard(card->file.get(), &card->memoryMap, buffers.userPrefs.data());
    const int writeResult = mlsdSendUserPrefsToArchive(archive, buffers.userPrefs.data());
    localPutWord32(archive->header.data(), kArchivePrefsPresentOffset, 1);
    return readResult + writeResult;
}

int mlsdClearArchive(ArchiveHandle *archive)
{
    if (!archive || !archive->writable)
        return fail("mlsdClearArchive", "Archive is not writable.");
    localInitArchiveHeader(archive);
    return 0;
}

int mlsdArchiveSDCard(SdCardHandle *card, ArchiveHandle *archive, const CardProgressCallback *progress)
{
    if (mlsdClearArchive(archive) != 0)
        return 1;
    if (!card)
        return fail("mlsdArchiveSDCard", "Error reading UI song data from SD card");
    std::memcpy(archive->header.data() + kArchiveNameOffset, card->header.data() + kCardHeaderNameOffset,
                kTextNameSize + kTextDescriptionSize);
    // Prefs that fail validation are carried as the pedal wrote them, but a prefs block that
    // could not be read from the card or written to the archive would make a card archive that
    // claims prefs it does not hold: that is a failed archive, not a finished one.
    auto &buffers = detail::recordBuffers();
    const int64_t prefsPosition = int64_t(card->memoryMap.words[MapUserPrefsSector]) * kSectorSize;
    if (!readAt(card->file.get(), prefsPosition, buffers.userPrefs.data(), kUserPrefsSize))
        return fail("mlsdArchiveSDCard", "Error reading user prefs from SD card.");
    if (mlsdSendUserPrefsToArchive(archive, buffers.userPrefs.data()) != 0)
        return 1;
    localPutWord32(archive->header.data(), kArchivePrefsPresentOffset, 1);
    for (int song = 0; song < kSongCount; ++song) {
        SongProgress context{progress, song};
        const ProgressCallback songProgress{forwardToCard, &context};
        const int result = mlsdArchiveSong(card, archive, song, progress ? &songProgress : nullptr);
        if (result != 0)
            return result;
    }
    return 0;
}

int mlsdRestoreUserPrefs(SdCardHandle *card, ArchiveHandle *archive)
{
    if (!card || !card->writable)
        return fail("mlsdRestoreUserPrefs", "SD Card is not writable.");
    auto &buffers = detail::recordBuffers();
    // Prefs that did not read or validate are not written: the pedal would load them.
    if (mlsdGetUserPrefsFromArchive(archive, buffers.userPrefs.data()) != 0)
        return 1;
    return mlsdSendUserPrefsToSDCard(card->file.get(), &card->memoryMap, buffers.userPrefs.data());
}

int mlsdRestoreSDCard(SdCardHandle *card, ArchiveHandle *archive, const CardProgressCallback *progress)
{
    static constexpr const char *self = "mlsdRestoreSDCard";
    if (!card || !card->file || !card->writable)
        return fail(self, "SD Card is not writable.");
    if (!archive || !archive->file)
        return fail(self, "Error reading archive header.");

    // Check the whole archive before the first write: a card is restored completely or not
    // touched, unless the card itself fails while being written.
    auto &buffers = detail::recordBuffers();
    if (mlsdGetUserPrefsFromArchive(archive, buffers.userPrefs.data()) != 0)
        return 1;
    const int32_t songs = mlsdArchiveSongCount(archive);
    for (int song = 0; song < songs; ++song) {
        if (loadArchiveSong(archive, song) != 0)
            return 1;
    }

    std::memcpy(card->header.data() + kCardHeaderNameOffset, archive->header.data() + kArchiveNameOffset,
                kTextNameSize + kTextDescriptionSize);
    const int headerResult = mlsdSendHeaderToSDCard(card->file.get(), &card->memoryMap, card->header.data());
    if (headerResult != 0)
        return headerResult;
    const int prefsResult = mlsdRestoreUserPrefs(card, archive);
    if (prefsResult != 0)
        return prefsResult;
    for (int song = 0; song < songs; ++song) {
        SongProgress context{progress, song};
        const ProgressCallback songProgress{forwardToCard, &context};
        const int result = mlsdRestoreSong(card, archive, song, song, progress ? &songProgress : nullptr);
        if (result != 0)
            return result;
    }
    return 0;
}
