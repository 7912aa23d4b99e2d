// UpdateManifestParser fed through QXmlSimpleReader, as the update manager does: which elements
// make records, which are skipped whole, and which component faults abort the parse.
//
// The tables write manifests in shorthand: "[P|...]" is a product named P with a Components
// element around "...", and "{X}" is a complete component named X whose address ends in "/X".
#include "update/updatemanifestparser.h"

#include <QRegularExpression>
#include <QStringList>
#include <QXmlSimpleReader>
#include <QtTest>

using ZovaZode::UpdateManifestParser;

QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED

namespace {

QString expand(QString xml)
{
    xml.replace(QRegularExpression(QStringLiteral("\\[([^|\\]]*)\\|")),
                QStringLiteral("<Product Name='\\1'><Components>"));
    xml.replace(QLatin1Char(']'), QStringLiteral("</Components></Product>"));
    xml.replace(QRegularExpression(QStringLiteral("\\{(\\w*)\\}")),
                QStringLiteral(
                    "<Component Name='\\1' Version='1.2.0' ReleaseDate='2021-05-01' URL='http://h/\\1'/>"));
    return xml;
}

bool parse(UpdateManifestParser &parser, const QString &xml)
{
    QXmlInputSource source;
    source.setData(expand(xml));
    QXmlSimpleReader reader;
    reader.setContentHandler(&parser);
    return reader.parse(&source);
}

// "product:kind@path" per component in table order, joined by blanks.
QString describe(const UpdateManifestParser &parser)
{
    QStringList rows;
    const UpdateManifestParser::ComponentTable &table = parser.componentTable();
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        for (const UpdateManifestParser::Component &c : it.value())
            rows << QStringLiteral("%1:%2@%3").arg(it.key()).arg(c.kind).arg(c.address.path());
    }
    return rows.join(QLatin1Char(' '));
}

} // namespace

class TestUpdateManifestParser : public QObject
{
    Q_OBJECT

private slots:
    void accepted_data();
    void accepted();
    void aborted_data();
    void aborted();
    void componentFields();
    void componentsByProduct();
};

void TestUpdateManifestParser::accepted_data()
{
    // clang-format off
    QTest::addColumn<QString>("xml");
    QTest::addColumn<QString>("table");

    QTest::newRow("manager win")          << "<Family Name='MORV'>[Morv Manager|{Win}]</Family>"
                                          << "3:4@/Win";
    QTest::newRow("every product, kind")  << "<Family Name='MORV'>[MORV|{MP}{DSP}][MORV+|{Styles}{Ensemble}]"
                                             "[Morv Updater|{Mac}][Morv Manager|{Win}{Mac}]</Family>"
                                          << "0:0@/MP 0:1@/DSP 1:2@/Styles 1:3@/Ensemble 2:5@/Mac 3:4@/Win 3:5@/Mac";
    QTest::newRow("products by code")     << "<Family Name='MORV'>[Morv Manager|{Win}][MORV|{MP}]</Family>"
                                          << "0:0@/MP 3:4@/Win";
    QTest::newRow("product twice")        << "<Family Name='MORV'>[Morv Manager|{Win}][Morv Manager|{Mac}]</Family>"
                                          << "3:4@/Win 3:5@/Mac";
    QTest::newRow("other family name")    << "<Family Name='ZOVA'>[Morv Manager|{Win}]</Family>"
                                          << "";
    QTest::newRow("family without name")  << "<Family>[Morv Manager|{Win}]</Family>"
                                          << "";
    QTest::newRow("other root element")   << "<Catalog Name='MORV'>[Morv Manager|{Win}]</Catalog>"
                                          << "";
    QTest::newRow("unknown product")      << "<Family Name='MORV'>[Morv Manager 2|{Bogus}][MORV|{MP}]</Family>"
                                          << "0:0@/MP";
    QTest::newRow("outside Components")   << "<Family Name='MORV'><Product Name='Morv Manager'>{Win}</Product>"
                                             "</Family>"
                                          << "";
    QTest::newRow("Components nested")    << "<Family Name='MORV'><Product Name='Morv Manager'><Other>"
                                             "<Components>{Win}</Components></Other></Product></Family>"
                                          << "";
    QTest::newRow("product in a wrapper") << "<Family Name='MORV'><Notes>[Morv Manager|{Win}]</Notes></Family>"
                                          << "";
    QTest::newRow("others in Components") << "<Family Name='MORV'>[MORV+|<Extra>{Bogus}</Extra>{MP}<x/>]</Family>"
                                          << "1:0@/MP";
    QTest::newRow("children of component") << "<Family Name='MORV'>[Morv Manager|<Component Name='Win' "
                                              "Version='2' ReleaseDate='d' URL='http://h/w'>{Bogus}<Notes>t</Notes>"
                                              "</Component>]</Family>"
                                           << "3:4@/w";
    QTest::newRow("extra attributes")     << "<Family Name='MORV' Year='2021'>[Morv Manager|<Component Name='Win' "
                                             "Size='9' Version='2' ReleaseDate='d' URL='http://h/w' X=''/>]</Family>"
                                          << "3:4@/w";
    QTest::newRow("empty family")         << "<Family Name='MORV'/>"
                                          << "";
    // clang-format on
}

void TestUpdateManifestParser::accepted()
{
    QFETCH(QString, xml);
    QFETCH(QString, table);
    UpdateManifestParser parser;
    QVERIFY(parse(parser, xml));
    QCOMPARE(describe(parser), table);
}

void TestUpdateManifestParser::aborted_data()
{
    // clang-format off
    QTest::addColumn<QString>("xml");
    QTest::addColumn<QString>("message");

    QTest::newRow("win in pedal product") << "<Family Name='MORV'>[MORV+|{Win}]</Family>"
                                          << "Invalid component name";
    QTest::newRow("firmware in app")      << "<Family Name='MORV'>[Morv Manager|{Win}{MP}]</Family>"
                                          << "Invalid component name";
    QTest::newRow("name missing")         << "<Family Name='MORV'>[Morv Updater|<Component Version='1' "
                                             "ReleaseDate='d' URL='u'/>]</Family>"
                                          << "Invalid component name";
    QTest::newRow("version empty")        << "<Family Name='MORV'>[Morv Manager|<Component Name='Win' Version='' "
                                             "ReleaseDate='d' URL='u'/>]</Family>"
                                          << "Invalid component version";
    QTest::newRow("version missing")      << "<Family Name='MORV'>[Morv Manager|<Component Name='Win' "
                                             "ReleaseDate='d' URL='u'/>]</Family>"
                                          << "Invalid component version";
    QTest::newRow("date missing")         << "<Family Name='MORV'>[Morv Manager|<Component Name='Win' "
                                             "Version='1' URL='u'/>]</Family>"
                                          << "Invalid component release date";
    QTest::newRow("url empty")            << "<Family Name='MORV'>[Morv Manager|<Component Name='Win' "
                                             "Version='1' ReleaseDate='d' URL=''/>]</Family>"
                                          << "Invalid component url";
    QTest::newRow("url missing")          << "<Family Name='MORV'>[Morv Manager|{Mac}<Component Name='Win' "
                                             "Version='1' ReleaseDate='d'/>]</Family>"
                                          << "Invalid component url";
    QTest::newRow("unclosed element")     << "<Family Name='MORV'>[Morv Manager|{Win}]"
                                          << "";
    QTest::newRow("not xml")              << "1.2.0"
                                          << "";
    // clang-format on
}

void TestUpdateManifestParser::aborted()
{
    QFETCH(QString, xml);
    QFETCH(QString, message);
    if (!message.isEmpty())
        QTest::ignoreMessage(QtCriticalMsg, message.toUtf8().constData());
    UpdateManifestParser parser;
    QVERIFY(!parse(parser, xml));
}

void TestUpdateManifestParser::componentFields()
{
    UpdateManifestParser parser;
    QVERIFY(parse(parser, QStringLiteral("<?xml version='1.0'?><Family Name='MORV'>[Morv Manager|<Component "
                                         "Name='Win' Version='1.2.0-beta' ReleaseDate='1 May 2021' "
                                         "URL='downloads.example.com/setup 1.2.exe'/>]</Family>")));
    const QList<UpdateManifestParser::Component> components = parser.components(3);
    QCOMPARE(components.size(), 1);
    QCOMPARE(components.at(0).kind, 4);
    QCOMPARE(components.at(0).version, QStringLiteral("1.2.0-beta"));
    QCOMPARE(components.at(0).releaseDate, QStringLiteral("1 May 2021"));
    QCOMPARE(components.at(0).address,
             QUrl(QStringLiteral("downloads.example.com/setup 1.2.exe"), QUrl::TolerantMode));
    QCOMPARE(components.at(0).size, qint64(0));
}

void TestUpdateManifestParser::componentsByProduct()
{
    UpdateManifestParser parser;
    QVERIFY(
        parse(parser, QStringLiteral("<Family Name='MORV'>[Morv Manager|{Mac}{Win}][MORV|{DSP}]</Family>")));
    QCOMPARE(parser.components(3).size(), 2);
    QCOMPARE(parser.components(3).at(1).kind, 4);
    QVERIFY(parser.components(2).isEmpty());
    QStringList all;
    for (const UpdateManifestParser::Component &c : parser.allComponents())
        all << c.address.path();
    QCOMPARE(all, QStringList({"/DSP", "/Mac", "/Win"}));

    parser.reset();
    QVERIFY(parser.componentTable().isEmpty());
    QVERIFY(parser.allComponents().isEmpty());
}

QT_WARNING_POP

QTEST_GUILESS_MAIN(TestUpdateManifestParser)
#include "tst_updatemanifestparser.moc"
