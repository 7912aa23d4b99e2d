// One song behind a song details window, loaded from the open card or from a file in one of
// the two libraries. It keeps a copy of the song's record, reads the parts on demand and
// writes an edited name and description back to where the song came from.
#pragma once

#include "domain/cardrecords.h"

#include <QObject>
#include <QString>
#include <QVector>

#include <memory>

namespace ZovaZode {

class SdCard;

enum class SongSource { None = 0, Card = 1, CardArchive = 2, SongFile = 3 };

class Song : public QObject
{
    Q_OBJECT

public:
    explicit Song(QObject *parent = nullptr);
    ~Song() override;

    void loadFromCard(const std::shared_ptr<SdCard> &card, int song);
    // A song file renamed after a new name stays within `library` (the song library's folder),
    // or within its own folder when that is empty.
    void loadFromArchive(const QString &path, int song, bool isSongFile, const QString &library = QString());
    void clear();

    SongSource source() const;
    int index() const;
    QString filePath() const;
    QString name() const;
    QString description() const;
    // The details dialog edits name and description here before calling save().
    SongInfo &songInfo();

    QVector<PartInfo> parts() const;
    bool save();

signals:
    void loaded();
    void cleared();
    void saved();

private:
    void disconnectCard();
    bool saveToSongFile();

    SongSource m_source = SongSource::None;
    std::shared_ptr<SdCard> m_card;
    QString m_path;
    QString m_library;
    int m_index = -1;
    SongInfo m_info;
};

} // namespace ZovaZode
