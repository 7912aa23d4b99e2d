// Fuzz target: the update manifest parser, fed hostile XML (or any bytes).
//
// Promises checked: no crash; a refused manifest leaves an empty table and a reason; a manifest
// that parsed has at most 64 components, each with a kind its product may carry, a version, a
// release date and an address the update check may ask (https, or http on this computer); the
// parser reads the same manifest into the same table again (nothing of one manifest leaks into
// the next).
#include "qtfuzzsupport.h"

#include "update/updatemanifestparser.h"

#include <QByteArray>

using namespace ZovaZode;
using ZovaZode::Fuzz::require;
using ZovaZode::Fuzz::silenceQtMessages;

namespace {

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
    if (!parser.parse(bytes)) {
        require(parser.componentTable().isEmpty() && !parser.errorString().isEmpty(),
                "a refused manifest leaves an empty table and a reason");
        return 0;
    }
    require(parser.allComponents().size() <= UpdateManifestParser::MaximumComponents,
            "at most 64 components");
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
                        UpdateManifestParser::allowedAddress(component.address),
                    "a component has a version, a release date and an address the check may ask");
        }
    }
    const UpdateManifestParser::ComponentTable first = parser.componentTable();
    require(parser.parse(bytes) && sameTable(first, parser.componentTable()),
            "a manifest parses again into the same table");
    return 0;
}
