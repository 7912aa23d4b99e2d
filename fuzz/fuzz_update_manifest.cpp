// Fuzz target: the update manifest parser under the XML reader the update manager uses, fed
// hostile XML (or any bytes).
//
// Promises checked: no crash; every component of a manifest that parsed has a kind its product
// may carry, a version, a release date and an address; the parser, reset, reads the same
// manifest into the same table again (nothing of one manifest leaks into the next).
#include "qtfuzzsupport.h"

#include "update/updatemanifestparser.h"

#include <QBuffer>
#include <QByteArray>
#include <QXmlSimpleReader>

using namespace ZovaZode;
using ZovaZode::Fuzz::require;
using ZovaZode::Fuzz::silenceQtMessages;

namespace {

QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
bool parse(UpdateManifestParser &parser, const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QXmlInputSource source(&buffer);
    QXmlSimpleReader reader;
    reader.setContentHandler(&parser);
    return reader.parse(&source);
}
QT_WARNING_POP

bool sameTable(const UpdateManifestParser::ComponentTable &a, const UpdateManifestParser::ComponentTable &b)
{
    if (a.keys() != b.keys())
        return false;
    for (auto it = a.begin(); it != a.end(); ++it) {
        const auto &other = b[it.key()];
        if (it->size() != other.size())
            return false;
        for (int i = 0; i < it->size(); ++i) {
            const auto &x = it->at(i);
            const auto &y = other.at(i);
            if (x.kind != y.kind || x.address != y.address || x.version != y.version ||
                x.releaseDate != y.releaseDate)
                return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    silenceQtMessages();
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    static UpdateManifestParser parser;
    parser.reset();
    if (!parse(parser, bytes))
        return 0;
    for (int product : parser.componentTable().keys()) {
        const bool pedal =
            product == UpdateManifestParser::ProductMorv || product == UpdateManifestParser::ProductMorvPlus;
        for (const UpdateManifestParser::Component &component : parser.components(product)) {
            require(pedal ? component.kind >= UpdateManifestParser::KindMcuFirmware &&
                                component.kind <= UpdateManifestParser::KindEnsembleAudio
                          : component.kind == UpdateManifestParser::KindWindowsApplication ||
                                component.kind == UpdateManifestParser::KindMacApplication,
                    "a component's kind belongs to its product");
            require(!component.version.isEmpty() && !component.releaseDate.isEmpty() &&
                        !component.address.isEmpty(),
                    "a component has a version, a release date and an address");
        }
    }
    const UpdateManifestParser::ComponentTable first = parser.componentTable();
    parser.reset();
    require(parse(parser, bytes) && sameTable(first, parser.componentTable()),
            "a manifest parses again into the same table");
    return 0;
}
