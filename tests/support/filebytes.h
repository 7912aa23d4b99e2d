// Byte ranges of files that may be gigabytes long and mostly holes, read, written and compared in
// bounded chunks so that no test holds a card in memory.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

namespace ZovaZode::TestSupport {

struct ByteRange
{
    qint64 start = 0;
    qint64 size = 0;
    qint64 end() const { return start + size; }
    bool operator==(const ByteRange &other) const { return start == other.start && size == other.size; }
};

// Up to `size` bytes at `position`; fewer when the file ends first.
QByteArray readRange(const QString &path, qint64 position, qint64 size);
// Writes `bytes` at `position`, growing the file if needed; ends the test run if it cannot.
void writeRange(const QString &path, qint64 position, const QByteArray &bytes);
bool rangesEqual(const QString &pathA, qint64 positionA, const QString &pathB, qint64 positionB, qint64 size);
qint64 fileSize(const QString &path);
// A whole small file (an archive, never a card); empty when it cannot be read.
inline QByteArray wholeFile(const QString &path)
{
    return readRange(path, 0, fileSize(path));
}
// The regions of a sparse file that hold data; everything else reads as zeros.
QVector<ByteRange> dataExtents(const QString &path);
// The sorted, merged union of `ranges`.
QVector<ByteRange> normalized(QVector<ByteRange> ranges);
QVector<ByteRange> subtract(const QVector<ByteRange> &ranges, const QVector<ByteRange> &removed);
QString describe(const QVector<ByteRange> &ranges);

// A QTemporaryDir template on a memory file system when the machine has one: every card the
// library closes is synced, which costs most of a second on a disk.
QString scratchFolderTemplate();
int openFileDescriptorCount();

} // namespace ZovaZode::TestSupport
