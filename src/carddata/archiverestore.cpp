// Archive and restore: songs and whole cards copied between an open card and an archive file,
// records unchanged and looper audio in large blocks, with progress and abort.
//
// A restore reads and checks everything it will write from the archive (records, looper
// records, their lengths against the stored audio sizes, and that the audio to be copied lies
// inside the file) before it writes the first byte to the card, so a damaged, cut short or
// hostile archive is refused with the card untouched. What can still stop a restore part way is
// the card or the disk failing while the audio is copied.
//
// An archive, the other way round, stores whatever the card holds: a record that a restore would
// refuse is copied as found and noted in the archive handle, so that one odd record never stops
// a backup.
//
// Audio moves through one per-thread block of kAudioBlockSize bytes with one seek per part on
// each side. Progress is still reported at every kProgressStep bytes; a report is accounting
// only and flushes nothing.
#include "internal.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

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
    return progress->card->function(progress->song, kCardProgressSongCount, done, total,
                                    progress->card->context);
}

bool partInUse(const uint8_t *partData)
{
    return localGetWord32(partData, kPartInUseOffset) != 0;
}

uint8_t *looperSlot(detail::RecordBuffers &buffers, int part)
{
    return buffers.looperData.data() + size_t(part) * kLooperRecordSize;
}

// The audio a copy moves for a part: its recording, when the part is in use and its looper
// record was trusted (a trusted record is 1 to kMaxLooperChunks chunks long).
int64_t audioBytes(const uint8_t *partData, const PartSlot &slot)
{
    return partInUse(partData) && slot.length > 0 ? int64_t(slot.length) * kAudioChunkSize : 0;
}

// Progress counts are 32-bit; a song's audio is at most 5 x 41,328 KiB, far below the limit.
int32_t progressCount(int64_t bytes)
{
    return int32_t(std::min<int64_t>(bytes, INT32_MAX));
}

// Reports every kProgressStep bytes of audio moved, in order, whatever the size of the blocks
// that move it: the callers see the reports they saw when audio moved 1 KiB at a time.
class ProgressCounter
{
public:
    ProgressCounter(const ProgressCallback *progress, int64_t total)
        : m_progress(progress && progress->function ? progress : nullptr), m_total(progressCount(total))
    {}

    // Accounts for `bytes` moved; true when a report asked to stop (no report follows it).
    bool advance(int64_t bytes)
    {
        m_done += bytes;
        while (m_progress && m_done - m_reported >= kProgressStep) {
            m_reported += kProgressStep;
            if (m_progress->function(progressCount(m_reported), m_total, m_progress->context) != 0)
                return true;
        }
        return false;
    }

private:
    const ProgressCallback *m_progress;
    int32_t m_total;
    int64_t m_done = 0;
    int64_t m_reported = 0;
};

// Moves `bytes` of audio from `from`, positioned at `at`, to `to`, positioned at the part's audio.
// Returns 0, or 1 with the error text set under `self`.
//
// What is read is read once: its cached pages go as soon as the block is copied, so that backing
// up a card does not push the rest of the computer out of memory, and so that a restore after a
// safety copy writes to pages the kernel no longer holds, which costs it about half the time of
// overwriting cached ones.
int copyAudio(Stream *from, int64_t at, Stream *to, int64_t bytes, ProgressCounter &counter, const char *self,
              const char *readError, const char *writeError)
{
    uint8_t *block = detail::audioBlock();
    if (!block)
        return fail(self, readError);
    for (int64_t left = bytes; left > 0;) {
        const size_t size = size_t(std::min<int64_t>(left, int64_t(detail::kAudioBlockSize)));
        if (from->read(block, size) != size)
            return fail(self, readError);
        from->dropCache(at, int64_t(size));
        at += int64_t(size);
        if (to->write(block, size) != size)
            return fail(self, writeError);
        left -= int64_t(size);
        if (counter.advance(int64_t(size)))
            return fail(self, "Aborted by user.");
    }
    return 0;
}

std::string outside(const char *field, int32_t value)
{
    return std::string(field) + " " + std::to_string(value);
}

std::string entryOutside(const std::string &field, int32_t value)
{
    return field + " is " + std::to_string(value);
}

bool within(int32_t value, int32_t low, int32_t high)
{
    return value >= low && value <= high;
}

// The first rule of the song record that a restore's check finds broken, in words; empty when
// none is named. localUISongDataValid stays the authority on what a restore refuses.
std::string songDataFault(const uint8_t *record)
{
    const int32_t first = localGetInt32(record, kSongFirstValueOffset);
    if (!within(first, 0, 4))
        return outside("first value", first);
    const int32_t count = localGetInt32(record, kSongSequenceCountOffset);
    if (!within(count, 0, 99))
        return outside("sequence count", count);
    for (int32_t i = 0; i < count; ++i) {
        const int32_t entry = localGetInt32(record, kSongSequenceOffset + 4 * size_t(i));
        if (!within(entry, 0, 4))
            return entryOutside("sequence entry " + std::to_string(i + 1), entry);
    }
    const int32_t third = localGetInt32(record, kSongThirdValueOffset);
    if (!within(third, -1, 11))
        return outside("third value", third);
    const int32_t fourth = localGetInt32(record, kSongFourthValueOffset);
    if (!within(fourth, 0, 2))
        return outside("fourth value", fourth);
    return {};
}

// As songDataFault, for a part record (localUIPartDataValid is the authority).
std::string partDataFault(const uint8_t *record)
{
    const int32_t inUse = localGetInt32(record, kPartInUseOffset);
    if (!within(inUse, 0, 1))
        return outside("in-use flag", inUse);
    const int32_t genre = localGetInt32(record, kPartGenreOffset);
    if (!within(genre, 0, 11))
        return outside("genre", genre);
    if (inUse == 0)
        return {};
    const bool looper = localGetInt32(record, kPartLooperFlagOffset) != 0;
    for (int loop = 0; loop < 4; ++loop) {
        const size_t at = kPartLoopRecordsOffset + 4 * kLoopRecordWords * size_t(loop);
        const std::string name = " in loop record " + std::to_string(loop + 1);
        const int32_t bars = localGetInt32(record, at);
        if (!looper && !within(bars, 1, 96))
            return outside("bars", bars) + name;
        const int32_t beats = localGetInt32(record, at + 4);
        if (!within(beats, 1, 8))
            return outside("beats per bar", beats) + name;
        const int32_t word197 = localGetInt32(record, at + 4 * 197);
        if (!within(word197, 1, 256))
            return entryOutside("word 197", word197) + name;
    }
    struct Flag
    {
        size_t offset;
        const char *name;
    };
    static constexpr Flag flags[] = {{kPartBankSwapOffset, "bank-swap flag (4/4)"},
                                     {kPartBankSwapOffset + 4, "bank-swap flag (3/4)"},
                                     {kPartTimeSlotOffset, "time slot"},
                                     {kPartAltTimeOffset, "alternate time"},
                                     {kPartFlagOffset, "flag word 4062"}};
    for (const Flag &flag : flags) {
        const int32_t value = localGetInt32(record, flag.offset);
        if (!within(value, 0, 1))
            return outside(flag.name, value);
    }
    for (int i = 0; !looper && i < kPartStyleTableWords; ++i) {
        const int32_t style = localGetInt32(record, kPartStyleTableOffset + 4 * size_t(i));
        if (!within(style, 0, 11))
            return entryOutside("style table entry " + std::to_string(i + 1), style);
    }
    return {};
}

std::string userPrefsFault(const uint8_t *prefs)
{
    struct Word
    {
        size_t offset;
        const char *name;
        int32_t high;
    };
    static constexpr Word words[] = {{4, "word 1", 2}, {12, "word 3", 1}, {16, "word 4", 11}};
    for (const Word &word : words) {
        const int32_t value = localGetInt32(prefs, word.offset);
        if (!within(value, 0, word.high))
            return entryOutside(word.name, value);
    }
    return {};
}

void addNote(ArchiveHandle *archive, int32_t song, int32_t part, const std::string &subject,
             const std::string &fault)
{
    std::string text = subject + " would be refused by a restore";
    if (!fault.empty())
        text += " (" + fault + ")";
    archive->notes.push_back({song, part, text + "."});
}

std::string songName(int cardSong)
{
    return "song " + std::to_string(cardSong + 1);
}

constexpr const char *kArchiveSong = "mlsdArchiveSong";

// Archive song `n` as it is written: where its block starts and the header that describes it.
struct ArchiveSongBlock
{
    ArchiveHandle *archive;
    int n;
    int64_t start;
    uint8_t *header;
};

// The song record, as found: one a restore would refuse is noted, not left out.
int archiveSongData(SdCardHandle *card, const ArchiveSongBlock &song, int cardSong)
{
    auto &buffers = detail::recordBuffers();
    const CardMemoryMap *map = &card->memoryMap;
    if (mlsdGetUISongDataFromSDCard(card->file.get(), map, cardSong, buffers.songData.data()) != 0)
        return fail(kArchiveSong, "Error reading UI song data from SD card");
    if (!localUISongDataValid(buffers.songData.data()))
        addNote(song.archive, song.n, -1, songName(cardSong) + ": its song data",
                songDataFault(buffers.songData.data()));

    localPutWord64(song.header, kSongHeaderUISongOffset, uint64_t(kBlockUISongData));
    localPutWord32(song.header, kSongHeaderUISongSize, uint32_t(kUISongDataSize));
    return mlsdSendUISongDataToArchive(song.archive, song.n, buffers.songData.data()) != 0 ? 1 : 0;
}

// The part records, into the thread's part buffers too: the audio copy reads their in-use flags.
int archivePartData(SdCardHandle *card, const ArchiveSongBlock &song, int cardSong)
{
    auto &buffers = detail::recordBuffers();
    localPutWord64(song.header, kSongHeaderUIPartOffset, uint64_t(kBlockUIPartData));
    localPutWord32(song.header, kSongHeaderUIPartSize, uint32_t(kUIPartDataSize));
    localPutWord32(song.header, kSongHeaderUIPartTotal, uint32_t(kPartCount * kUIPartDataSize));
    for (int part = 0; part < kPartCount; ++part) {
        uint8_t *partData = detail::partSlot(buffers, part);
        if (mlsdGetUIPartDataFromSDCard(card->file.get(), &card->memoryMap, cardSong, part, partData) != 0)
            return fail(kArchiveSong, "Error reading UI part data from SD card");
        if (!localUIPartDataValid(partData))
            addNote(song.archive, song.n, part,
                    songName(cardSong) + ", part " + std::to_string(part + 1) + ": its part data",
                    partDataFault(partData));
        if (mlsdSendUIPartDataToArchive(song.archive, song.n, part, partData) != 0)
            return fail(kArchiveSong, "Error writing UI part data to Archive");
    }
    return 0;
}

int archiveLooperRecords(MemoryManager *manager, const ArchiveSongBlock &song, int cardSong)
{
    const size_t recordSize = manager->recordBuffer.size();
    localPutWord64(song.header, kSongHeaderLooperOffset, uint64_t(kBlockLooperData));
    for (int part = 0; part < kPartCount; ++part) {
        if (lmmLoadLooperPartData(manager, cardSong, part) != 0)
            return fail(kArchiveSong, "Error reading Looper part data from SD card");
        const int64_t position = song.start + kBlockLooperData + int64_t(part) * int64_t(recordSize);
        if (!writeAt(song.archive->file.get(), position, manager->recordBuffer.data(), recordSize))
            return fail(kArchiveSong, "Error writing looper part data to archive");
    }
    localPutWord32(song.header, kSongHeaderLooperSize, uint32_t(recordSize));
    localPutWord32(song.header, kSongHeaderLooperTotal, uint32_t(kPartCount * recordSize));
    return 0;
}

// Each part's audio, one after the other from kBlockAudio on; `blockSize` gets where the last ends.
int archiveAudio(SdCardHandle *card, const ArchiveSongBlock &song, int cardSong,
                 const ProgressCallback *progress, int64_t *blockSize)
{
    auto &buffers = detail::recordBuffers();
    Stream *cardFile = card->file.get();
    const auto &slots = card->memoryManager->partTable[size_t(cardSong)];
    int64_t total = 0;
    for (int part = 0; part < kPartCount; ++part)
        total += audioBytes(detail::partSlot(buffers, part), slots[size_t(part)]);

    ProgressCounter counter(progress, total);
    int64_t position = kBlockAudio;
    for (int part = 0; part < kPartCount; ++part) {
        const int64_t audioOffset = position;
        localPutWord64(song.header, kSongHeaderAudioOffsets + 8 * size_t(part), uint64_t(audioOffset));
        const PartSlot &slot = slots[size_t(part)];
        const int64_t bytes = audioBytes(detail::partSlot(buffers, part), slot);
        if (bytes > 0) {
            const int64_t from = int64_t(slot.firstAudioSector) * kSectorSize;
            if (!cardFile->seek(from))
                return fail(kArchiveSong, "Error reading looper audio from SD card");
            if (!song.archive->file->seek(song.start + position))
                return fail(kArchiveSong, "Error writing looper audio to archive");
            if (copyAudio(cardFile, from, song.archive->file.get(), bytes, counter, kArchiveSong,
                          "Error reading looper audio from SD card",
                          "Error writing looper audio to archive") != 0)
                return 1;
            position += bytes;
        }
        localPutWord32(song.header, kSongHeaderAudioSizes + 4 * size_t(part),
                       uint32_t(position - audioOffset));
    }
    *blockSize = position;
    return 0;
}

int archiveSongRecords(SdCardHandle *card, ArchiveHandle *archive, int cardSong, int n,
                       const ProgressCallback *progress)
{
    const ArchiveSongBlock song{
        archive, n,
        int64_t(localGetWord64(archive->header.data(), kArchiveSongOffsetsOffset + 8 * size_t(n))),
        archive->songHeaders[size_t(n)].data()};
    int64_t blockSize = 0;
    if (archiveSongData(card, song, cardSong) != 0 || archivePartData(card, song, cardSong) != 0 ||
        archiveLooperRecords(card->memoryManager, song, cardSong) != 0 ||
        archiveAudio(card, song, cardSong, progress, &blockSize) != 0)
        return 1;

    // The next song's block starts where this one ends.
    localPutWord32(song.header, kSongHeaderBlockSize, uint32_t(blockSize));
    localPutWord32(archive->header.data(), kArchiveSongSizesOffset + 4 * size_t(n), uint32_t(blockSize));
    if (n + 1 < kArchiveMaxSongs)
        localPutWord64(archive->header.data(), kArchiveSongOffsetsOffset + 8 * size_t(n + 1),
                       uint64_t(song.start + blockSize));
    return 0;
}

// Reads archive song `song` into the thread's record buffers and checks every record that a
// restore would write, and that the audio it would copy is in the file. Reports under
// mlsdRestoreSong's name, as the restore itself would.
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
    const uint64_t block =
        localGetWord64(archive->header.data(), kArchiveSongOffsetsOffset + 8 * size_t(song));
    const uint64_t looperOffset = localGetWord64(songHeader, kSongHeaderLooperOffset);
    const bool sizeMatches = localGetWord32(songHeader, kSongHeaderLooperSize) == kLooperRecordSize;
    const int64_t fileSize = archive->file->size();
    for (int part = 0; part < kPartCount; ++part) {
        uint8_t *record = looperSlot(buffers, part);
        const uint64_t position = block + looperOffset + uint64_t(part) * kLooperRecordSize;
        if (!sizeMatches || block > uint64_t(kMaxArchiveSize) || looperOffset > uint64_t(kMaxArchiveSize) ||
            position > uint64_t(kMaxArchiveSize) ||
            !readAt(archive->file.get(), int64_t(position), record, kLooperRecordSize))
            return fail(self, "Error reading looper part data from archive");
        if (!partInUse(detail::partSlot(buffers, part)) || !localLooperRecordAccepted(record))
            continue;
        // A recording longer than the audio stored for it would copy bytes that belong to
        // something else onto the card.
        const uint64_t needed = uint64_t(localGetInt32(record, kLooperLengthOffset)) * kAudioChunkSize;
        if (needed > localGetWord32(songHeader, kSongHeaderAudioSizes + 4 * size_t(part)))
            return fail(self, "Error reading looper part data from archive");
        // Audio that is not in the file would stop the restore after the records are written.
        const uint64_t audioOffset = localGetWord64(songHeader, kSongHeaderAudioOffsets + 8 * size_t(part));
        if (fileSize < 0 || audioOffset > uint64_t(kMaxArchiveSize) ||
            block + audioOffset + needed > uint64_t(fileSize))
            return fail(self, "Error reading looper audio from archive");
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
    int64_t total = 0;
    for (int part = 0; part < kPartCount; ++part)
        total += audioBytes(detail::partSlot(buffers, part), slots[size_t(part)]);

    const uint64_t block =
        localGetWord64(archive->header.data(), kArchiveSongOffsetsOffset + 8 * size_t(song));
    ProgressCounter counter(progress, total);
    for (int part = 0; part < kPartCount; ++part) {
        const PartSlot &slot = slots[size_t(part)];
        const int64_t bytes = audioBytes(detail::partSlot(buffers, part), slot);
        if (bytes == 0)
            continue;
        const uint64_t audioOffset = localGetWord64(songHeader, kSongHeaderAudioOffsets + 8 * size_t(part));
        if (block > uint64_t(kMaxArchiveSize) || audioOffset > uint64_t(kMaxArchiveSize) ||
            block + audioOffset + uint64_t(bytes) > uint64_t(kMaxArchiveSize) ||
            !archive->file->seek(int64_t(block + audioOffset)))
            return fail(self, "Error reading looper audio from archive");
        if (!cardFile->seek(int64_t(slot.firstAudioSector) * kSectorSize))
            return fail(self, "Error writing looper audio to SD card");
        if (copyAudio(archive->file.get(), int64_t(block + audioOffset), cardFile, bytes, counter, self,
                      "Error reading looper audio from archive",
                      "Error writing looper audio to SD card") != 0)
            return 1;
    }
    if (!cardFile->commit())
        return fail(self, "Error writing looper audio to SD card");
    return 0;
}

} // namespace

int mlsdArchiveSong(SdCardHandle *card, ArchiveHandle *archive, int cardSong,
                    const ProgressCallback *progress)
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
    const size_t notes = archive->notes.size();
    if (archiveSongRecords(card, archive, cardSong, n, progress) != 0) {
        // The song is not in the archive, so neither are notes about it.
        archive->notes.resize(notes);
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
    const int readResult =
        mlsdGetUserPrefsFromSDCard(card->file.get(), &card->memoryMap, buffers.userPrefs.data());
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
    // Prefs that fail validation are carried as the pedal wrote them (and noted), but a prefs
    // block that could not be read from the card or written to the archive would make a card
    // archive that claims prefs it does not hold: that is a failed archive, not a finished one.
    auto &buffers = detail::recordBuffers();
    const int64_t prefsPosition = int64_t(card->memoryMap.words[MapUserPrefsSector]) * kSectorSize;
    if (!readAt(card->file.get(), prefsPosition, buffers.userPrefs.data(), kUserPrefsSize))
        return fail("mlsdArchiveSDCard", "Error reading user prefs from SD card.");
    if (mlsdSendUserPrefsToArchive(archive, buffers.userPrefs.data()) != 0)
        return 1;
    localPutWord32(archive->header.data(), kArchivePrefsPresentOffset, 1);
    if (!localUserPrefsValid(buffers.userPrefs.data()))
        addNote(archive, -1, -1, "the user prefs", userPrefsFault(buffers.userPrefs.data()));
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

int mlsdCheckRestore(ArchiveHandle *archive, int archiveSong)
{
    if (!archive || !archive->file)
        return fail("mlsdCheckRestore", "Error reading archive header.");
    if (archiveSong >= 0)
        return loadArchiveSong(archive, archiveSong);
    if (mlsdGetUserPrefsFromArchive(archive, detail::recordBuffers().userPrefs.data()) != 0)
        return 1;
    for (int song = 0; song < mlsdArchiveSongCount(archive); ++song) {
        if (loadArchiveSong(archive, song) != 0)
            return 1;
    }
    return 0;
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
    if (mlsdCheckRestore(archive, -1) != 0)
        return 1;
    const int32_t songs = mlsdArchiveSongCount(archive);

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
