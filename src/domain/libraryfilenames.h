// The names the program gives the files of its libraries, in one place: the characters no name
// may hold, what is left out of a file name besides, the byte limit of a generated name, the file
// names of card archives and song files made from the names on the card, and the names of the
// safety copies (the card's and the song's part, the occasion, the time and the counter), with
// the reading back of the latter. Everything here is a rule about text; the folders and files
// themselves are LibraryFolder's, NewFile's and SafetyCopies'.
#pragma once

#include <QDateTime>
#include <QRegularExpression>
#include <QString>

#include <optional>

namespace ZovaZode {

// The characters not permitted in a name, on the card as in a file name: < > : ; " ' / \ | ? * !
// ^ [ ] { } ( ) and control characters.
QRegularExpression forbiddenNameCharacters();
bool hasNoForbiddenCharacters(const QString &text);
QString removeForbiddenCharacters(const QString &text);

// The longest name, in bytes of its encoded form, that a generated library file may have: a new
// file is first written under its name plus a temporary suffix (".<8 characters>.partial", see
// NewFile), and both must fit the 255-byte limit of common file systems.
inline constexpr int kLibraryFileNameBytes = 238;

// `text` without what never goes into a generated file name: the characters not permitted in a
// name, control characters, and invisible format characters (bidirectional controls U+202A-U+202E,
// U+2066-U+2069, U+200E, U+200F, U+061C; zero-width characters) and line separators.
QString removeFileNameCharacters(const QString &text);
// `text` cut at a character boundary so that its encoded file-name form has at most `bytes` bytes.
QString fitFileNameBytes(const QString &text, int bytes);
// A file name from a card or song name: removeFileNameCharacters(), no leading dots or spaces
// (which would hide the file), cut to fit with the extension, or `fallback` when nothing is left.
QString libraryFileName(const QString &name, const QString &extension, const QString &fallback);

// The file name of a card archive in the card library, and of a song file in the song library.
QString archiveFileName(const QString &cardName);
QString songFileName(const QString &songName);

// The parts of a safety copy's file name.
struct SafetyCopyName
{
    QString cardName;
    // The card slot (from 0) of a song's copy; -1 for a copy of the whole card.
    int slot = -1;
    QString songName;
    // Why it was made: "before restore", ...
    QString occasion;
    // To the second.
    QDateTime when;
    // 2, 3... up to kMaxSafetyCopyCounter for the second and later copies of one second.
    int counter = 1;
};
inline constexpr int kMaxSafetyCopyCounter = 999;

// "<card> - <occasion> - 2026-12-06 10.33.27.mlad" for a copy of the card, "<card> - song 03
// <song> - <occasion> - <time>.mlsd" for one of a song, with " (<counter>)" before the extension
// from the second copy of one second on. The card's and the song's names share what the rest of
// the name leaves of kLibraryFileNameBytes, so that every counter fits too.
QString safetyCopyFileName(const SafetyCopyName &name);
// What the file name of a copy tells; nothing when `fileName` is not the whole name of one, or
// names a time that never was.
std::optional<SafetyCopyName> parseSafetyCopyFileName(const QString &fileName);

} // namespace ZovaZode
