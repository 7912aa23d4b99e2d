// The update library: how versions are read and ordered, what a manifest may hold (and which
// faults and hostile shapes refuse it), and downloads against a local HTTP server with their size
// cap. The discovery that fetches the manifest and asks the sizes is the window's update check's,
// tested there end to end.
#include "support/filebytes.h"
#include "testhttpserver.h"
#include "update/semanticversion.h"
#include "update/updatemanager.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace ZovaZode;
using ZovaZode::TestSupport::wholeFile;

namespace {

// Manifests in shorthand: "[P|...]" is a product named P with a Components element around "...",
// and "{X}" a complete component named X whose address ends in "/X".
QString expand(QString xml)
{
    xml.replace(QRegularExpression("\\[([^|\\]]*)\\|"), "<Product Name='\\1'><Components>");
    xml.replace(']', "</Components></Product>");
    return xml.replace(
        QRegularExpression("\\{(\\w*)\\}"),
        "<Component Name='\\1' Version='1.2.0' ReleaseDate='2021-05-01' URL='https://h/\\1'/>");
}

// "product:kind@path=size" per component in table order.
QString describe(const UpdateManifestParser &parser)
{
    QStringList rows;
    for (auto it = parser.componentTable().cbegin(); it != parser.componentTable().cend(); ++it) {
        for (const UpdateManifestParser::Component &c : it.value())
            rows << QStringLiteral("%1:%2@%3=%4").arg(it.key()).arg(c.kind).arg(c.address.path()).arg(c.size);
    }
    return rows.join(' ');
}

} // namespace

class TestUpdate : public QObject
{
    Q_OBJECT

private slots:
    void versions_data();
    void versions();
    void manifest_data();
    void manifest();
    void download_data();
    void download();
};

void TestUpdate::versions_data()
{
    QTest::addColumn<QString>("lower");
    QTest::addColumn<QString>("higher");  // "!" when `lower` is malformed
    QTest::addColumn<QString>("printed"); // `lower` as the logs print it
    // clang-format off
    //                                       lower               higher               printed
    QTest::newRow("patch")                << "1.1.0"          << "1.1.1"           << "1.1.0";
    QTest::newRow("numbers, not text")    << "1.2.0"          << "1.10.0"          << "1.2.0";
    QTest::newRow("pre-release first")    << "1.1.0-beta"     << "1.1.0"           << "1.1.0-beta";
    QTest::newRow("alpha < alpha.1")      << "1.0.0-alpha"    << "1.0.0-alpha.1"   << "1.0.0-alpha";
    QTest::newRow("alpha.1 < alpha.beta") << "1.0.0-alpha.1"  << "1.0.0-alpha.beta"<< "1.0.0-alpha.1";
    QTest::newRow("beta.2 < beta.11")     << "1.0.0-beta.2"   << "1.0.0-beta.11"   << "1.0.0-beta.2";
    QTest::newRow("numeric id first")     << "1.0.0-99"       << "1.0.0-a"         << "1.0.0-99";
    QTest::newRow("bytes unsigned")       << "1.0.0-z"        << "1.0.0-\u00e9"    << "1.0.0-z";
    QTest::newRow("build dropped")        << "1.2.3-rc.01+b5" << "1.2.3"           << "1.2.3-rc.1";
    QTest::newRow("lenient suffix")       << " 1.+2.\t3rc"    << "1.2.4"           << "1.2.3";
    QTest::newRow("two parts")            << "1.2"            << "!"               << "";
    QTest::newRow("above int32")          << "2147483648.0.0" << "!"               << "";
    QTest::newRow("empty identifier")     << "1.2.3-rc..1"    << "!"               << "";
    // clang-format on
}

void TestUpdate::versions()
{
    QFETCH(QString, lower);
    QFETCH(QString, higher);
    QFETCH(QString, printed);
    if (higher == "!") {
        QVERIFY_EXCEPTION_THROWN(SemanticVersion{lower}, SemanticVersion::error);
        return;
    }
    QCOMPARE(SemanticVersion(lower).toString(), printed);
    QVERIFY(SemanticVersion(lower) < SemanticVersion(higher));
    QVERIFY(!(SemanticVersion(higher) < SemanticVersion(lower)));
    QVERIFY(!(SemanticVersion(lower) < SemanticVersion(lower)));
}

void TestUpdate::manifest_data()
{
    QTest::addColumn<QString>("xml");
    QTest::addColumn<QString>("table"); // "!" and the end of the refusal's reason
    const QString win = "<Component Name='Win' Version='1.2.0-beta' ReleaseDate='1 May'";
    const QString in = "<a>", out = "</a>",
                  at = "<Family Name='MORV'>[Morv Manager|" + win + " URL='%1'/>]</Family>";
    // clang-format off
    //                                      xml                                                                          table
    QTest::newRow("every product, kind") << "<Family Name='MORV'>[MORV|{MP}{DSP}][MORV+|{Styles}{Ensemble}][Morv Updater|{Mac}][Morv Manager|{Win}{Mac}]</Family>"
                                         << "0:0@/MP=0 0:1@/DSP=0 1:2@/Styles=0 1:3@/Ensemble=0 2:5@/Mac=0 3:4@/Win=0 3:5@/Mac=0";
    QTest::newRow("other family")        << "<Family Name='ZOVA'>[Morv Manager|{Win}]</Family>"                        << "";
    QTest::newRow("unknown product")     << "<Family Name='MORV'>[Morv Manager 2|{Bogus}][MORV|{MP}]</Family>"         << "0:0@/MP=0";
    QTest::newRow("outside Components")  << "<Family Name='MORV'><Product Name='Morv Manager'>{Win}</Product></Family>" << "";
    QTest::newRow("others in Components")<< "<Family Name='MORV'>[MORV+|<Extra>{Bogus}</Extra>{MP}<x/>]</Family>"     << "1:0@/MP=0";
    QTest::newRow("extra attributes")    << "<Family Name='MORV' Y='1'>[Morv Manager|" + win + " URL='https://h/w' X='9'>{Bogus}</Component>]</Family>" << "3:4@/w=0";
    QTest::newRow("win in pedal product")<< "<Family Name='MORV'>[MORV+|{Win}]</Family>"                               << "!Invalid component name";
    QTest::newRow("version empty")       << "<Family Name='MORV'>[Morv Manager|<Component Name='Win' Version='' ReleaseDate='d' URL='u'/>]</Family>" << "!Invalid component version";
    QTest::newRow("date missing")        << "<Family Name='MORV'>[Morv Manager|<Component Name='Win' Version='1' URL='u'/>]</Family>"                << "!Invalid component release date";
    QTest::newRow("url missing")         << "<Family Name='MORV'>[Morv Manager|{Mac}<Component Name='Win' Version='1' ReleaseDate='d'/>]</Family>"   << "!Invalid component url";
    QTest::newRow("unclosed element")    << "<Family Name='MORV'>[Morv Manager|{Win}]"                                 << "!";
    QTest::newRow("not xml")             << "1.2.0"                                                                    << "!";
    QTest::newRow("32 deep")             << in.repeated(32) + out.repeated(32)                                         << "";
    QTest::newRow("33 deep")             << in.repeated(33) + out.repeated(33)                                         << "!elements nested more than 32 deep.";
    QTest::newRow("140,000 deep")        << in.repeated(140000)                                                        << "!elements nested more than 32 deep.";
    QTest::newRow("4 KiB tag")           << "<Family Name='MORV' X='" + QString(4070, 'x') + "'>[MORV|{MP}]</Family>" << "0:0@/MP=0";
    QTest::newRow("4.5 KiB tag")         << "<Family Name='MORV' X='" + QString(4500, 'x') + "'>[MORV|{MP}]</Family>" << "!a tag, text or comment longer than 4096 bytes.";
    QTest::newRow("document type")       << "<!DOCTYPE Family SYSTEM 'd'><Family Name='MORV'>[MORV|{MP}]</Family>"     << "!a document type declaration.";
    QTest::newRow("65 components")       << "<Family Name='MORV'>[MORV|" + QString("{MP}").repeated(65) + "]</Family>" << "!more than 64 components.";
    QTest::newRow("file component")      << at.arg("file:///dev/zero")                                                 << "!the address \"file:///dev/zero\" is not an https address.";
    QTest::newRow("http elsewhere")      << at.arg("http://192.0.2.1/w")                                               << "!the address \"http://192.0.2.1/w\" is not an https address.";
    QTest::newRow("http to this computer")<< at.arg("HTTP://127.0.0.2:8/w")                                             << "3:4@/w=0";
    // clang-format on
}

void TestUpdate::manifest()
{
    QFETCH(QString, xml);
    QFETCH(QString, table);
    UpdateManifestParser parser;
    QCOMPARE(parser.parse(expand(xml).toUtf8()), !table.startsWith('!'));
    if (table.startsWith('!')) {
        QVERIFY2(parser.errorString().startsWith("Line ") && parser.errorString().endsWith(table.mid(1)),
                 qPrintable(parser.errorString()));
        QCOMPARE(describe(parser), QString());
        return;
    }
    QCOMPARE(describe(parser), table);
    if (xml.contains("1.2.0-beta")) {
        QCOMPARE(parser.components(3).value(0).version, QString("1.2.0-beta"));
        QCOMPARE(parser.components(3).value(0).releaseDate, QString("1 May"));
    }
}

void TestUpdate::download_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("length");    // the reply says its Content-Length
    QTest::addColumn<QString>("where");  // "file", "link" (to a file to keep), "nowhere", "unreachable"
    QTest::addColumn<bool>("gzip");      // the body is `size` zeros, sent gzip-encoded
    QTest::addColumn<QString>("reason"); // of the failure; "?" for any, empty if it succeeds
    const int mib = 1024 * 1024;
    // clang-format off
    //                                    size        length   where            gzip     reason
    QTest::newRow("exactly 1 MiB")     << mib      << true  << "file"        << false << "";
    QTest::newRow("one byte more")     << mib + 1  << true  << "file"        << false << "The download is larger than 1048576 bytes.";
    QTest::newRow("more, no length")   << mib + 1  << false << "file"        << false << "The download is larger than 1048576 bytes.";
    QTest::newRow("16 MiB in 16 KiB")  << 16 * mib << false << "file"        << true  << "The server sent the download encoded (gzip), which it was not asked to.";
    QTest::newRow("planted link")      << 10       << true  << "link"        << false << "";
    QTest::newRow("no folder")         << 10       << true  << "nowhere"     << false << "Failed to open destination file.";
    QTest::newRow("nobody listening")  << 10       << true  << "unreachable" << false << "?";
    // clang-format on
}

// The first download of a list of two: a failure ends the list with failed() alone and leaves
// no file, and the agent takes the next list at once.
void TestUpdate::download()
{
    QFETCH(int, size);
    QFETCH(bool, length);
    QFETCH(QString, where);
    QFETCH(bool, gzip);
    QFETCH(QString, reason);

    TestHttpServer server;
    QVERIFY(server.listen());
    QByteArray body(size, '\0');
    for (int i = 0; i < size && !gzip; ++i)
        body[i] = char(i * 7);
    // qCompress wraps the deflated bytes in a length and zlib's header and checksum; gzip wants
    // its own header and trailer (the trailer is never reached: nothing may inflate this far).
    if (gzip)
        body = "\x1f\x8b\x08" + QByteArray(6, '\0') + '\x03' + qCompress(body, 9).mid(6).chopped(4) +
               QByteArray(8, 0);
    server.setRoute("/first", 200, body, length, gzip ? "Content-Encoding: gzip\r\n" : "");
    server.setRoute("/ok", 200, "fine");
    QTemporaryDir dir;
    const QString first = dir.filePath(where == "nowhere" ? "no/such/folder/first" : "first");
    if (where == "link")
        QVERIFY(QFile::link(dir.filePath("victim"), first));
    QUrl url = server.url("/first");
    if (where == "unreachable")
        url.setPort(1);

    DownloadAgent agent;
    QSignalSpy finished(&agent, &DownloadAgent::finished);
    QSignalSpy failed(&agent, &DownloadAgent::failed);
    agent.download({{url, first}, {server.url("/ok"), dir.filePath("second")}});
    QTRY_VERIFY_WITH_TIMEOUT(finished.count() + failed.count() > 0, 20000);
    QCoreApplication::processEvents();
    QVERIFY(!agent.isBusy());
    QCOMPARE(finished.count(), reason.isEmpty() ? 1 : 0);
    QCOMPARE(failed.count(), reason.isEmpty() ? 0 : 1);
    if (reason.isEmpty()) {
        QCOMPARE(server.requests(), QStringList({"GET /first", "GET /ok"}));
        QCOMPARE(wholeFile(first), body);
        QVERIFY(!QFileInfo(first).isSymLink() && !QFile::exists(dir.filePath("victim")));
        return;
    }
    QVERIFY(reason == "?" || failed.at(0).at(0).toString() == reason);
    QVERIFY(!QFileInfo::exists(first) && !QFileInfo::exists(dir.filePath("second")));
    agent.download({server.url("/ok"), dir.filePath("again")});
    QVERIFY(finished.wait());
    QCOMPARE(wholeFile(dir.filePath("again")), QByteArray("fine"));
}

MORV_TEST_MAIN(TestUpdate)
#include "tst_update.moc"
