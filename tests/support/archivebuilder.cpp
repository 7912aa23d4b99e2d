// Archive files built byte by byte; see archivebuilder.h.
#include "archivebuilder.h"

#include <QFile>

namespace ZovaZode::TestSupport {

ArchiveBuilder::ArchiveBuilder() : m_header(kArchiveHeaderSize, '\0'), m_userPrefs(kUserPrefsSize, '\0')
{
    m_header.replace(0, 4, "MLFA");
    putWord(m_header, 524, 680);
    putWord(m_header, 528, 512);
    putWord64(m_header, 536, quint64(kFirstSongOffset));
}

void ArchiveBuilder::setNameField(const QByteArray &field)
{
    m_header.replace(8, 128, field.left(128));
}

void ArchiveBuilder::setDescriptionField(const QByteArray &field)
{
    m_header.replace(136, 384, field.left(384));
}

void ArchiveBuilder::setUserPrefs(const QByteArray &prefs)
{
    m_userPrefs = prefs;
    putWord(m_header, 520, 1);
}

int ArchiveBuilder::addSong(const SongRecords &records)
{
    const int n = m_songs.size();
    Song song;
    song.header = QByteArray(kSongHeaderSize, '\0');
    putWord64(song.header, 0, 136);
    putWord(song.header, 8, kSongDataSize);
    putWord64(song.header, 16, 1160);
    putWord(song.header, 24, kPartDataSize);
    putWord(song.header, 28, 5 * kPartDataSize);
    putWord64(song.header, 32, 83080);
    putWord(song.header, 40, kLooperRecordSize);
    putWord(song.header, 44, 5 * kLooperRecordSize);

    song.body = records.song;
    for (const QByteArray &part : records.parts)
        song.body += part;
    for (const QByteArray &looper : records.loopers)
        song.body += looper;
    for (int p = 0; p < 5; ++p) {
        const qint64 audioSize = qint64(records.copiedChunks(p)) * kChunkSize;
        putWord64(song.header, 48 + 8 * p, quint64(kSongHeaderSize + song.body.size()));
        putWord(song.header, 108 + 4 * p, quint32(audioSize));
        song.body += audio(records.audioSeeds[p], 0, audioSize);
    }
    const quint32 blockSize = quint32(kSongHeaderSize + song.body.size());
    putWord(song.header, 128, blockSize);
    m_songs.append(song);

    putWord(m_header, 532, quint32(n + 1));
    putWord(m_header, 632 + 4 * n, blockSize);
    if (n + 1 < 12)
        putWord64(m_header, 536 + 8 * (n + 1), quint64(songOffset(n) + blockSize));
    return n;
}

void ArchiveBuilder::patch(qint64 position, const QByteArray &bytes)
{
    m_patches.append({position, bytes});
}

QByteArray ArchiveBuilder::bytes() const
{
    QByteArray file = m_header;
    if (!m_songs.isEmpty() || word(m_header, 520) != 0)
        file += m_userPrefs;
    for (const Song &song : m_songs)
        file += song.header + song.body;
    for (const auto &patch : m_patches) {
        if (file.size() < patch.first + patch.second.size())
            file.resize(int(patch.first + patch.second.size()));
        file.replace(int(patch.first), patch.second.size(), patch.second);
    }
    return file;
}

void ArchiveBuilder::write(const QString &path) const
{
    QFile file(path);
    const QByteArray content = bytes();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        qFatal("fixture: cannot write %s", qPrintable(path));
}

} // namespace ZovaZode::TestSupport
