// SdCard: the card data file as the user interface and the transfer worker see it.
#include "domain/sdcard.h"

#include "domain/cardcontent.h"
#include "domain/cardlock.h"
#include "domain/notifier.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <sys/stat.h>

namespace ZovaZode {

namespace {

constexpr int kEjectionCheckInterval = 2000;

const char kNoCardOpen[] = "No card open.";
// The library trusts the song and part numbers it is given; a wrong one would read or write
// another record of the card.
const char kSongOutOfRange[] = "Song number out of range.";
const char kPartOutOfRange[] = "Part number out of range.";

SdCard::Error libraryError(const char *prefix)
{
    return SdCard::Error(std::string(prefix) + mlsdGetErrorString());
}

bool validSong(int song)
{
    return song >= 0 && song < carddata::kSongCount;
}
bool validPart(int part)
{
    return part >= 0 && part < carddata::kPartCount;
}

void tellChangedUnderneath()
{
    Notifier::tell(nullptr, Notifier::Icon::Warning, QString(),
                   QString::fromUtf8(SdCard::ChangedUnderneathText));
}

} // namespace

const char SdCard::ChangedUnderneathText[] =
    "The card was changed by another program.\n\nYour change to the card's name or description "
    "was not written.";

SdCard::SdCard(QObject *parent) : QObject(parent), m_timer(this)
{
    connect(&m_timer, &QTimer::timeout, this, &SdCard::checkEjected);
}

SdCard::~SdCard()
{
    // The card may already be gone, so a failing header write is only logged; a header that
    // changed on the card meanwhile is kept, and only logged as well, with the window gone.
    try {
        if (isWritable())
            writeEditedHeader(false);
    } catch (const std::exception &error) {
        qCritical() << "SD: Could not write card header while closing:" << error.what();
    } catch (...) {
        qCritical() << "SD: Could not write card header while closing.";
    }
    m_handle.reset();
}

bool SdCard::open(const QString &path, int writable)
{
    // The card open now stays open until the new one has opened: a file that turns out to be no
    // card must not close the card the user was working on. Its edited header is written first
    // (a failure throws, and nothing changed), so that the same card opened again reads it.
    if (isWritable())
        writeHeader();
    qDebug() << "SD: Opening" << path;

    const auto keepAlive = weak_from_this().lock();
    // Opening for writing writes nothing: a write-protected card simply refuses to open so.
    SdCardHandle *handle = mlsdOpenSDCard(QFile::encodeName(path).constData(), writable == 1 ? 1 : 0);
    m_openError.clear();
    if (!handle) {
        m_openError = QString::fromLocal8Bit(mlsdGetErrorString());
        qCritical() << "Could not open card file:" << mlsdGetErrorString();
        return false;
    }
    m_timer.stop();
    m_digest.reset();
    m_handle.reset(handle);
    m_path = path;
    m_headerEdited = false;
    m_cardHeader = m_handle->header;
    takeStamp();
    m_timer.start(kEjectionCheckInterval);

    emit opened();
    emit openStateChanged(true);
    emit pathChanged(m_path);
    emit nameChanged(name());
    emit descriptionChanged(description());
    return true;
}

void SdCard::close()
{
    if (!m_handle)
        return;
    if (isWritable())
        writeHeader();
    releaseHandle();
}

void SdCard::releaseHandle()
{
    // A slot may drop the last shared owner of this card while the signals are going out.
    const auto keepAlive = weak_from_this().lock();
    m_handle.reset();
    m_path.clear();
    m_headerEdited = false;
    m_timer.stop();
    emit closed();
    emit openStateChanged(false);
    emit pathChanged(m_path);
    emit nameChanged(name());
    emit descriptionChanged(description());
}

bool SdCard::isOpen() const
{
    return m_handle != nullptr;
}

bool SdCard::isWritable() const
{
    return m_handle && m_handle->writable == 1;
}

QString SdCard::path() const
{
    return m_path;
}

QString SdCard::name() const
{
    if (!m_handle)
        return QString();
    return decodeCardText(m_handle->header.data() + carddata::kCardHeaderNameOffset, carddata::kTextNameSize);
}

QString SdCard::description() const
{
    if (!m_handle)
        return QString();
    return decodeCardText(m_handle->header.data() + carddata::kCardHeaderDescriptionOffset,
                          carddata::kTextDescriptionSize);
}

void SdCard::setName(const QString &name)
{
    if (!m_handle)
        return;
    const Header before = m_handle->header;
    encodeCardText(name, m_handle->header.data() + carddata::kCardHeaderNameOffset, carddata::kTextNameSize);
    if (m_handle->header != before)
        m_headerEdited = true;
    emit nameChanged(name);
}

void SdCard::setDescription(const QString &description)
{
    if (!m_handle)
        return;
    const Header before = m_handle->header;
    encodeCardText(description, m_handle->header.data() + carddata::kCardHeaderDescriptionOffset,
                   carddata::kTextDescriptionSize);
    if (m_handle->header != before)
        m_headerEdited = true;
    emit descriptionChanged(description);
}

void SdCard::requireOpen() const
{
    if (!m_handle)
        throw Error(kNoCardOpen);
}

void SdCard::commit(const char *prefix)
{
    if (mlsdCommitSDCard(m_handle.get()) != 0)
        throw libraryError(prefix);
}

void SdCard::writeHeader()
{
    writeEditedHeader(true);
}

void SdCard::writeEditedHeader(bool tell)
{
    requireOpen();
    if (!m_headerEdited)
        return;
    static const char prefix[] = "Could not write card header: ";
    const CardLock lock(m_path, CardLock::Exclusive);
    Header onCard{};
    if (mlsdGetHeaderFromSDCard(m_handle->file.get(), &m_handle->memoryMap, onCard.data()) != 0)
        throw libraryError(prefix);
    // The card may hold the edited header already, from a write whose commit failed.
    if (onCard != m_cardHeader && onCard != m_handle->header) {
        qWarning() << "SD: The card header was changed by another program; the edited one is not written.";
        adoptHeader(onCard, tell);
        takeStamp();
        return;
    }
    qDebug() << "SD: writing header...";
    if (mlsdSendHeaderToSDCard(m_handle->file.get(), &m_handle->memoryMap, m_handle->header.data()) != 0)
        throw libraryError(prefix);
    commit(prefix);
    m_cardHeader = m_handle->header;
    m_headerEdited = false;
    takeStamp();
    qDebug() << "SD: done writing header.";
}

void SdCard::adoptHeader(const Header &onCard, bool tell)
{
    const bool dropped = m_headerEdited && onCard != m_handle->header;
    m_handle->header = onCard;
    m_cardHeader = onCard;
    m_headerEdited = false;
    if (dropped && tell)
        tellChangedUnderneath();
}

void SdCard::flush()
{
    if (isWritable())
        writeHeader();
}

void SdCard::refresh()
{
    if (!m_handle)
        return;
    // Read aside: a half-read header must not replace the one that will be written back.
    Header header{};
    if (mlsdGetHeaderFromSDCard(m_handle->file.get(), &m_handle->memoryMap, header.data()) != 0) {
        qCritical() << "Failed reading card header:" << mlsdGetErrorString();
    } else {
        m_handle->header = header;
        m_cardHeader = header;
        m_headerEdited = false;
    }
    takeStamp();
    emitReloaded();
}

bool SdCard::reloadIfChanged()
{
    if (!m_handle)
        return false;
    const FileStamp now = FileStamp::of(m_path);
    if (now == m_stamp)
        return false;
    const auto keepAlive = weak_from_this().lock();
    if (now.device != m_stamp.device || now.inode != m_stamp.inode) {
        // Another file now has the card's name: our handle still reads the old one.
        qDebug() << "SD: The card file was replaced; opening it again.";
        if (m_headerEdited)
            tellChangedUnderneath();
        m_headerEdited = false;
        const QString path = m_path;
        open(path, isWritable() ? 1 : 0);
        return true;
    }
    try {
        const CardLock lock(m_path, CardLock::Shared, 0);
        Header onCard{};
        if (mlsdGetHeaderFromSDCard(m_handle->file.get(), &m_handle->memoryMap, onCard.data()) != 0) {
            qCritical() << "Failed reading card header:" << mlsdGetErrorString();
            return false;
        }
        qDebug() << "SD: The card file changed on disk; reading it again.";
        if (onCard != m_cardHeader || !m_headerEdited)
            adoptHeader(onCard, true);
        takeStamp();
    } catch (const Busy &) {
        return false;
    }
    emitReloaded();
    return true;
}

void SdCard::emitReloaded()
{
    emit opened();
    emit openStateChanged(true);
    emit nameChanged(name());
    emit descriptionChanged(description());
}

void SdCard::takeStamp()
{
    m_stamp = FileStamp::of(m_path);
}

SongInfo SdCard::songInfo(int song) const
{
    requireOpen();
    static const char prefix[] = "Could not read song info: ";
    if (!validSong(song))
        throw Error(std::string(prefix) + kSongOutOfRange);
    SongRecord record{};
    if (mlsdGetUISongDataFromSDCard(m_handle->file.get(), &m_handle->memoryMap, song, record.data()) != 0)
        throw libraryError(prefix);
    return songInfoFromRecord(record);
}

PartInfo SdCard::partInfo(int song, int part) const
{
    requireOpen();
    static const char prefix[] = "Could not get part info: ";
    if (!validSong(song))
        throw Error(std::string(prefix) + kSongOutOfRange);
    if (!validPart(part))
        throw Error(std::string(prefix) + kPartOutOfRange);
    PartRecord record{};
    if (mlsdGetUIPartDataFromSDCard(m_handle->file.get(), &m_handle->memoryMap, song, part, record.data()) !=
        0)
        throw libraryError(prefix);
    return partInfoFromRecord(record);
}

void SdCard::setSongInfo(int song, const SongInfo &info)
{
    requireOpen();
    static const char prefix[] = "Could not write song info: ";
    if (!validSong(song))
        throw Error(std::string(prefix) + kSongOutOfRange);
    // Start from the stored record so that the bytes SongInfo does not carry stay as they were.
    const CardLock lock(m_path, CardLock::Exclusive);
    SongRecord record{};
    if (mlsdGetUISongDataFromSDCard(m_handle->file.get(), &m_handle->memoryMap, song, record.data()) != 0)
        throw libraryError(prefix);
    songInfoToRecord(info, record);
    if (mlsdSendUISongDataToSDCard(m_handle->file.get(), &m_handle->memoryMap, song, record.data()) != 0)
        throw libraryError(prefix);
    commit(prefix);
    takeStamp();
}

void SdCard::clearSong(int song, const QString &name)
{
    requireOpen();
    static const char prefix[] = "Could not clear song: ";
    if (!validSong(song))
        throw Error(std::string(prefix) + kSongOutOfRange);
    const QByteArray utf8 = name.toUtf8();
    const CardLock lock(m_path, CardLock::Exclusive);
    // The library writes the song record before it reads the part records it may refuse.
    checkClearable(song);
    if (mlsdClearSongOnSDCard(m_handle.get(), song, name.isEmpty() ? nullptr : utf8.constData()) != 0)
        throw libraryError(prefix);
    commit(prefix);
    takeStamp();
}

void SdCard::checkClearable(int song) const
{
    requireOpen();
    static const char prefix[] = "Could not clear song: ";
    if (!validSong(song))
        throw Error(std::string(prefix) + kSongOutOfRange);
    SongRecord record{};
    if (mlsdGetUISongDataFromSDCard(m_handle->file.get(), &m_handle->memoryMap, song, record.data()) != 0)
        throw libraryError(prefix);
    if (!localUISongDataValid(record.data()))
        throw Error(std::string(prefix) + "Song data from SD card is invalid");
    for (int part = 0; part < carddata::kPartCount; ++part) {
        PartRecord partRecord{};
        if (mlsdGetUIPartDataFromSDCard(m_handle->file.get(), &m_handle->memoryMap, song, part,
                                        partRecord.data()) != 0)
            throw libraryError(prefix);
        if (!localUIPartDataValid(partRecord.data()))
            throw Error(std::string(prefix) + "Part data from SD card is invalid");
    }
}

QVector<SdCard::RecordDigest> SdCard::recordsDigest() const
{
    requireOpen();
    std::vector<CardRecordHash> hashes;
    if (mlsdHashCardRecords(m_handle.get(), &hashes) != 0)
        throw libraryError("Could not read the card's records: ");
    QVector<RecordDigest> digest;
    digest.reserve(int(hashes.size()));
    for (const CardRecordHash &record : hashes)
        digest.append({record.song, record.part, QString::fromStdString(record.where), record.digest});
    return digest;
}

QStringList SdCard::changedRecords(const QVector<RecordDigest> &before, const QVector<RecordDigest> &after)
{
    if (before.isEmpty() || before.size() != after.size())
        return {QStringLiteral("the card")};
    static const QMap<QString, QString> wholeCard{
        {QStringLiteral("card name"), QStringLiteral("the card's name")},
        {QStringLiteral("card description"), QStringLiteral("the card's description")},
        {QStringLiteral("card header"), QStringLiteral("the card's header")},
        {QStringLiteral("user preferences"), QStringLiteral("the user preferences")}};
    QStringList changed;
    // A song whose song record changed is named once, for all of its parts.
    int wholeSong = -1;
    for (int i = 0; i < before.size(); ++i) {
        const RecordDigest &record = after.at(i);
        if (record.digest == before.at(i).digest || (record.song >= 0 && record.song == wholeSong))
            continue;
        QString name = record.song < 0 ? wholeCard.value(record.where, record.where)
                                       : QStringLiteral("song %1").arg(record.song + 1);
        if (record.part >= 0)
            name += QStringLiteral(", part %1").arg(record.part + 1);
        else if (record.song >= 0)
            wholeSong = record.song;
        if (!changed.contains(name))
            changed << name;
    }
    return changed;
}

SdCard::Usage SdCard::usage() const
{
    requireOpen();
    Usage usage;
    std::vector<uint8_t> record(carddata::kLooperRecordSize);
    carddata::Stream *file = m_handle->file.get();
    for (int song = 0; song < songCount(); ++song) {
        bool used = false;
        for (int part = 0; part < carddata::kPartCount; ++part) {
            used = used || partInfo(song, part).hasData;
            // The memory manager's table is the one the card was opened with; the file is now.
            if (!file->seek(mlsdLooperDataPosition(&m_handle->memoryMap, song, part)) ||
                file->read(record.data(), record.size()) != record.size())
                throw Error("Could not read looper data.");
            if (localLooperRecordAccepted(record.data()) &&
                localGetInt32(record.data(), carddata::kLooperStateOffset) == 0) {
                ++usage.looperParts;
                usage.looperBytes += qint64(localGetInt32(record.data(), carddata::kLooperLengthOffset)) *
                                     carddata::kAudioChunkSize;
            }
        }
        if (used)
            ++usage.songsInUse;
    }
    return usage;
}

int SdCard::songCount()
{
    return carddata::kSongCount;
}

void SdCard::recordWrites()
{
    if (!m_handle)
        return;
    auto digest = std::make_shared<carddata::WriteDigest>();
    if (mlsdRecordCardWrites(m_handle.get(), digest) != 0)
        throw libraryError("Could not record the writes to the card: ");
    m_digest = std::move(digest);
    m_digestPath = m_path;
    m_digestMap = m_handle->memoryMap;
}

bool SdCard::verifyWrites(int songCount, const VerifyProgress &progress) const
{
    if (!m_digest)
        throw Error("Verification failed: nothing was recorded.");
    if (m_handle)
        throw Error("Verification failed: the card is still open.");
    return readBackOrThrow<Error>(m_digestPath, *m_digest, carddata::WrittenLayout::card(m_digestMap),
                                  songCount, progress);
}

void SdCard::recordReads()
{
    if (!m_handle)
        return;
    auto digest = std::make_shared<carddata::CardDigest>();
    if (mlsdRecordCardReads(m_handle.get(), digest) != 0)
        throw libraryError("Could not record the reads of the card: ");
    m_readDigest = std::move(digest);
    m_readPath = m_path;
    // Before the first read: a writer that ignores the lock while the card is read changes it.
    m_readStamp = FileStamp::of(m_path);
}

std::shared_ptr<CardContent> SdCard::readContent() const
{
    if (!m_readDigest || m_handle)
        return nullptr;
    return std::make_shared<CardContent>(m_readPath, m_readStamp, m_readDigest);
}

void SdCard::skipUnchangedWrites(const std::shared_ptr<CardContent> &known, bool compareByReading)
{
    if (!m_handle)
        return;
    const bool knows = known && known->describes(m_path);
    if (known && !knows)
        qWarning() << "SD: The card changed since it was read; comparing by reading it.";
    auto tally = std::make_shared<carddata::WriteTally>();
    if (mlsdSkipUnchangedWrites(m_handle.get(), knows ? known->digest() : nullptr, compareByReading, tally) !=
        0)
        throw libraryError("Could not compare the writes with the card: ");
    m_tally = std::move(tally);
}

carddata::WriteTally SdCard::writeTally() const
{
    return m_tally ? *m_tally : carddata::WriteTally{-1, -1};
}

bool SdCard::hasWritten() const
{
    return m_digest && (m_digest->lost() || !m_digest->pieces().empty());
}

void SdCard::checkEjected()
{
    // A timer slot: nothing may leave it.
    try {
        if (m_path.isEmpty())
            return;
        if (QFileInfo::exists(m_path)) {
            reloadIfChanged();
            return;
        }
        const auto keepAlive = weak_from_this().lock();
        try {
            close();
        } catch (const std::exception &error) {
            // The file is gone, so its header cannot be written; the card ends closed anyway.
            qCritical() << "SD: Could not write card header of the ejected card:" << error.what();
            releaseHandle();
        }
        emit ejected();
        Notifier::tell(nullptr, Notifier::Icon::Warning, QString(),
                       QStringLiteral("It seems like the SD card was ejected."));

    } catch (const std::exception &error) {
        qCritical() << "SD: Ejection check failed:" << error.what();
    } catch (...) {
        qCritical() << "SD: Ejection check failed.";
    }
}

} // namespace ZovaZode
