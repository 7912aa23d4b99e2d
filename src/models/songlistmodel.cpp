// SongListModel: the card's song slots, cached from the card and edited in place.
#include "models/songlistmodel.h"
#include "domain/filekinds.h"

#include "domain/namecheck.h"
#include "domain/sdcard.h"

#include <QDataStream>
#include <QDebug>
#include <QMimeData>

namespace ZovaZode {

namespace {

constexpr int kColumnCount = 6;
constexpr int kPartCount = 5;
constexpr int kSongFileKind = 1;

} // namespace

const QString SongListModel::cardSongListMimeType = FileKinds::cardSongListMimeType();
const QString SongListModel::songPathMimeType = FileKinds::songPathMimeType();
const QString SongListModel::libraryItemListMimeType = FileKinds::libraryItemListMimeType();

SongListModel::SongListModel(std::shared_ptr<SdCard> card, QObject *parent)
    : QAbstractItemModel(parent),
      m_card(std::move(card)), m_headers{QStringLiteral("Number"),       QStringLiteral("Name"),
                                         QStringLiteral("Description"),  QStringLiteral("PartState"),
                                         QStringLiteral("Active Parts"), QStringLiteral("Sequence Parts")}
{
    connect(m_card.get(), &SdCard::opened, this, &SongListModel::reload);
    connect(m_card.get(), &SdCard::closed, this, &SongListModel::reload);
}

SongListModel::~SongListModel() = default;

QModelIndex SongListModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || !hasRow(row) || column < 0)
        return QModelIndex();
    return createIndex(row, column);
}

QModelIndex SongListModel::parent(const QModelIndex &) const
{
    return QModelIndex();
}

int SongListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_songs.size();
}

int SongListModel::columnCount(const QModelIndex &) const
{
    return kColumnCount;
}

QVariant SongListModel::data(const QModelIndex &index, int role) const
{
    if (!hasRow(index.row()))
        return QVariant();
    const SongEntry &entry = m_songs.at(index.row());
    switch (role) {
    case NameRole:
        return entry.info.name;
    case DescriptionRole:
        return entry.info.description;
    case PartsRole:
        return entry.partStates;
    case Qt::DisplayRole:
        switch (index.column()) {
        case 0:
            return entry.info.name;
        case 1:
            return entry.info.description;
        case 2:
            return entry.partStates;
        case 3:
            return entry.activeParts;
        case 4:
            return entry.info.sequence.size();
        default:
            return QVariant();
        }
    case Qt::EditRole:
        if (index.column() == 0)
            return entry.info.name;
        if (index.column() == 1)
            return entry.info.description;
        return QVariant();
    default:
        return QVariant();
    }
}

bool SongListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || !hasRow(index.row()))
        return false;
    bool changed = false;
    if (index.column() == 0)
        changed = setSongName(index.row(), value.toString());
    else if (index.column() == 1)
        changed = setSongDescription(index.row(), value.toString());
    if (!changed)
        return false;
    save();
    return true;
}

QVariant SongListModel::headerData(int section, Qt::Orientation, int role) const
{
    if (role != Qt::DisplayRole || section < 0 || section >= m_headers.size())
        return QVariant();
    return m_headers.at(section);
}

Qt::ItemFlags SongListModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags result =
        Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
    if (m_card->isWritable() && index.column() == 0)
        result |= Qt::ItemIsEditable;
    return result;
}

QHash<int, QByteArray> SongListModel::roleNames() const
{
    return {{NameRole, QByteArrayLiteral("name")},
            {DescriptionRole, QByteArrayLiteral("description")},
            {PartsRole, QByteArrayLiteral("parts")}};
}

QStringList SongListModel::mimeTypes() const
{
    return {cardSongListMimeType};
}

QMimeData *SongListModel::mimeData(const QModelIndexList &indexes) const
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    for (const QModelIndex &index : indexes) {
        if (index.isValid() && index.column() == 0)
            stream << qint32(index.row());
    }
    auto *data = new QMimeData;
    data->setData(cardSongListMimeType, bytes);
    return data;
}

bool SongListModel::canDropMimeData(const QMimeData *data, Qt::DropAction, int, int,
                                    const QModelIndex &) const
{
    return data && m_card->isOpen() && data->hasFormat(songPathMimeType);
}

bool SongListModel::dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                                 const QModelIndex &parent)
{
    qDebug() << "SD Card: Mime data dropped.";
    if (!canDropMimeData(data, action, row, column, parent))
        return false;
    if (action == Qt::IgnoreAction)
        return true;

    const int slot = parent.isValid() ? parent.row() : row;
    // Below the last row the view passes -1, and a song slot of -1 would name the whole card.
    if (!hasRow(slot)) {
        qDebug() << "SD Card: Dropped outside the song slots.";
        return false;
    }

    QByteArray bytes = data->data(libraryItemListMimeType);
    QDataStream stream(&bytes, QIODevice::ReadOnly);
    QVector<QPair<qint32, QString>> records;
    while (!stream.atEnd()) {
        qint32 kind = 0;
        QString path;
        stream >> kind >> path;
        if (stream.status() != QDataStream::Ok)
            break;
        records.append({kind, path});
    }
    if (records.size() != 1 || stream.status() != QDataStream::Ok) {
        qDebug() << "SD Card: Dragged data does not contain exactly 1 song.";
        return false;
    }
    if (records.first().first != kSongFileKind) {
        qDebug() << "SD Card: Dropped item is not a song.";
        return false;
    }
    emit songRestoreRequest(slot, records.first().second);
    return true;
}

Qt::DropActions SongListModel::supportedDropActions() const
{
    return Qt::CopyAction;
}

void SongListModel::save()
{
    if (!m_card->isOpen()) {
        qWarning() << "Trying to save song list, but no card open.";
        return;
    }
    for (int row = 0; row < m_songs.size(); ++row) {
        SongEntry &entry = m_songs[row];
        if (!entry.modified)
            continue;
        entry.modified = false;
        qDebug() << "Saving song number" << row;
        try {
            m_card->setSongInfo(row, entry.info);
        } catch (const SdCard::Error &error) {
            qCritical() << "Failed to save song number" << row << ":" << error.what();
            readEntry(row);
            emit songSaved(row, QString::fromUtf8(error.what()));
            continue;
        }
        emit songSaved(row, QString());
    }
}

bool SongListModel::setSongName(int index, const QString &name)
{
    if (!hasRow(index) || name.isEmpty())
        return false;
    const QString refusal = renameRefusal(name);
    if (!refusal.isEmpty()) {
        emit nameRefused(refusal, this->index(index, 0), name);
        return false;
    }
    m_songs[index].info.name = name;
    m_songs[index].modified = true;
    const QModelIndex changed = this->index(index, 0);
    emit dataChanged(changed, changed);
    return true;
}

bool SongListModel::setSongDescription(int index, const QString &description)
{
    if (!hasRow(index))
        return false;
    m_songs[index].info.description = description;
    m_songs[index].modified = true;
    const QModelIndex changed = this->index(index, 0);
    emit dataChanged(changed, changed);
    return true;
}

SongListModel::SongEntry SongListModel::loadEntry(int song) const
{
    SongEntry entry;
    entry.info = m_card->songInfo(song);
    for (int part = 0; part < kPartCount; ++part) {
        const PartInfo info = m_card->partInfo(song, part);
        entry.partStates.append(partState(info));
        if (info.isActive())
            ++entry.activeParts;
    }
    return entry;
}

void SongListModel::reload()
{
    beginResetModel();
    m_songs.clear();
    if (m_card->isOpen()) {
        int song = 0;
        try {
            for (; song < SdCard::songCount(); ++song)
                m_songs.append(loadEntry(song));
        } catch (const SdCard::Error &) {
            qCritical() << "Failed reading song info at position" << song;
            m_songs.clear();
        }
    }
    endResetModel();
}

void SongListModel::readEntry(int row)
{
    if (!m_card->isOpen() || !hasRow(row))
        return;
    // Callers re-read a row after writing the card from a slot or a finished transfer; a read
    // failure there keeps the row as it was rather than escaping into the event loop.
    try {
        m_songs[row] = loadEntry(row);
    } catch (const SdCard::Error &) {
        qCritical() << "Failed reading song info at position" << row;
        return;
    }
    emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
}

QString SongListModel::songName(int row) const
{
    return data(index(row, 0), Qt::DisplayRole).toString();
}

bool SongListModel::isEmptySong(int row) const
{
    if (!hasRow(row))
        return true;
    for (const QVariant &state : m_songs.at(row).partStates) {
        if (state.toInt() != 0)
            return false;
    }
    return true;
}

} // namespace ZovaZode
