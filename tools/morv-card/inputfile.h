// The files a command is given, checked before anything is opened through the card data library:
// a missing file, a folder, a FIFO or a file the user may not read is refused with the system's
// own reason and with what the file was taken for, not with a library's guess at a broken card.
#pragma once

#include "domain/cardlock.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace ZovaZode {

class SdCard;

namespace InputFile {

// What a file was taken for, as the messages name it.
enum class Role { Any, Card, Archive, SongFile };

// Throws ToolError unless `path` is a regular file that can be opened for reading; returns its
// first four bytes. Opened without blocking, so that a FIFO cannot hang the command.
QByteArray requireReadable(const QString &path, Role role);
// A new file is never written over anything.
void refuseExisting(const QString &path);
// Asks the system, so that nothing is written to find out.
void requireWritable(const QString &cardPath);

// Opens the card as the window does; for writing only when the system says it may be written.
std::shared_ptr<SdCard> openCard(const QString &path, bool forWriting);
// Holds the card's lock for a command's own reads or writes; a card in use by another program
// ends the command with the lock's message.
std::unique_ptr<CardLock> lockCard(const QString &path, CardLock::Mode mode);
// The exclusive lock of a command that writes the card, for all its steps on every thread.
std::shared_ptr<CardLock> lockForCommand(const QString &path);
// The refusal of a card that is busy, or that cannot be locked (with the way around it).
QString lockRefusal(const QString &text);
// The name of `song` (0 to 11), and whether any of its parts holds data.
QString songName(const SdCard &card, int song);
bool songHasData(const SdCard &card, int song);

} // namespace InputFile
} // namespace ZovaZode
