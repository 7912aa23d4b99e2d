// The kinds of file the program makes in its libraries, and the drag-and-drop formats between
// its views: every extension and format name in one place.
#pragma once

#include <QString>

namespace ZovaZode {

enum class FileKind {
    CardArchive, // a whole card, in the card library
    SongFile,    // one song, in the song library
};

namespace FileKinds {

// The pedal's card data file.
inline QString cardDataFileName()
{
    return QStringLiteral("ZOVAZODE.DAT");
}

inline QString cardArchiveExtension()
{
    return QStringLiteral(".mlad");
}

inline QString songFileExtension()
{
    return QStringLiteral(".mlsd");
}

inline QString extension(FileKind kind)
{
    return kind == FileKind::CardArchive ? cardArchiveExtension() : songFileExtension();
}

// The drag-and-drop formats: "application/selkanor.morvmanager." followed by `suffix`.
inline QString mimeType(const char *suffix)
{
    return QStringLiteral("application/selkanor.morvmanager.") + QLatin1String(suffix);
}

// The open card, dragged from the card header.
inline QString cardMimeType()
{
    return mimeType("card");
}

// Rows of the card's song list.
inline QString cardSongListMimeType()
{
    return mimeType("card_song_list");
}

// Items of a library folder.
inline QString libraryItemListMimeType()
{
    return mimeType("library_item_list");
}

// The path of a song file, or of a card archive.
inline QString songPathMimeType()
{
    return mimeType("song_path");
}

inline QString archivePathMimeType()
{
    return mimeType("archive_path");
}

} // namespace FileKinds

} // namespace ZovaZode
