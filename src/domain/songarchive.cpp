// SongArchive: archive files as the transfer worker, the library models and the dialogs use them.
#include "domain/songarchive.h"

#include "domain/sdcard.h"

#include <QDebug>

#include <algorithm>
#include <cerrno>

namespace ZovaZode {

namespace {

const char kArchiveClosed[] = "Archive is closed.";
const char kCardNotOpen[] = "Card is not open.";
// The library trusts card song numbers; a wrong one would reach another song's records.
const char kCardSongOutOfRange[] = "Card song number out of range.";

SongArchive::Error libraryError(const char *prefix)
{
    return SongArchive::Error(std::string(prefix) + mlsdGetErrorString());
}

bool validCardSong(int song)
{
    return song >= 0 && song < carddata::kSongCount;
}

struct CardProgressContext
{
    const SongArchive::CardProgress *progress;
    std::exception_ptr *failure;
};

// The path in wide characters. A lone surrogate stays as it is, where toStdWString() would make it
// U+FFFD: U+DC80 to U+DCFF stand for bytes of a file name that are not UTF-8, and the archive
// library turns them back into those bytes.
std::wstring widePath(const QString &path)
{
    std::wstring wide;
    for (int i = 0; i < path.size(); ++i) {
        const QChar c = path.at(i);
        if (c.isHighSurrogate() && i + 1 < path.size() && path.at(i + 1).isLowSurrogate())
            wide += wchar_t(QChar::surrogateToUcs4(c, path.at(++i)));
        else
            wide += wchar_t(c.unicode());
    }
    return wide;
}

} // namespace

SongArchive::SongArchive(const QString &path, int writable, int create)
    : m_path(path), m_editing(writable == 1 && create != 1)
{
    const std::wstring wide = widePath(path);
    errno = 0;
    m_handle.reset(mlsdOpenArchiveW(wide.c_str(), writable == 1 ? 1 : 0, create == 1 ? 1 : 0));
    if (!m_handle) {
        // Only the opening of the file itself leaves a reason in errno; later steps are checks.
        const int reason = errno;
        const std::string text = mlsdGetErrorString();
        const bool fromOpen = text.rfind("mlsdOpenArchiveW: ", 0) == 0;
        throw Error("Could not open archive file: " + text, fromOpen ? reason : 0);
    }
}

SongArchive::~SongArchive()
{
    if (!m_handle)
        return;
    try {
        if (mlsdCloseArchive(m_handle.release()) != 0)
            qCritical() << "Archive: Could not close archive file:" << mlsdGetErrorString();
        else
            updateRecord();
    } catch (...) {
    }
}

ArchiveHandle *SongArchive::handle() const
{
    if (!m_handle)
        throw Error(kArchiveClosed);
    return m_handle.get();
}

void SongArchive::close()
{
    ArchiveHandle *archive = handle();
    m_closedNotes = notes();
    // The headers place the records; the verification names a difference by them, and sums the
    // parts they place.
    if (m_digest) {
        m_layout = carddata::WrittenLayout::archive(*archive, m_firstSongShownAs);
        m_parts = parts();
    }
    m_handle.release();
    // The library frees the handle whatever the outcome.
    if (mlsdCloseArchive(archive) != 0)
        throw libraryError("Could not close archive file: ");
    updateRecord();
}

std::vector<carddata::FileSums::Part> SongArchive::parts() const
{
    const uint8_t *header = handle()->header.data();
    std::vector<carddata::FileSums::Part> parts;
    int64_t at = 0;
    for (int song = 0; song < std::clamp(songCount(), 0, carddata::kArchiveMaxSongs); ++song) {
        const int64_t block =
            int64_t(localGetWord64(header, carddata::kArchiveSongOffsetsOffset + 8 * size_t(song)));
        const int64_t size = localGetWord32(header, carddata::kArchiveSongSizesOffset + 4 * size_t(song));
        // Blocks out of order are not ours to divide: what is left is one part.
        if (block < at || block > carddata::kMaxArchiveSize)
            break;
        if (block > at)
            parts.push_back({0, at, block - at, {}});
        const int64_t records = std::min(size, carddata::kBlockAudio);
        parts.push_back({song + 1, block, records, {}});
        if (size > records)
            parts.push_back({song + 1, block + records, size - records, {}});
        at = block + size;
    }
    return parts;
}

void SongArchive::touch(int64_t position)
{
    if (!m_editing)
        return;
    if (!m_recordRead)
        m_record = SumFile::read(m_path);
    m_recordRead = true;
    if (!m_record)
        return;
    for (size_t i = 0; i < m_record->sums.parts.size(); ++i) {
        const carddata::FileSums::Part &part = m_record->sums.parts[i];
        if (position < part.start || position - part.start >= part.size)
            continue;
        // A part that has changed since the archive was made stays changed: no edit blesses it.
        if (m_touched.count(i) == 0 && SumFile::digestOf(m_path, part) != part.digest)
            break;
        m_touched.insert(i);
        return;
    }
    m_record.reset();
}

void SongArchive::updateRecord()
{
    if (!m_record || m_touched.empty())
        return;
    for (size_t i : m_touched) {
        carddata::FileSums::Part &part = m_record->sums.parts[i];
        const std::optional<carddata::Digest128> digest = SumFile::digestOf(m_path, part);
        if (!digest)
            return;
        part.digest = *digest;
    }
    m_record->sums.whole = carddata::FileSums::wholeOf(m_record->sums.parts);
    if (!SumFile::rewrite(m_path, *m_record))
        qWarning() << "Archive: Could not update the record of how" << m_path << "was made.";
    m_touched.clear();
}

QStringList SongArchive::notes() const
{
    if (!m_handle)
        return m_closedNotes;
    QStringList texts;
    for (const ArchiveNote &note : m_handle->notes)
        texts << QString::fromStdString(note.text);
    return texts;
}

void SongArchive::recordWrites(int firstSongShownAs)
{
    auto digest = std::make_shared<carddata::WriteDigest>();
    if (mlsdRecordArchiveWrites(handle(), digest) != 0)
        throw libraryError("Could not record the writes to the archive: ");
    m_digest = std::move(digest);
    m_firstSongShownAs = firstSongShownAs;
}

bool SongArchive::verifyWrites(int songCount, const VerifyProgress &progress)
{
    if (!m_digest)
        throw Error("Verification failed: nothing was recorded.");
    if (!m_layout)
        throw Error("Verification failed: the archive is still open.");
    carddata::FileSummer summer(m_parts);
    const bool verified = readBackOrThrow<Error>(m_path, *m_digest, *m_layout, songCount, progress, &summer);
    if (verified)
        m_sums = summer.sums();
    return verified;
}

int SongArchive::songCount() const
{
    return mlsdArchiveSongCount(handle());
}

int SongArchive::partCount()
{
    return carddata::kPartCount;
}

bool SongArchive::hasUserPrefs() const
{
    return mlsdArchiveHasUserPrefs(handle());
}

bool SongArchive::isCardArchive() const
{
    return songCount() == SdCard::songCount() && hasUserPrefs();
}

qint64 SongArchive::bytesMissing() const
{
    return mlsdArchiveBytesMissing(handle());
}

QString SongArchive::name() const
{
    return decodeCardText(handle()->header.data() + carddata::kArchiveNameOffset, carddata::kTextNameSize);
}

QString SongArchive::description() const
{
    return decodeCardText(handle()->header.data() + carddata::kArchiveDescriptionOffset,
                          carddata::kTextDescriptionSize);
}

void SongArchive::setName(const QString &name)
{
    touch(carddata::kArchiveNameOffset);
    encodeCardText(name, handle()->header.data() + carddata::kArchiveNameOffset, carddata::kTextNameSize);
}

void SongArchive::setDescription(const QString &description)
{
    touch(carddata::kArchiveDescriptionOffset);
    encodeCardText(description, handle()->header.data() + carddata::kArchiveDescriptionOffset,
                   carddata::kTextDescriptionSize);
}

SongInfo SongArchive::songInfo(int song) const
{
    SongRecord record{};
    if (mlsdGetUISongDataFromArchive(handle(), song, record.data()) != 0)
        throw libraryError("Could not get song info: ");
    return songInfoFromRecord(record);
}

PartInfo SongArchive::partInfo(int song, int part) const
{
    PartRecord record{};
    if (mlsdGetUIPartDataFromArchive(handle(), song, part, record.data()) != 0)
        throw libraryError("Could not get part info: ");
    return partInfoFromRecord(record);
}

void SongArchive::writeSongInfo(int song, const SongInfo &info)
{
    static const char prefix[] = "Could not write song info: ";
    ArchiveHandle *archive = handle();
    // Start from the stored record so that the bytes SongInfo does not carry stay as they were.
    SongRecord record{};
    if (mlsdGetUISongDataFromArchive(archive, song, record.data()) != 0)
        throw libraryError(prefix);
    songInfoToRecord(info, record);
    if (song >= 0 && song < carddata::kArchiveMaxSongs)
        touch(int64_t(
            localGetWord64(archive->header.data(), carddata::kArchiveSongOffsetsOffset + 8 * size_t(song)) +
            localGetWord64(archive->songHeaders[size_t(song)].data(), carddata::kSongHeaderUISongOffset)));
    if (mlsdSendUISongDataToArchive(archive, song, record.data()) != 0)
        throw libraryError(prefix);
}

int SongArchive::reportSongProgress(int32_t done, int32_t total, void *context)
{
    auto *self = static_cast<SongArchive *>(context);
    if (!self->songProgress)
        return 0;
    // The library is not built to unwind; a throwing callable stops the operation instead.
    try {
        return self->songProgress(done, total) ? 1 : 0;
    } catch (...) {
        self->m_callbackFailure = std::current_exception();
        return 1;
    }
}

int SongArchive::reportCardProgress(int32_t song, int32_t songCount, int32_t done, int32_t total,
                                    void *context)
{
    auto *card = static_cast<CardProgressContext *>(context);
    try {
        return (*card->progress)(song, songCount, done, total) ? 1 : 0;
    } catch (...) {
        *card->failure = std::current_exception();
        return 1;
    }
}

void SongArchive::rethrowCallbackFailure()
{
    if (m_callbackFailure) {
        std::exception_ptr failure = m_callbackFailure;
        m_callbackFailure = nullptr;
        std::rethrow_exception(failure);
    }
}

void SongArchive::archiveSong(const std::shared_ptr<SdCard> &card, int cardSong)
{
    static const char prefix[] = "Failed to archive song: ";
    ArchiveHandle *archive = handle();
    if (!card || !card->isOpen())
        throw Error(kCardNotOpen);
    if (!validCardSong(cardSong))
        throw Error(std::string(prefix) + kCardSongOutOfRange);
    const ProgressCallback progress{&SongArchive::reportSongProgress, this};
    const int result = mlsdArchiveSong(card->m_handle.get(), archive, cardSong, &progress);
    rethrowCallbackFailure();
    if (result != 0)
        throw libraryError(prefix);
}

void SongArchive::restoreSong(int archiveSong, const std::shared_ptr<SdCard> &card, int cardSong)
{
    static const char prefix[] = "Failed to restore song: ";
    ArchiveHandle *archive = handle();
    if (!card || !card->isOpen())
        throw Error(kCardNotOpen);
    if (!validCardSong(cardSong))
        throw Error(std::string(prefix) + kCardSongOutOfRange);
    const ProgressCallback progress{&SongArchive::reportSongProgress, this};
    const int result = mlsdRestoreSong(card->m_handle.get(), archive, cardSong, archiveSong, &progress);
    rethrowCallbackFailure();
    if (result != 0)
        throw libraryError(prefix);
}

void SongArchive::archiveCard(SdCard *card, const CardProgress &progress)
{
    ArchiveHandle *archive = handle();
    if (!card || !card->isOpen())
        throw Error("Can not archive card: card not open.");
    CardProgressContext context{&progress, &m_callbackFailure};
    const CardProgressCallback callback{&SongArchive::reportCardProgress, &context};
    const int result = mlsdArchiveSDCard(card->m_handle.get(), archive, progress ? &callback : nullptr);
    rethrowCallbackFailure();
    if (result != 0)
        throw libraryError("Failed to archive card: ");
}

void SongArchive::checkRestorable(int archiveSong) const
{
    if (mlsdCheckRestore(handle(), archiveSong) != 0)
        throw libraryError("Cannot restore from the archive: ");
}

void SongArchive::restoreCard(SdCard *card, const CardProgress &progress)
{
    ArchiveHandle *archive = handle();
    if (!card || !card->isOpen())
        throw Error("Can not restore card: card not open.");
    CardProgressContext context{&progress, &m_callbackFailure};
    const CardProgressCallback callback{&SongArchive::reportCardProgress, &context};
    const int result = mlsdRestoreSDCard(card->m_handle.get(), archive, progress ? &callback : nullptr);
    rethrowCallbackFailure();
    if (result != 0)
        throw libraryError("Failed to restore card: ");
}

} // namespace ZovaZode
