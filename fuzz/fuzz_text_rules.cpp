// Fuzz target: the text and name rules of the domain layer over hostile bytes. The input is
// a text field as the card stores it (no terminator needed, any bytes, invalid UTF-8 included),
// a song record and a part record (the input, zero-padded or cut to the record's size), and a
// name as a user or a card may give it.
//
// Promises checked: no crash, and no read past a field (each field lies in a heap block of
// exactly its size, so AddressSanitizer sees a read one byte beyond); a decoded text that fits
// its field comes back unchanged from encoding and decoding; a song record's values survive
// being written into the record and read again when its texts fit; a library file name has
// no forbidden characters, no leading dot or space, fits its byte limit and is never empty;
// a name cut to a byte limit is a prefix of the name and fits.
#include "qtfuzzsupport.h"

#include "domain/cardrecords.h"
#include "domain/libraryfilenames.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <memory>

using namespace ZovaZode;
using ZovaZode::Fuzz::require;
using ZovaZode::Fuzz::silenceQtMessages;

namespace {

// A field of exactly n bytes from the input, zero-padded; kept on the heap so that a read past
// its end is caught.
std::unique_ptr<uint8_t[]> field(const uint8_t *data, size_t size, size_t n)
{
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[n]);
    std::memset(bytes.get(), 0, n);
    if (size > 0)
        std::memcpy(bytes.get(), data, std::min(size, n));
    return bytes;
}

void textField(const uint8_t *data, size_t size, size_t n, bool (*fits)(const QString &))
{
    const std::unique_ptr<uint8_t[]> stored = field(data, size, n);
    const QString text = decodeCardText(stored.get(), n);
    if (!fits(text))
        return;
    const std::unique_ptr<uint8_t[]> encoded = field(nullptr, 0, n);
    encodeCardText(text, encoded.get(), n);
    require(decodeCardText(encoded.get(), n) == text, "a text that fits its field survives encoding");
}

void songRecord(const uint8_t *data, size_t size)
{
    SongRecord record{};
    std::memcpy(record.data(), data, std::min(size, record.size()));
    const SongInfo info = songInfoFromRecord(record);
    require(info.sequence.size() <= carddata::kSongSequenceSlots, "a song sequence has at most 100 steps");
    if (!isValidCardName(info.name) || !isValidCardDescription(info.description))
        return;
    SongRecord written = record;
    songInfoToRecord(info, written);
    require(songInfoFromRecord(written) == info, "a song's values survive being written into its record");
}

void partRecord(const uint8_t *data, size_t size)
{
    static PartRecord record;
    record.fill(0);
    std::memcpy(record.data(), data, std::min(size, record.size()));
    const PartInfo info = partInfoFromRecord(record);
    const int state = partState(info);
    require(state >= 0 && state <= 3, "a part's state is one of four");
}

void names(const uint8_t *data, size_t size)
{
    // Names come from a card's 128-byte fields or an edit held to them; 384 bytes leaves room
    // past every limit without timing the cut's search over kilobytes of text.
    const QString name =
        QString::fromUtf8(reinterpret_cast<const char *>(data), int(std::min<size_t>(size, 384)));
    require(hasNoForbiddenCharacters(removeForbiddenCharacters(name)),
            "removing forbidden characters removes them all");

    const int limit = size > 0 ? data[0] : 0;
    const QString cut = fitFileNameBytes(name, limit);
    require(name.startsWith(cut), "a name cut to fit is a prefix of the name");
    require(QFile::encodeName(cut).size() <= limit, "a name cut to fit fits");

    const QString file = archiveFileName(name);
    require(!file.isEmpty() && QFile::encodeName(file).size() <= kLibraryFileNameBytes,
            "a library file name fits its limit");
    require(hasNoForbiddenCharacters(file), "a library file name has no forbidden characters");
    require(!file.startsWith(QLatin1Char('.')) && !file.at(0).isSpace(), "a library file name is not hidden");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    silenceQtMessages();
    textField(data, size, carddata::kTextNameSize, isValidCardName);
    textField(data, size, carddata::kTextDescriptionSize, isValidCardDescription);
    songRecord(data, size);
    partRecord(data, size);
    names(data, size);
    return 0;
}
