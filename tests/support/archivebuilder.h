// Archive files (".mlad" card archives, ".mlsd" song files) built byte by byte for tests.
//
// The builder lays songs out exactly as the card data library writes them, so that a test can
// compare an archive the library wrote with the one built here, byte for byte; every header
// field can then be changed, and any bytes patched in, to make hostile files.
#pragma once

#include "cardimage.h"

#include <QByteArray>
#include <QString>
#include <QVector>

namespace ZovaZode::TestSupport {

inline constexpr int kArchiveHeaderSize = 680;
inline constexpr int kSongHeaderSize = 136;
inline constexpr qint64 kFirstSongOffset = 1192;
inline constexpr qint64 kSongBlockFixedSize = 136840;

class ArchiveBuilder
{
public:
    // A new archive: "MLFA", version 0, no user prefs, no songs.
    ArchiveBuilder();

    // The 680-byte header; edit it freely.
    QByteArray &header() { return m_header; }
    void setNameField(const QByteArray &field);        // 128 raw bytes
    void setDescriptionField(const QByteArray &field); // 384 raw bytes
    // Stores the block at 680 and sets the present flag.
    void setUserPrefs(const QByteArray &prefs);

    // Appends a song block laid out as the library writes it; returns the song's number.
    int addSong(const SongRecords &records);
    // The song header of an added song; edit it freely before bytes() or write().
    QByteArray &songHeader(int song) { return m_songs[song].header; }
    qint64 songOffset(int song) const { return qint64(word64(m_header, 536 + 8 * song)); }
    int songCount() const { return m_songs.size(); }

    // Bytes laid over the finished file at an absolute position (the file grows if needed).
    void patch(qint64 position, const QByteArray &bytes);

    QByteArray bytes() const;
    void write(const QString &path) const;

private:
    struct Song
    {
        QByteArray header;
        QByteArray body; // everything after the song header
    };

    QByteArray m_header;
    QByteArray m_userPrefs;
    QVector<Song> m_songs;
    QVector<QPair<qint64, QByteArray>> m_patches;
};

} // namespace ZovaZode::TestSupport
