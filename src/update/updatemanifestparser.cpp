// The manifest grammar as a small state stack: every element start pushes exactly one state and
// every end pops one, so whatever sits inside an element we do not recognise is skipped whole.
#include "update/updatemanifestparser.h"

#include <QtDebug>

namespace ZovaZode {

QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED

namespace {

int productCode(const QString &name)
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
int componentKind(int product, const QString &name)
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

bool UpdateManifestParser::startDocument()
{
    m_states.clear();
    return true;
}

bool UpdateManifestParser::endDocument()
{
    return m_states.isEmpty();
}

bool UpdateManifestParser::startElement(const QString &, const QString &, const QString &qName,
                                        const QXmlAttributes &attributes)
{
    const ParseState state = m_states.isEmpty() ? ParseState::Root : m_states.top();
    ParseState next = ParseState::Ignore;
    switch (state) {
    case ParseState::Root:
        if (qName == QLatin1String("Family") &&
            attributes.value(QStringLiteral("Name")) == QLatin1String("MORV"))
            next = ParseState::Family;
        break;
    case ParseState::Family:
        if (qName == QLatin1String("Product")) {
            const int code = productCode(attributes.value(QStringLiteral("Name")));
            if (code >= 0) {
                m_product = code;
                next = ParseState::Product;
            }
        }
        break;
    case ParseState::Product:
        if (qName == QLatin1String("Components"))
            next = ParseState::Components;
        break;
    case ParseState::Components:
        if (qName == QLatin1String("Component") && !addComponent(attributes))
            return false;
        break;
    case ParseState::Ignore:
        break;
    }
    m_states.push(next);
    return true;
}

bool UpdateManifestParser::endElement(const QString &, const QString &, const QString &)
{
    if (m_states.isEmpty()) {
        qCritical("ERROR: UpdateManifestParser: Failed to pop state.");
        return false;
    }
    m_states.pop();
    return true;
}

bool UpdateManifestParser::addComponent(const QXmlAttributes &attributes)
{
    Component component;
    component.kind = componentKind(m_product, attributes.value(QStringLiteral("Name")));
    if (component.kind < 0) {
        qCritical("Invalid component name");
        return false;
    }
    component.version = attributes.value(QStringLiteral("Version"));
    if (component.version.isEmpty()) {
        qCritical("Invalid component version");
        return false;
    }
    component.releaseDate = attributes.value(QStringLiteral("ReleaseDate"));
    if (component.releaseDate.isEmpty()) {
        qCritical("Invalid component release date");
        return false;
    }
    component.address = QUrl(attributes.value(QStringLiteral("URL")), QUrl::TolerantMode);
    if (component.address.isEmpty()) {
        qCritical("Invalid component url");
        return false;
    }
    m_table[m_product].append(component);
    return true;
}

QT_WARNING_POP

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

} // namespace ZovaZode
