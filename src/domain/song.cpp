// Song: loading, reading parts and saving one song of the card or of a library file.
#include "domain/song.h"
#include "domain/filekinds.h"

#include "domain/libraryfilenames.h"
#include "domain/libraryfolder.h"
#include "domain/namecheck.h"
#include "domain/notifier.h"
#include "domain/sdcard.h"
#include "domain/songarchive.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace ZovaZode {

Song::Song(QObject *parent) : QObject(parent) {}

Song::~Song() = default;

void Song::disconnectCard()
{
    if (m_card)
        disconnect(m_card.get(), nullptr, this, nullptr);
}

void Song::loadFromCard(const std::shared_ptr<SdCard> &card, int song)
{
    if (!card || !card->isOpen()) {
        qCritical() << "Song: Can not load from card: card not open.";
        return;
    }
    disconnectCard();
    m_source = SongSource::Card;
    m_card = card;
    m_index = song;
    m_path.clear();
    connect(m_card.get(), &SdCard::closed, this, &Song::clear);
    try {
        m_info = m_card->songInfo(song);
    } catch (const SdCard::Error &error) {
        qCritical() << "Error reading song from card:" << error.what();
    }
    emit loaded();
}

void Song::loadFromArchive(const QString &path, int song, bool isSongFile, const QString &library)
{
    disconnectCard();
    m_source = isSongFile ? SongSource::SongFile : SongSource::CardArchive;
    m_path = path;
    m_library = library;
    m_index = song;
    m_card.reset();
    try {
        const SongArchive archive(path, 0, 0);
        m_info = archive.songInfo(song);
    } catch (const SongArchive::Error &error) {
        qCritical() << "Error reading song from file:" << error.what();
    }
    emit loaded();
}

void Song::clear()
{
    disconnectCard();
    // Called from the card's closed() signal: keep the card alive until its emission ends.
    const std::shared_ptr<SdCard> card = std::move(m_card);
    m_source = SongSource::None;
    m_path.clear();
    m_library.clear();
    m_index = -1;
    m_info = SongInfo();
    emit cleared();
}

SongSource Song::source() const
{
    return m_source;
}

int Song::index() const
{
    return m_index;
}

QString Song::filePath() const
{
    switch (m_source) {
    case SongSource::Card:
        return m_card ? m_card->path() : QString();
    case SongSource::CardArchive:
    case SongSource::SongFile:
        return m_path;
    case SongSource::None:
        break;
    }
    return QString();
}

QString Song::name() const
{
    return m_info.name;
}

QString Song::description() const
{
    return m_info.description;
}

SongInfo &Song::songInfo()
{
    return m_info;
}

QVector<PartInfo> Song::parts() const
{
    QVector<PartInfo> result;
    switch (m_source) {
    case SongSource::Card:
        try {
            for (int part = 0; part < SongArchive::partCount(); ++part)
                result.append(m_card->partInfo(m_index, part));
        } catch (const SdCard::Error &error) {
            qCritical() << "Song: Failed to read parts from card:" << error.what();
            return {};
        }
        return result;
    case SongSource::CardArchive:
    case SongSource::SongFile:
        try {
            const SongArchive archive(m_path, 0, 0);
            for (int part = 0; part < SongArchive::partCount(); ++part)
                result.append(archive.partInfo(m_index, part));
        } catch (const SongArchive::Error &error) {
            qDebug().nospace() << "Song: Failed to read parts from archive: " << error.what();
            return {};
        }
        return result;
    case SongSource::None:
        break;
    }
    qWarning() << "Song: Can not read part - not open.";
    return {};
}

bool Song::save()
{
    if (m_source == SongSource::CardArchive) {
        qCritical() << "Song: Will not save into archive!";
        return false;
    }

    const QStringList problems = detailProblems(QStringLiteral("song"), m_info.name, m_info.description);
    if (!problems.isEmpty()) {
        Notifier::inform(nullptr, correctionText(problems));
        return false;
    }

    switch (m_source) {
    case SongSource::Card:
        qDebug() << "Song: Saving to card.";
        try {
            m_card->setSongInfo(m_index, m_info);
        } catch (const SdCard::Error &error) {
            qDebug() << "Song: Error saving to card:" << error.what();
            return false;
        }
        emit saved();
        return true;
    case SongSource::SongFile:
        return saveToSongFile();
    case SongSource::CardArchive:
    case SongSource::None:
        break;
    }
    qCritical() << "Song: Can not save - no source.";
    return false;
}

bool Song::saveToSongFile()
{
    qDebug() << "Song: Saving to archive.";
    const QFileInfo current(m_path);
    const LibraryFolder library(m_library.isEmpty() ? current.path() : m_library);
    QString reason;
    if (!library.isPlainFile(m_path, &reason)) {
        qCritical() << "Song: Will not write the song file:" << reason;
        return false;
    }
    const QString newName = songFileName(m_info.name);
    QString newPath;
    if (newName != current.fileName()) {
        const QDir folder = current.dir();
        if (QFileInfo(folder.filePath(newName)).exists()) {
            Notifier::inform(nullptr, QStringLiteral("A file named %1 already exists in this folder.\n\n"
                                                     "Please choose a different song name.")
                                          .arg(newName));
            return false;
        }
        newPath = folder.filePath(newName);
    }

    try {
        SongArchive archive(m_path, 1, 0);
        archive.writeSongInfo(m_index, m_info);
        // Closing here, not in the destructor, so that headers that never reached the disk
        // count as a failed save.
        archive.close();
    } catch (const SongArchive::Error &error) {
        qDebug() << "Song: Error saving to archive." << error.what();
        return false;
    }

    if (!newPath.isEmpty()) {
        // The new name and description are already in the file under its old name.
        if (!library.rename(m_path, newName, &reason)) {
            qCritical() << "Failed to update file name:" << newPath << reason;
            return false;
        }
        m_path = newPath;
    }
    emit saved();
    return true;
}

} // namespace ZovaZode
