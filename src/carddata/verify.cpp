// The record checks behind `morv-card verify` and the window's Verify command. Each rule of
// the layout is checked on its own so that a problem can be named; the library's validity
// functions stay the single authority on what a restore accepts, and a record they refuse
// is always reported even when no single rule below names why.
#include "verify.h"

#include "internal.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

using namespace carddata;

namespace {

std::string grouped(int64_t value)
{
    // The magnitude is taken unsigned: a position read from a hostile file may be INT64_MIN.
    const uint64_t magnitude = value < 0 ? 0 - uint64_t(value) : uint64_t(value);
    std::string digits = std::to_string(magnitude);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return value < 0 ? "-" + out : out;
}

std::string format(const char *pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *pattern, ...)
{
    char text[256];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

std::string at(const std::string &what, int64_t position)
{
    return what + " (byte " + grouped(position) + ")";
}

std::string songWhere(int song)
{
    return "song " + std::to_string(song + 1);
}

std::string partWhere(int song, int part)
{
    return songWhere(song) + ", part " + std::to_string(part + 1);
}

class Checker
{
public:
    Checker(Stream *file, VerifyReport *report) : m_file(file), m_report(report), m_size(file->size()) {}

    int64_t size() const { return m_size; }

    void problem(const std::string &where, const std::string &what) { m_report->problems.push_back({where, what}); }

    bool read(int64_t position, void *buffer, size_t bytes, const std::string &where)
    {
        if (position < 0 || (m_size >= 0 && (position > m_size || int64_t(bytes) > m_size - position))) {
            problem(where, "lies outside the file (" + grouped(m_size) + " bytes)");
            return false;
        }
        if (!detail::readAt(m_file, position, buffer, bytes)) {
            problem(where, "cannot be read");
            return false;
        }
        return true;
    }

    void range(const std::string &where, const char *field, int32_t value, int32_t low, int32_t high)
    {
        if (value < low || value > high)
            problem(where, format("%s is %d, outside %d to %d", field, value, low, high));
    }

    void songData(const uint8_t *record, const std::string &where)
    {
        const size_t before = m_report->problems.size();
        range(where, "first value", localGetInt32(record, kSongFirstValueOffset), 0, 4);
        const int32_t count = localGetInt32(record, kSongSequenceCountOffset);
        range(where, "sequence count", count, 0, 99);
        for (int32_t i = 0; count <= 99 && i < count; ++i) {
            const int32_t entry = localGetInt32(record, kSongSequenceOffset + 4 * size_t(i));
            if (entry < 0 || entry > 4)
                problem(where, format("sequence entry %d is %d, outside 0 to 4", i + 1, entry));
        }
        range(where, "third value", localGetInt32(record, kSongThirdValueOffset), -1, 11);
        range(where, "fourth value", localGetInt32(record, kSongFourthValueOffset), 0, 2);
        if (!localUISongDataValid(record) && m_report->problems.size() == before)
            problem(where, "is not a valid song record");
    }

    void partData(const uint8_t *record, const std::string &where)
    {
        const size_t before = m_report->problems.size();
        const int32_t inUse = localGetInt32(record, kPartInUseOffset);
        range(where, "in-use flag", inUse, 0, 1);
        range(where, "genre", localGetInt32(record, kPartGenreOffset), 0, 11);
        if (inUse == 1) {
            const bool looper = localGetInt32(record, kPartLooperFlagOffset) != 0;
            static const char *const names[4] = {"bank 1, 4/4", "bank 1, 3/4", "bank 2, 4/4", "bank 2, 3/4"};
            for (int r = 0; r < 4; ++r) {
                const size_t offset = kPartLoopRecordsOffset + 4 * kLoopRecordWords * size_t(r);
                const std::string field = std::string("loop record (") + names[r] + ") ";
                if (!looper)
                    range(where, (field + "bars").c_str(), localGetInt32(record, offset), 1, 96);
                range(where, (field + "beats per bar").c_str(), localGetInt32(record, offset + 4), 1, 8);
                range(where, (field + "word 197").c_str(), localGetInt32(record, offset + 4 * 197), 1, 256);
            }
            range(where, "bank-swap flag (4/4)", localGetInt32(record, kPartBankSwapOffset), 0, 1);
            range(where, "bank-swap flag (3/4)", localGetInt32(record, kPartBankSwapOffset + 4), 0, 1);
            if (!looper) {
                for (int i = 0; i < kPartStyleTableWords; ++i)
                    range(where, format("style table entry %d", i + 1).c_str(),
                          localGetInt32(record, kPartStyleTableOffset + 4 * size_t(i)), 0, 11);
            }
            range(where, "time slot", localGetInt32(record, kPartTimeSlotOffset), 0, 1);
            range(where, "alternate time", localGetInt32(record, kPartAltTimeOffset), 0, 1);
            range(where, "flag word 4062", localGetInt32(record, kPartFlagOffset), 0, 1);
        }
        if (!localUIPartDataValid(record) && m_report->problems.size() == before)
            problem(where, "is not a valid part record");
    }

    // Returns the recording's length in chunks when the record holds one that may be trusted.
    int32_t looperRecord(const uint8_t *record, const std::string &where)
    {
        const int32_t state = localGetInt32(record, kLooperStateOffset);
        const int32_t length = localGetInt32(record, kLooperLengthOffset);
        if (state != 0 && state != 1) {
            problem(where, format("state is %d, neither 0 (recording) nor 1 (empty)", state));
            return 0;
        }
        // The checksum is kept only for recordings, and a length of 0 is an empty part by
        // definition; either may carry any checksum.
        if (state != 0 || length == 0)
            return localLooperRecordAccepted(record) ? length : 0;
        if (length < 1 || length > kMaxLooperChunks) {
            problem(where, "length is " + grouped(length) + " chunks, outside 1 to " + grouped(kMaxLooperChunks));
            return 0;
        }
        const uint32_t stored = localGetWord32(record, kLooperChecksumOffset);
        const uint32_t computed = localLooperChecksum(record);
        if (stored != computed) {
            problem(where, format("checksum 0x%08" PRIx32 " does not match the recording (0x%08" PRIx32 ")", stored,
                                  computed));
            return 0;
        }
        return length;
    }

private:
    Stream *m_file;
    VerifyReport *m_report;
    int64_t m_size;
};

void verifyCard(Checker &check)
{
    CardMemoryMap map;
    localGetMemoryMap(0, &map);
    if (check.size() != kCardFileSize)
        check.problem("card data file",
                      "is " + grouped(check.size()) + " bytes long, expected " + grouped(kCardFileSize));

    std::vector<uint8_t> buffer(kUIPartDataSize);
    const int64_t prefsAt = int64_t(map.words[MapUserPrefsSector]) * kSectorSize;
    if (check.read(prefsAt, buffer.data(), kUserPrefsSize, at("user prefs", prefsAt))) {
        const std::string where = at("user prefs", prefsAt);
        check.range(where, "word 1", localGetInt32(buffer.data(), 4), 0, 2);
        check.range(where, "word 3", localGetInt32(buffer.data(), 12), 0, 1);
        check.range(where, "word 4", localGetInt32(buffer.data(), 16), 0, 11);
    }

    for (int song = 0; song < kSongCount; ++song) {
        const int64_t songAt = mlsdSongDataPosition(&map, song);
        const std::string songName = at(songWhere(song) + " UI song data", songAt);
        if (check.read(songAt, buffer.data(), kUISongDataSize, songName))
            check.songData(buffer.data(), songName);
        for (int part = 0; part < kPartCount; ++part) {
            const int64_t partAt = mlsdPartDataPosition(&map, song, part);
            const std::string partName = at(partWhere(song, part) + " UI part data", partAt);
            if (check.read(partAt, buffer.data(), kUIPartDataSize, partName))
                check.partData(buffer.data(), partName);
            const int64_t looperAt = mlsdLooperDataPosition(&map, song, part);
            const std::string looperName = at(partWhere(song, part) + " looper record", looperAt);
            if (!check.read(looperAt, buffer.data(), kLooperRecordSize, looperName))
                continue;
            const int32_t length = check.looperRecord(buffer.data(), looperName);
            const int64_t audioAt = mlsdAudioPosition(&map, song, part);
            const int64_t audioEnd = audioAt + int64_t(length) * kAudioChunkSize;
            if (length > 0 && check.size() >= 0 && audioEnd > check.size())
                check.problem(at(partWhere(song, part) + " looper audio", audioAt),
                              "ends at byte " + grouped(audioEnd) + ", beyond the end of the file");
        }
    }
}

// The archive header's own fields, and the kind of file they make it. Returns the number of
// songs to check, or -1 when no archive could hold that many.
int32_t verifyArchiveHeader(Checker &check, const uint8_t *header, VerifyReport *report)
{
    const std::string headerName = at("archive header", 0);
    if (localGetWord32(header, kArchiveVersionOffset) != 0)
        check.problem(headerName, format("memory-map version is %" PRIu32 ", expected 0",
                                         localGetWord32(header, kArchiveVersionOffset)));
    const int32_t songs = localGetInt32(header, kArchiveSongCountOffset);
    const uint32_t prefsPresent = localGetWord32(header, kArchivePrefsPresentOffset);
    if (prefsPresent > 1)
        check.problem(headerName, format("user prefs flag is %" PRIu32 ", neither 0 nor 1", prefsPresent));
    report->kind = songs == kSongCount && prefsPresent ? VerifyKind::CardArchive
                   : songs == 1 && !prefsPresent      ? VerifyKind::SongFile
                                                      : VerifyKind::Archive;
    if (songs < 0 || songs > kArchiveMaxSongs) {
        check.problem(headerName, format("number of songs is %d, outside 0 to 12", songs));
        return -1;
    }
    return songs;
}

void verifyArchivePrefs(Checker &check, const uint8_t *header, std::vector<uint8_t> &buffer)
{
    if (!localGetWord32(header, kArchivePrefsPresentOffset))
        return;
    const uint32_t offset = localGetWord32(header, kArchivePrefsOffsetOffset);
    const uint32_t size = localGetWord32(header, kArchivePrefsSizeOffset);
    const std::string where = at("user prefs", offset);
    if (size != kUserPrefsSize)
        check.problem(where, "size is " + grouped(size) + " bytes, expected 512");
    else if (check.read(offset, buffer.data(), kUserPrefsSize, where) && !localUserPrefsValid(buffer.data()))
        check.problem(where, "are not valid user prefs");
}

// One song's block of an archive, its header read from the file.
struct SongBlock
{
    int song;
    uint64_t start;
    uint8_t header[kArchiveSongHeaderSize];

    uint32_t word(size_t offset) const { return localGetWord32(header, offset); }
    uint64_t field(size_t offset) const { return localGetWord64(header, offset); }
    // Where a record the song header places lies in the file; -1 where no archive could hold it.
    int64_t position(uint64_t offset) const
    {
        return offset > uint64_t(kMaxArchiveSize) ? -1 : int64_t(start + offset);
    }
};

// The record sizes the song header gives, which place every record after it; false when one is
// wrong, and the song's records are then not looked for.
bool verifySongHeaderSizes(Checker &check, const uint8_t *header, const SongBlock &song,
                           const std::string &where)
{
    struct Expected
    {
        size_t offset;
        uint32_t value;
        const char *name;
    };
    const Expected sizes[] = {
        {kSongHeaderUISongSize, uint32_t(kUISongDataSize), "UI song data size"},
        {kSongHeaderUIPartSize, uint32_t(kUIPartDataSize), "UI part data size"},
        {kSongHeaderUIPartTotal, uint32_t(kPartCount * kUIPartDataSize), "UI part data total"},
        {kSongHeaderLooperSize, uint32_t(kLooperRecordSize), "looper record size"},
        {kSongHeaderLooperTotal, uint32_t(kPartCount * kLooperRecordSize), "looper records total"},
    };
    bool sizesOk = true;
    for (const Expected &e : sizes) {
        if (song.word(e.offset) != e.value) {
            check.problem(where, std::string(e.name) + " is " + grouped(song.word(e.offset)) + ", expected " +
                                     grouped(e.value));
            sizesOk = false;
        }
    }
    const uint32_t blockSize = localGetWord32(header, kArchiveSongSizesOffset + 4 * size_t(song.song));
    if (song.word(kSongHeaderBlockSize) != blockSize)
        check.problem(where, "block size " + grouped(song.word(kSongHeaderBlockSize)) +
                                 " differs from the archive header's " + grouped(blockSize));
    return sizesOk;
}

// A part's looper record, and that the audio stored for it holds the recording and lies in the file.
void verifyArchiveLooper(Checker &check, const SongBlock &song, int part, bool inUse,
                         std::vector<uint8_t> &buffer)
{
    const int64_t base = song.position(song.field(kSongHeaderLooperOffset));
    const int64_t looperAt = base < 0 ? -1 : base + int64_t(part) * int64_t(kLooperRecordSize);
    const std::string looperName = at(partWhere(song.song, part) + " looper record", looperAt);
    if (!check.read(looperAt, buffer.data(), kLooperRecordSize, looperName))
        return;
    const int32_t length = check.looperRecord(buffer.data(), looperName);
    const uint64_t needed = inUse ? uint64_t(length) * kAudioChunkSize : 0;
    const uint32_t stored = song.word(kSongHeaderAudioSizes + 4 * size_t(part));
    const int64_t audioAt = song.position(song.field(kSongHeaderAudioOffsets + 8 * size_t(part)));
    const std::string audioName = at(partWhere(song.song, part) + " looper audio", audioAt);
    if (stored < needed)
        check.problem(audioName,
                      "holds " + grouped(stored) + " bytes, the recording needs " + grouped(int64_t(needed)));
    if (stored > 0 && audioAt < 0) {
        check.problem(audioName, "lies outside the file");
    } else if (stored > 0 && check.size() >= 0 && audioAt + int64_t(stored) > check.size()) {
        // What a file cut short lacks, not the size of the whole run it cuts into.
        const int64_t missing = std::min<int64_t>(stored, audioAt + int64_t(stored) - check.size());
        check.problem(audioName, grouped(missing) + " of its " + grouped(stored) +
                                     " bytes missing at the end of the file");
    }
}

void verifyArchiveSong(Checker &check, const uint8_t *header, int songIndex, std::vector<uint8_t> &buffer)
{
    SongBlock song{songIndex, localGetWord64(header, kArchiveSongOffsetsOffset + 8 * size_t(songIndex)), {}};
    const std::string headerWhere = at(songWhere(songIndex) + " header", int64_t(song.start));
    if (song.start > uint64_t(kMaxArchiveSize) ||
        !check.read(int64_t(song.start), song.header, sizeof song.header, headerWhere)) {
        if (song.start > uint64_t(kMaxArchiveSize))
            check.problem(headerWhere, "lies outside the file");
        return;
    }
    if (!verifySongHeaderSizes(check, header, song, headerWhere))
        return;

    const int64_t songAt = song.position(song.field(kSongHeaderUISongOffset));
    const std::string songName = at(songWhere(songIndex) + " UI song data", songAt);
    if (check.read(songAt, buffer.data(), kUISongDataSize, songName))
        check.songData(buffer.data(), songName);

    // The audio a part needs is its recording's only when the part is in use.
    bool inUse[kPartCount] = {};
    for (int part = 0; part < kPartCount; ++part) {
        const int64_t base = song.position(song.field(kSongHeaderUIPartOffset));
        const int64_t partAt = base < 0 ? -1 : base + int64_t(part) * int64_t(kUIPartDataSize);
        const std::string partName = at(partWhere(songIndex, part) + " UI part data", partAt);
        if (check.read(partAt, buffer.data(), kUIPartDataSize, partName)) {
            check.partData(buffer.data(), partName);
            inUse[part] = localGetWord32(buffer.data(), kPartInUseOffset) != 0;
        }
    }
    for (int part = 0; part < kPartCount; ++part)
        verifyArchiveLooper(check, song, part, inUse[part], buffer);
}

void verifyArchive(Checker &check, const uint8_t *header, VerifyReport *report)
{
    const int32_t songs = verifyArchiveHeader(check, header, report);
    if (songs < 0)
        return;
    std::vector<uint8_t> buffer(kUIPartDataSize);
    verifyArchivePrefs(check, header, buffer);
    for (int song = 0; song < songs; ++song)
        verifyArchiveSong(check, header, song, buffer);
}

} // namespace

int mlsdVerifyFile(const char *path, VerifyReport *report)
{
    static constexpr const char *self = "mlsdVerifyFile";
    if (!report)
        return detail::fail(self, "No report given.");
    *report = VerifyReport();
    std::unique_ptr<Stream> file = path ? streamOpen(path, OpenMode::Read) : nullptr;
    if (!file)
        return detail::fail(self, "Error opening file.");
    Checker check(file.get(), report);
    uint8_t header[kCardHeaderSize] = {};
    const size_t got = file->seek(0) ? file->read(header, sizeof header) : 0;
    if (got >= 4 && std::memcmp(header, "MLSD", 4) == 0) {
        report->kind = VerifyKind::Card;
        verifyCard(check);
    } else if (got >= kArchiveHeaderSize && std::memcmp(header, "MLFA", 4) == 0) {
        verifyArchive(check, header, report);
    } else {
        file->close();
        return detail::fail(self, "The file is neither a card data file nor an archive.");
    }
    file->close();
    return 0;
}
