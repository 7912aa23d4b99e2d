// SdCard: the card data file as the user interface and the transfer worker see it.
#include "domain/sdcard.h"

#include "domain/notifier.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

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

} // namespace

SdCard::SdCard(QObject *parent) : QObject(parent), m_timer(this)
{
    connect(&m_timer, &QTimer::timeout, this, &SdCard::checkEjected);
}

SdCard::~SdCard()
{
    // The card may already be gone, so a failing header write is only logged.
    try {
        if (isWritable())
            writeHeader();
    } catch (const std::exception &error) {
        qCritical() << "SD: Could not write card header while closing:" << error.what();
    } catch (...) {
        qCritical() << "SD: Could not write card header while closing.";
    }
    m_handle.reset();
}

bool SdCard::open(const QString &path, int writable)
{
    const bool hadCard = isOpen();
    if (hadCard) {
        if (isWritable())
            writeHeader();
        m_handle.reset();
        m_path.clear();
    }
    m_timer.stop();
    m_digest.reset();
    qDebug() << "SD: Opening" << path;

    const auto keepAlive = weak_from_this().lock();
    if (writable == 1 && !testWritable(path)) {
        // The previous card is closed now; views following the signals must not show it.
        if (hadCard)
            releaseHandle();
        return false;
    }

    SdCardHandle *handle = mlsdOpenSDCard(QFile::encodeName(path).constData(), writable == 1 ? 1 : 0);
    if (!handle)
        qCritical() << "Could not open card file:" << mlsdGetErrorString();
    else {
        m_handle.reset(handle);
        m_path = path;
    }
    m_timer.start(kEjectionCheckInterval);

    if (m_handle) {
        emit opened();
        emit openStateChanged(true);
        emit pathChanged(m_path);
        emit nameChanged(name());
        emit descriptionChanged(description());
    } else if (hadCard) {
        releaseHandle();
    }
    return isOpen();
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
    encodeCardText(name, m_handle->header.data() + carddata::kCardHeaderNameOffset, carddata::kTextNameSize);
    emit nameChanged(name);
}

void SdCard::setDescription(const QString &description)
{
    if (!m_handle)
        return;
    encodeCardText(description, m_handle->header.data() + carddata::kCardHeaderDescriptionOffset,
                   carddata::kTextDescriptionSize);
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
    requireOpen();
    qDebug() << "SD: writing header...";
    static const char prefix[] = "Could not write card header: ";
    if (mlsdSendHeaderToSDCard(m_handle->file.get(), &m_handle->memoryMap, m_handle->header.data()) != 0)
        throw libraryError(prefix);
    commit(prefix);
    qDebug() << "SD: done writing header.";
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
    std::array<uint8_t, carddata::kCardHeaderSize> header{};
    if (mlsdGetHeaderFromSDCard(m_handle->file.get(), &m_handle->memoryMap, header.data()) != 0)
        qCritical() << "Failed reading card header:" << mlsdGetErrorString();
    else
        m_handle->header = header;
    emit opened();
    emit openStateChanged(true);
    emit nameChanged(name());
    emit descriptionChanged(description());
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
    SongRecord record{};
    if (mlsdGetUISongDataFromSDCard(m_handle->file.get(), &m_handle->memoryMap, song, record.data()) != 0)
        throw libraryError(prefix);
    songInfoToRecord(info, record);
    if (mlsdSendUISongDataToSDCard(m_handle->file.get(), &m_handle->memoryMap, song, record.data()) != 0)
        throw libraryError(prefix);
    commit(prefix);
}

void SdCard::clearSong(int song, const QString &name)
{
    requireOpen();
    static const char prefix[] = "Could not clear song: ";
    if (!validSong(song))
        throw Error(std::string(prefix) + kSongOutOfRange);
    const QByteArray utf8 = name.toUtf8();
    if (mlsdClearSongOnSDCard(m_handle.get(), song, name.isEmpty() ? nullptr : utf8.constData()) != 0)
        throw libraryError(prefix);
    commit(prefix);
}

int SdCard::songCount()
{
    return carddata::kSongCount;
}

bool SdCard::testWritable(const QString &path)
{
    const QFileInfo card(path);
    if (!card.exists())
        return false;

    const QString testPath = card.absoluteDir().filePath(QStringLiteral(".morv_manager_write_test"));
    const QFileInfo left(testPath);
    if ((left.exists() || left.isSymLink()) && !QFile::remove(testPath))
        return false;

    QFile test(testPath);
    if (!test.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    test.close();
    if (!test.remove())
        qWarning() << "Could not remove SD card write test file.";
    return true;
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
    std::string failure;
    switch (verifyWrittenFile(m_digestPath, *m_digest, carddata::WrittenLayout::card(m_digestMap), songCount,
                              progress, &failure)) {
    case VerifyOutcome::Verified:
        return true;
    case VerifyOutcome::Stopped:
        return false;
    case VerifyOutcome::Failed:
        break;
    }
    throw Error(failure);
}

void SdCard::checkEjected()
{
    // A timer slot: nothing may leave it.
    try {
        if (m_path.isEmpty() || QFileInfo::exists(m_path))
            return;
        const auto keepAlive = weak_from_this().lock();
        try {
            close();
        } catch (const std::exception &error) {
            // The file is gone, so its header cannot be written; the card ends closed anyway.
            qCritical() << "SD: Could not write card header of the ejected card:" << error.what();
            releaseHandle();
        }
        Notifier::Message message;
        message.icon = Notifier::Icon::Warning;
        message.text = QStringLiteral("It seems like the SD card was ejected.");
        message.buttons = Notifier::Ok;
        Notifier::notify(message);
    } catch (const std::exception &error) {
        qCritical() << "SD: Ejection check failed:" << error.what();
    } catch (...) {
        qCritical() << "SD: Ejection check failed.";
    }
}

} // namespace ZovaZode
