// Archive files (".mlad" card archives, ".mlsd" song files) built byte by byte, laid out exactly
// as the card data library writes them, so that a test can compare what the library wrote with
// what is built here; every header field can then be changed and any bytes patched in to make
// hostile files.
#pragma once

#include "cardimage.h"

namespace ZovaZode::TestSupport {

inline constexpr int kArchiveHeaderSize = 680, kSongHeaderSize = 136;
inline constexpr qint64 kFirstSongOffset = 1192, kSongBlockFixedSize = 136840;

class ArchiveBuilder
{
public:
    // A new archive: "MLFA", version 0, no user prefs, no songs.
    ArchiveBuilder() : m_header(kArchiveHeaderSize, '\0'), m_userPrefs(kUserPrefsSize, '\0')
    {
        m_header.replace(0, 4, "MLFA");
        putWords(m_header, 524, {680, 512, 0, qint32(kFirstSongOffset)});
    }

    QByteArray &header() { return m_header; }
    void setNameField(const QByteArray &field) { m_header.replace(8, 128, field.left(128)); }
    void setDescriptionField(const QByteArray &field) { m_header.replace(136, 384, field.left(384)); }
    // Stores the block at 680 and sets the present flag.
    void setUserPrefs(const QByteArray &prefs)
    {
        m_userPrefs = prefs;
        putWord(m_header, 520, 1);
    }

    // Appends a song block laid out as the library writes it; returns the song's number.
    int addSong(const SongRecords &records)
    {
        const int n = m_songs.size();
        QByteArray header(kSongHeaderSize, '\0');
        putWords(header, 0, {136, 0, 1024, 0, 1160, 0, 16384, 5 * 16384, 83080, 0, 10752, 5 * 10752});
        QByteArray body = records.song;
        for (const QByteArray &record : records.parts)
            body += record;
        for (const QByteArray &record : records.loopers)
            body += record;
        for (int p = 0; p < 5; ++p) {
            const qint64 audioSize = qint64(records.copiedChunks(p)) * kChunkSize;
            putWord64(header, 48 + 8 * p, quint64(kSongHeaderSize + body.size()));
            putWord(header, 108 + 4 * p, quint32(audioSize));
            body += audio(records.audioSeeds[p], 0, audioSize);
        }
        putWord(header, 128, quint32(kSongHeaderSize + body.size()));
        m_songs.append({header, body});
        putWord(m_header, 532, quint32(n + 1));
        putWord(m_header, 632 + 4 * n, quint32(kSongHeaderSize + body.size()));
        if (n + 1 < 12)
            putWord64(m_header, 536 + 8 * (n + 1), quint64(songOffset(n) + kSongHeaderSize + body.size()));
        return n;
    }
    qint64 songOffset(int song) const { return qint64(word64(m_header, 536 + 8 * song)); }

    // Bytes laid over the finished file at an absolute position (the file grows if needed).
    void patch(qint64 position, const QByteArray &bytes) { m_patches.append({position, bytes}); }

    QByteArray bytes() const
    {
        QByteArray file = m_header;
        if (!m_songs.isEmpty() || word(m_header, 520) != 0)
            file += m_userPrefs;
        for (const auto &song : m_songs)
            file += song.first + song.second;
        for (const auto &[position, bytes] : m_patches) {
            if (file.size() < position + bytes.size())
                file.resize(int(position + bytes.size()));
            file.replace(int(position), bytes.size(), bytes);
        }
        return file;
    }
    void write(const QString &path) const
    {
        QFile::remove(path);
        writeRange(path, 0, bytes());
    }

private:
    QByteArray m_header, m_userPrefs;
    QVector<QPair<QByteArray, QByteArray>> m_songs; // song header, the rest of the block
    QVector<QPair<qint64, QByteArray>> m_patches;
};

} // namespace ZovaZode::TestSupport
