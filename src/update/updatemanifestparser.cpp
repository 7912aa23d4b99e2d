// The manifest grammar as a small state stack: every element start pushes exactly one state and
// every end pops one, so whatever sits inside an element we do not recognise is skipped whole.
// The stack never holds more than MaximumDepth states, whatever the input.
#include "update/updatemanifestparser.h"

#include <QBuffer>
#include <QHostAddress>
#include <QThread>
#include <QXmlStreamReader>

namespace ZovaZode {

namespace {

int productCode(const QStringRef &name)
{
    if (name == QLatin1String("MORV"))
        return UpdateManifestParser::ProductMorv;
    if (name == QLatin1String("MORV+"))
        return UpdateManifestParser::ProductMorvPlus;
    if (name == QLatin1String("Morv Updater"))
        return UpdateManifestParser::ProductMorvUpdater;
    if (name == QLatin1String("Morv Manager"))
        return UpdateManifestParser::ProductMorvManager;
    return -1;
}

// Pedal products carry firmware and content, the desktop products carry applications; a name
// that does not belong to its product gives -1.
int componentKind(int product, const QStringRef &name)
{
    if (product == UpdateManifestParser::ProductMorv || product == UpdateManifestParser::ProductMorvPlus) {
        if (name == QLatin1String("MP"))
            return UpdateManifestParser::KindMcuFirmware;
        if (name == QLatin1String("DSP"))
            return UpdateManifestParser::KindDspFirmware;
        if (name == QLatin1String("Styles"))
            return UpdateManifestParser::KindStyles;
        if (name == QLatin1String("Ensemble"))
            return UpdateManifestParser::KindEnsembleAudio;
        return -1;
    }
    if (name == QLatin1String("Win"))
        return UpdateManifestParser::KindWindowsApplication;
    if (name == QLatin1String("Mac"))
        return UpdateManifestParser::KindMacApplication;
    return -1;
}

} // namespace

bool UpdateManifestParser::parse(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return parse(&buffer);
}

bool UpdateManifestParser::parse(QIODevice *device)
{
    reset();
    m_error.clear();
    QXmlStreamReader reader;
    // The manifest uses no namespaces, and the reader's namespace and attribute bookkeeping grows
    // with the square of what one tag declares (a 900 KB tag took it minutes): the reader gets the
    // bytes 256 at a time, and a tag, text or comment still open once MaximumTokenBytes more have
    // arrived is refused before the reader ever looks at it whole.
    reader.setNamespaceProcessing(false);
    qint64 fed = 0;
    qint64 fedAtLastToken = 0;
    for (;;) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::Invalid) {
            if (reader.error() != QXmlStreamReader::PrematureEndOfDocumentError)
                break;
            if (fed - fedAtLastToken >= MaximumTokenBytes) {
                reader.raiseError(
                    QStringLiteral("a tag, text or comment longer than %1 bytes.").arg(MaximumTokenBytes));
                break;
            }
            const QByteArray chunk = device->read(256);
            if (chunk.isEmpty()) // the end of the data (or of what could be read): the document is cut
                break;
            fed += chunk.size();
            reader.addData(chunk);
            continue;
        }
        fedAtLastToken = fed;
        if (token == QXmlStreamReader::EndDocument)
            break;
        QString refusal;
        if (QThread::currentThread()->isInterruptionRequested())
            refusal = QStringLiteral("reading was interrupted.");
        else if (token == QXmlStreamReader::DTD)
            // Entity and attribute declarations serve no manifest, only attacks on the reader.
            refusal = QStringLiteral("a document type declaration.");
        else if (token == QXmlStreamReader::StartElement)
            refusal = startElement(reader.qualifiedName().toString(), reader.attributes());
        else if (token == QXmlStreamReader::EndElement)
            m_states.pop(); // the reader has checked that it closes what the last start opened
        if (!refusal.isEmpty()) {
            reader.raiseError(refusal);
            break;
        }
    }
    if (!reader.hasError())
        return true;
    m_error = QStringLiteral("Line %1 of the update manifest: %2")
                  .arg(reader.lineNumber())
                  .arg(reader.errorString());
    reset();
    return false;
}

// Pushes the state of the element that starts; a non-empty result refuses the manifest.
QString UpdateManifestParser::startElement(const QString &name, const QXmlStreamAttributes &attributes)
{
    if (m_states.size() == MaximumDepth)
        return QStringLiteral("elements nested more than %1 deep.").arg(MaximumDepth);
    const ParseState state = m_states.isEmpty() ? ParseState::Root : m_states.top();
    ParseState next = ParseState::Ignore;
    switch (state) {
    case ParseState::Root:
        if (name == QLatin1String("Family") &&
            attributes.value(QLatin1String("Name")) == QLatin1String("MORV"))
            next = ParseState::Family;
        break;
    case ParseState::Family:
        if (name == QLatin1String("Product")) {
            const int code = productCode(attributes.value(QLatin1String("Name")));
            if (code >= 0) {
                m_product = code;
                next = ParseState::Product;
            }
        }
        break;
    case ParseState::Product:
        if (name == QLatin1String("Components"))
            next = ParseState::Components;
        break;
    case ParseState::Components:
        if (name == QLatin1String("Component")) {
            const QString refusal = addComponent(attributes);
            if (!refusal.isEmpty())
                return refusal;
        }
        break;
    case ParseState::Ignore:
        break;
    }
    m_states.push(next);
    return QString();
}

QString UpdateManifestParser::addComponent(const QXmlStreamAttributes &attributes)
{
    if (++m_componentCount > MaximumComponents)
        return QStringLiteral("more than %1 components.").arg(MaximumComponents);
    Component component;
    component.kind = componentKind(m_product, attributes.value(QLatin1String("Name")));
    if (component.kind < 0)
        return QStringLiteral("Invalid component name");
    component.version = attributes.value(QLatin1String("Version")).toString();
    if (component.version.isEmpty())
        return QStringLiteral("Invalid component version");
    component.releaseDate = attributes.value(QLatin1String("ReleaseDate")).toString();
    if (component.releaseDate.isEmpty())
        return QStringLiteral("Invalid component release date");
    component.address = QUrl(attributes.value(QLatin1String("URL")).toString(), QUrl::TolerantMode);
    if (component.address.isEmpty())
        return QStringLiteral("Invalid component url");
    if (!allowedAddress(component.address))
        return QStringLiteral("the address \"%1\" is not an https address.")
            .arg(component.address.toString());
    m_table[m_product].append(component);
    return QString();
}

QList<UpdateManifestParser::Component> UpdateManifestParser::allComponents() const
{
    QList<Component> all;
    for (const QList<Component> &list : m_table)
        all += list;
    return all;
}

QList<UpdateManifestParser::Component> UpdateManifestParser::components(int productCode) const
{
    return m_table.value(productCode);
}

void UpdateManifestParser::reset()
{
    m_table.clear();
    m_states.clear();
    m_componentCount = 0;
}

QString UpdateManifestParser::kindName(int kind)
{
    switch (kind) {
    case KindMcuFirmware:
        return QStringLiteral("MCU Firmware");
    case KindDspFirmware:
        return QStringLiteral("DSP Firmware");
    case KindStyles:
        return QStringLiteral("Styles");
    case KindEnsembleAudio:
        return QStringLiteral("Ensemble Audio");
    case KindWindowsApplication:
        return QStringLiteral("Windows Application");
    case KindMacApplication:
        return QStringLiteral("Mac OS X Application");
    default:
        return QStringLiteral("Unknown Component");
    }
}

bool UpdateManifestParser::allowedAddress(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme();
    return scheme == QLatin1String("https") ||
           (scheme == QLatin1String("http") && QHostAddress(url.host()).isLoopback());
}

} // namespace ZovaZode
