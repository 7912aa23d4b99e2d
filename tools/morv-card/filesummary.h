// What `morv-card info` shows of a card data file, a card archive or a song file: the name,
// the description and, per song, its texts, its five part states and its sequence, read
// through SdCard and SongArchive as the window reads them; and how `morv-card verify` shows
// what the file check found.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QVector>

#include <array>

namespace ZovaZode {

class FileCheck;

// `verify --json`: {"ok", "problems": [{"where", "text", "song", "part", "offset"}]}, the last
// three numbers (counted from 1, the offset in bytes) or null.
QJsonObject checkToJson(const FileCheck &check);
// "<path>: <kind>, <n> problems found[, <what the record of how an archive was made says>].".
QString checkSummary(const QString &path, const FileCheck &check);
// Each problem as "<where>: <what>", then the summary.
QString checkToText(const QString &path, const FileCheck &check);

class FileSummary
{
public:
    enum class Kind { Card, CardArchive, SongFile, Archive };

    struct Song
    {
        int slot = 0; // 1 to 12
        QString name;
        QString description;
        std::array<int, 5> partStates{}; // partState(): 0 empty, 1 normal, 2 intense, 3 looper
        QVector<qint32> sequence;        // part numbers as stored (0 to 4)
    };

    // Tells a card from an archive by the file's first bytes or its name. Throws ToolError whose
    // message ends with the system's or the library's error text when the file cannot be read. A card is read
    // under its shared lock, and nothing is written next to it.
    static FileSummary read(const QString &path);

    static QString kindName(Kind kind);      // "card", "card-archive", "song-file", "archive"
    static QString partStateName(int state); // "empty", "normal", "intense", "looper"

    // The names and descriptions exactly as stored.
    QJsonObject toJson() const;
    // For a terminal: names and descriptions through printable().
    QString toText() const;

    Kind kind = Kind::Card;
    QString path;
    QString name;
    QString description;
    bool writable = false;  // a card only
    bool userPrefs = false; // an archive only
    QVector<Song> songs;

private:
    static FileSummary readCard(const QString &path);
    static FileSummary readArchive(const QString &path);
};

} // namespace ZovaZode
