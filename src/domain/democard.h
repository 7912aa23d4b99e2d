// A card data file to try the program on without a pedal, and to measure transfers with: a
// full-size sparse ZOVAZODE.DAT whose every record passes the pedal's rules, with named songs
// whose parts show every part state, their sequences, and short looper recordings of a tone.
// Every record is written through the card data library and the record conversions, so the
// demo can never disagree with the format the rest of the program reads.
#pragma once

#include <QString>

#include <functional>

namespace ZovaZode {

class DemoCard
{
public:
    // (audio bytes written, audio bytes to write); true asks to stop.
    using Progress = std::function<bool(qint64 done, qint64 total)>;

    static constexpr int kPartsOnCard = 60;

    // full: the first `recordedParts` parts, in song then part order, hold a recording of the
    // longest length a part can take (for benchmarks); the others are empty.
    explicit DemoCard(bool full = false, int recordedParts = kPartsOnCard);

    // The bytes of looper audio write() puts on the card.
    qint64 audioBytes() const;

    // Writes the card as a new file at `path`. It is built under a temporary name (NewFile) and
    // takes its name only when complete, so an interrupted run never leaves a card behind that a
    // reader would trust. Returns false when `progress` asked to stop. Throws SdCard::Error
    // when the file cannot be made (the message ends with the library's error text); an
    // existing file at `path` is refused, never replaced.
    bool write(const QString &path, const Progress &progress = {}) const;

    // Where the window's "Make a demo card" and scripts/run write it, and where the window offers
    // it: the documents folder's "Morv+ Demo Card/ZOVAZODE.DAT".
    static QString defaultPath();

    static QString cardName();
    static QString cardDescription();

private:
    bool m_full;
    int m_recordedParts;
};

} // namespace ZovaZode
