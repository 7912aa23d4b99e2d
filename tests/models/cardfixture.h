// A card for the widget and model tests: a sparse card image in a temporary folder, an SdCard
// on it, and song and part records written with the test-support builders.
#pragma once

#include "domain/sdcard.h"
#include "support/cardimage.h"
#include "support/records.h"

#include <QTemporaryDir>
#include <QVector>

#include <memory>

namespace ZovaZode::TestSupport {

// A part record whose partState is `state`: 0 empty, 1 normal, 2 intense, 3 looper.
inline PartFields partWithState(int state)
{
    PartFields fields;
    fields.inUse = state == 0 ? 0 : 1;
    fields.count = state == 0 ? 0 : 3;
    fields.intense = state == 2 ? 1 : 0;
    fields.looperFlag = state == 3 ? 1 : 0;
    return fields;
}

struct CardFixture
{
    QTemporaryDir dir;
    CardImage image{dir.path()};
    std::shared_ptr<SdCard> card = std::make_shared<SdCard>();

    explicit CardFixture(const QByteArray &name = "Test Card",
                         const QByteArray &description = "A card for tests")
    {
        image.create(name, description);
    }

    bool open(bool writable = true) { return card->open(image.path(), writable ? 1 : 0); }

    void writeSong(int song, const QByteArray &name, const QByteArray &description = "A song")
    {
        SongFields fields;
        fields.name = name;
        fields.description = description;
        image.writeSongData(song, songData(fields));
    }

    void writeStates(int song, const QVector<int> &states)
    {
        for (int part = 0; part < states.size(); ++part)
            image.writePartData(song, part, partData(partWithState(states.at(part))));
    }

    // The name stored in the card file itself, not in any cache.
    QByteArray storedSongName(int song) const
    {
        return text(image.read(CardImage::songDataRange(song)), 4, 128);
    }
    QByteArray storedSongDescription(int song) const
    {
        return text(image.read(CardImage::songDataRange(song)), 132, 384);
    }
};

} // namespace ZovaZode::TestSupport
