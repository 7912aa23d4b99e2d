// Byte ranges of files that may be gigabytes long and mostly holes, read, written and compared in
// bounded chunks so that no test holds a card in memory.
#pragma once

#include "memorystream.h"

#include <QByteArray>
#include <QFileInfo>
#include <QString>
#include <QVector>

namespace ZovaZode::TestSupport {

// One kind of range for the files on disk and the files in memory.
using ByteRange = WriteRange;
inline bool operator==(const ByteRange &a, const ByteRange &b) { return a.start == b.start && a.size == b.size; }

// Up to `size` bytes at `position`; fewer when the file ends first.
QByteArray readRange(const QString &path, qint64 position, qint64 size);
// Writes `bytes` at `position`, growing the file if needed; ends the test run if it cannot.
void writeRange(const QString &path, qint64 position, const QByteArray &bytes);
inline qint64 fileSize(const QString &path) { return QFileInfo(path).size(); }
// A whole small file (an archive, never a card); empty when it cannot be read.
inline QByteArray wholeFile(const QString &path) { return readRange(path, 0, fileSize(path)); }
QString describe(const QVector<ByteRange> &ranges);

// A QTemporaryDir template on a memory file system when the machine has one: every card the
// library closes is synced, which costs most of a second on a disk.
QString scratchFolderTemplate();
int openFileDescriptorCount();

} // namespace ZovaZode::TestSupport
