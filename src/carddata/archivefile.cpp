// Archive files (".mlad" card archives and ".mlsd" song files): header, song headers and the
// records inside song blocks. Every size and offset read from a file is checked here before
// it positions a read or a write.
#include "internal.h"

#include <algorithm>
#include <cstring>
#include <new>

using namespace carddata;
using carddata::detail::fail;
using carddata::detail::readAt;
using carddata::detail::writeAt;

namespace {

// A position read from a file, or computed from values read from a file, that no archive of
// ours can hold is treated like a position outside the file.
bool plausible(uint64_t position, uint64_t size)
{
    return position <= uint64_t(kMaxArchiveSize) && size <= uint64_t(kMaxArchiveSize) - position;
}

uint64_t songBlockOffset(const uint8_t *header, int song)
{
    return localGetWord64(header, kArchiveSongOffsetsOffset + 8 * size_t(song));
}

bool songInArchive(const ArchiveHandle *handle, int song)
{
    return song >= 0 && song < mlsdArchiveSongCount(handle);
}

// Position of a record described by a song header, or -1 when the stored size is not the one
// the caller's buffer holds or the position is not plausible.
int64_t recordPosition(const ArchiveHandle *handle, int song, size_t offsetField, size_t sizeField,
                       size_t expectedSize, int index)
{
    const uint8_t *songHeader = handle->songHeaders[size_t(song)].data();
    if (localGetWord32(songHeader, sizeField) != expectedSize)
        return -1;
    const uint64_t block = songBlockOffset(handle->header.data(), song);
    const uint64_t offset = localGetWord64(songHeader, offsetField);
    if (!plausible(block, 0) || !plausible(offset, 0))
        return -1;
    const uint64_t position = block + offset + uint64_t(index) * expectedSize;
    return plausible(position, expectedSize) ? int64_t(position) : -1;
}

// The bytes of the path. U+DC80 to U+DCFF, never characters, stand for bytes of a file name that
// are not UTF-8 (as Python's "surrogateescape" has them): each goes back as its byte.
std::string utf8FromWide(const wchar_t *path)
{
    std::string out;
    for (; *path; ++path) {
        uint32_t c = uint32_t(*path);
        if (c >= 0xDC80 && c <= 0xDCFF) {
            out += char(c & 0xFF);
            continue;
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

} // namespace

int32_t mlsdArchiveSongCount(const ArchiveHandle *handle)
{
    return handle ? localGetInt32(handle->header.data(), kArchiveSongCountOffset) : 0;
}

bool mlsdArchiveHasUserPrefs(const ArchiveHandle *handle)
{
    return handle && localGetWord32(handle->header.data(), kArchivePrefsPresentOffset) != 0;
}

int64_t mlsdArchiveBytesMissing(const ArchiveHandle *handle)
{
    const int64_t size = handle && handle->file ? handle->file->size() : -1;
    if (size < 0)
        return -1;
    int64_t missing = 0;
    for (int song = 0; song < mlsdArchiveSongCount(handle) && song < kArchiveMaxSongs; ++song) {
        const uint8_t *songHeader = handle->songHeaders[size_t(song)].data();
        const uint64_t block = songBlockOffset(handle->header.data(), song);
        for (int part = 0; part < kPartCount; ++part) {
            const uint32_t stored = localGetWord32(songHeader, kSongHeaderAudioSizes + 4 * size_t(part));
            const uint64_t offset = localGetWord64(songHeader, kSongHeaderAudioOffsets + 8 * size_t(part));
            if (stored == 0)
                continue;
            // A run no archive of ours can hold is missing as a whole.
            if (!plausible(block, 0) || !plausible(offset, 0) || !plausible(block + offset, stored)) {
                missing = std::max<int64_t>(missing, stored);
                continue;
            }
            missing = std::max<int64_t>(missing, int64_t(block + offset + stored) - size);
        }
    }
    return missing;
}

void localInitArchiveHeader(ArchiveHandle *handle)
{
    uint8_t *header = handle->header.data();
    std::memset(header, 0, kArchiveHeaderSize);
    std::memcpy(header, "MLFA", 4);
    localPutWord32(header, kArchivePrefsOffsetOffset, uint32_t(kArchiveHeaderSize));
    localPutWord32(header, kArchivePrefsSizeOffset, uint32_t(kUserPrefsSize));
    localPutWord64(header, kArchiveSongOffsetsOffset, kArchiveHeaderSize + kUserPrefsSize);
    for (auto &songHeader : handle->songHeaders)
        songHeader.fill(0);
}

int localReadArchiveHeader(Stream *file, uint8_t *header)
{
    static constexpr const char *self = "localReadArchiveHeader";
    if (!file)
        return fail(self, "file handle cannot be NULL.");
    if (!readAt(file, 0, header, kArchiveHeaderSize))
        return fail(self, "Error reading archive header.");
    if (std::memcmp(header, "MLFA", 4) != 0)
        return fail(self, "Archive header does not have the correct ID.");
    if (localGetWord32(header, kArchiveVersionOffset) != 0)
        return fail(self, "Currently only support latest memory map version.");
    const int32_t songs = localGetInt32(header, kArchiveSongCountOffset);
    if (songs < 0 || songs > kArchiveMaxSongs)
        return fail(self, "Number of songs is out of range in archive header.");
    return 0;
}

int localWriteArchiveHeader(Stream *file, const uint8_t *header)
{
    static constexpr const char *self = "localWriteArchiveHeader";
    if (!file)
        return fail(self, "file handle cannot be NULL.");
    if (std::memcmp(header, "MLFA", 4) != 0)
        return fail(self, "Archive header does not have the correct ID.");
    if (!writeAt(file, 0, header, kArchiveHeaderSize))
        return fail(self, "Error writing archive header.");
    return 0;
}

int localReadArchiveSongHeader(Stream *file, const uint8_t *header, uint8_t *songHeader, int song)
{
    static constexpr const char *self = "localReadArchiveSongHeader";
    if (!file)
        return fail(self, "file handle cannot be NULL.");
    if (song < 0 || song >= kArchiveMaxSongs)
        return fail(self, "Song number out of range.");
    const uint64_t offset = songBlockOffset(header, song);
    if (!plausible(offset, kArchiveSongHeaderSize) ||
        !readAt(file, int64_t(offset), songHeader, kArchiveSongHeaderSize))
        return fail(self, "Error reading archive song header.");
    return 0;
}

int localWriteArchiveSongHeader(Stream *file, const uint8_t *header, const uint8_t *songHeader, int song)
{
    static constexpr const char *self = "localWriteArchiveSongHeader";
    if (!file)
        return fail(self, "file handle cannot be NULL.");
    if (song < 0 || song >= kArchiveMaxSongs)
        return fail(self, "Song number out of range.");
    const uint64_t offset = songBlockOffset(header, song);
    if (!plausible(offset, kArchiveSongHeaderSize) ||
        !writeAt(file, int64_t(offset), songHeader, kArchiveSongHeaderSize))
        return fail(self, "Error writing archive song header.");
    return 0;
}

ArchiveHandle *localOpenArchive(std::unique_ptr<Stream> file, int writable, int create)
{
    static constexpr const char *self = "localOpenArchive";
    std::unique_ptr<ArchiveHandle> handle(new (std::nothrow) ArchiveHandle);
    if (!handle) {
        if (file)
            file->close();
        fail(self, "Error allocating memory for archive structure.");
        return nullptr;
    }
    handle->file = std::move(file);
    handle->writable = writable ? 1 : 0;
    if (writable && create) {
        localInitArchiveHeader(handle.get());
        return handle.release();
    }

    bool failed = localReadArchiveHeader(handle->file.get(), handle->header.data()) != 0;
    if (!failed) {
        for (int song = 0; song < mlsdArchiveSongCount(handle.get()); ++song) {
            if (localReadArchiveSongHeader(handle->file.get(), handle->header.data(),
                                           handle->songHeaders[size_t(song)].data(), song) != 0)
                failed = true;
        }
    }
    if (failed) {
        fail(self, "Error reading archive header.");
        if (handle->file)
            handle->file->close();
        return nullptr;
    }
    return handle.release();
}

ArchiveHandle *mlsdOpenArchiveW(const wchar_t *path, int writable, int create)
{
    const OpenMode mode = !writable ? OpenMode::Read : create ? OpenMode::Create : OpenMode::Update;
    std::unique_ptr<Stream> file = path ? streamOpen(utf8FromWide(path), mode) : nullptr;
    if (!file) {
        fail("mlsdOpenArchiveW", "Error opening file.");
        return nullptr;
    }
    return localOpenArchive(std::move(file), writable, create);
}

int mlsdCloseArchive(ArchiveHandle *handle)
{
    if (!handle)
        return 0;
    std::unique_ptr<ArchiveHandle> owned(handle);
    int result = 0;
    if (handle->writable && handle->file) {
        if (localWriteArchiveHeader(handle->file.get(), handle->header.data()) != 0)
            result = 1;
        for (int song = 0; song < mlsdArchiveSongCount(handle) && song < kArchiveMaxSongs; ++song) {
            if (localWriteArchiveSongHeader(handle->file.get(), handle->header.data(),
                                            handle->songHeaders[size_t(song)].data(), song) != 0)
                result = 1;
        }
        if (!handle->file->commit() && result == 0)
            result = fail("mlsdCloseArchive", "Error committing archive file.");
    }
    if (handle->file && !handle->file->close() && result == 0)
        result = fail("mlsdCloseArchive", "Error closing archive file.");
    return result;
}

int mlsdGetUserPrefsFromArchive(ArchiveHandle *handle, uint8_t *buffer)
{
    static constexpr const char *self = "mlsdGetUserPrefsFromArchive";
    if (!handle)
        return fail(self, "Error reading userPrefs from archive.");
    const uint32_t offset = localGetWord32(handle->header.data(), kArchivePrefsOffsetOffset);
    const uint32_t size = localGetWord32(handle->header.data(), kArchivePrefsSizeOffset);
    if (size != kUserPrefsSize || !readAt(handle->file.get(), offset, buffer, kUserPrefsSize))
        return fail(self, "Error reading userPrefs from archive.");
    if (!localUserPrefsValid(buffer))
        return fail(self, "userPrefs read from archive are invalid.");
    return 0;
}

int mlsdSendUserPrefsToArchive(ArchiveHandle *handle, const uint8_t *buffer)
{
    static constexpr const char *self = "mlsdSendUserPrefsToArchive";
    if (!handle)
        return fail(self, "Error writing userPrefs to archive.");
    const uint32_t offset = localGetWord32(handle->header.data(), kArchivePrefsOffsetOffset);
    const uint32_t size = localGetWord32(handle->header.data(), kArchivePrefsSizeOffset);
    if (size != kUserPrefsSize || !writeAt(handle->file.get(), offset, buffer, kUserPrefsSize))
        return fail(self, "Error writing userPrefs to archive.");
    return 0;
}

int mlsdGetUISongDataFromArchive(ArchiveHandle *handle, int song, uint8_t *buffer)
{
    static constexpr const char *self = "mlsdGetUISongDataFromArchive";
    if (!songInArchive(handle, song))
        return fail(self, "song num out of archive song range - cannot get UI Song Data");
    const int64_t position =
        recordPosition(handle, song, kSongHeaderUISongOffset, kSongHeaderUISongSize, kUISongDataSize, 0);
    if (!readAt(handle->file.get(), position, buffer, kUISongDataSize))
        return fail(self, "Error reading UI song data from archive");
    return 0;
}

int mlsdSendUISongDataToArchive(ArchiveHandle *handle, int song, const uint8_t *buffer)
{
    static constexpr const char *self = "mlsdSendUISongDataToArchive";
    if (!songInArchive(handle, song))
        return fail(self, "iSong is out of range - cannot send");
    const int64_t position =
        recordPosition(handle, song, kSongHeaderUISongOffset, kSongHeaderUISongSize, kUISongDataSize, 0);
    if (!writeAt(handle->file.get(), position, buffer, kUISongDataSize))
        return fail(self, "Error writing UI song data to archive");
    return 0;
}

int mlsdGetUIPartDataFromArchive(ArchiveHandle *handle, int song, int part, uint8_t *buffer)
{
    static constexpr const char *self = "mlsdGetUIPartDataFromArchive";
    if (!songInArchive(handle, song))
        return fail(self, "song num out of archive song range - cannot restore part data for song");
    if (part < 0 || part >= kPartCount)
        return fail(self, "iPart is out of range - cannot send part data");
    const int64_t position =
        recordPosition(handle, song, kSongHeaderUIPartOffset, kSongHeaderUIPartSize, kUIPartDataSize, part);
    if (!readAt(handle->file.get(), position, buffer, kUIPartDataSize))
        return fail(self, "Error reading UI part data from archive");
    return 0;
}

int mlsdSendUIPartDataToArchive(ArchiveHandle *handle, int song, int part, const uint8_t *buffer)
{
    static constexpr const char *self = "mlsdSendUIPartDataToArchive";
    if (!songInArchive(handle, song))
        return fail(self, "iSong is out of range - cannot send part data");
    if (part < 0 || part >= kPartCount)
        return fail(self, "iPart is out of range - cannot send part data");
    const int64_t position =
        recordPosition(handle, song, kSongHeaderUIPartOffset, kSongHeaderUIPartSize, kUIPartDataSize, part);
    if (!writeAt(handle->file.get(), position, buffer, kUIPartDataSize))
        return fail(self, "Error writing UI part data to archive");
    return 0;
}
