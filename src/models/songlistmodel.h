// The songs of the open card as a flat item model: one row per song slot, the song's record
// and part states cached per row, in-place renaming written straight to the card, the rows as
// drag data, and a dropped song file turned into a request to restore it into a slot.
#pragma once

#include "domain/cardrecords.h"

#include <QAbstractItemModel>
#include <QStringList>
#include <QVariantList>
#include <QVector>

#include <memory>

namespace ZovaZode {

class SdCard;

class SongListModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    enum Role { NameRole = Qt::UserRole + 1, DescriptionRole, PartsRole };

    static const QString cardSongListMimeType;
    static const QString songPathMimeType;
    static const QString libraryItemListMimeType;

    SongListModel(std::shared_ptr<SdCard> card, QObject *parent = nullptr);
    ~SongListModel() override;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QHash<int, QByteArray> roleNames() const override;

    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    bool canDropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                         const QModelIndex &parent) const override;
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;
    Qt::DropActions supportedDropActions() const override;

    Q_INVOKABLE void save();
    Q_INVOKABLE bool setSongName(int index, const QString &name);
    Q_INVOKABLE bool setSongDescription(int index, const QString &description);

    void reload();
    void readEntry(int row);
    QString songName(int row) const;
    bool isEmptySong(int row) const;

signals:
    void songRestoreRequest(int index, QString file);
    // A new name was refused before anything was written; the text says why, `name` is the name
    // refused for the item `index`.
    void nameRefused(const QString &text, const QModelIndex &index, const QString &name);
    // An edited row was written to the card, or failed to be (`error` says why; the row shows
    // what the card holds again).
    void songSaved(int row, const QString &error);

private:
    struct SongEntry
    {
        SongInfo info;
        QVariantList partStates;
        qint32 activeParts = 0;
        bool modified = false;
    };

    SongEntry loadEntry(int song) const;
    bool hasRow(int row) const { return row >= 0 && row < m_songs.size(); }

    std::shared_ptr<SdCard> m_card;
    QStringList m_headers;
    QVector<SongEntry> m_songs;
};

} // namespace ZovaZode
