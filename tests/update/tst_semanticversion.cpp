// SemanticVersion: what the lenient parser accepts and how it reads it, what it refuses, the
// precedence order the update offer relies on, and the text form used in the logs.
#include "update/semanticversion.h"

#include <QStringList>
#include <QtTest>

using ZovaZode::SemanticVersion;

namespace {

// Identifiers as "#7" for numeric and "rc" for text ones, joined by "|".
QString describeIdentifiers(const SemanticVersion &version)
{
    QStringList parts;
    for (const SemanticVersion::Identifier &identifier : version.identifiers())
        parts << (identifier.numeric ? QStringLiteral("#%1").arg(identifier.number)
                                     : QString::fromUtf8(identifier.text));
    return parts.join(QLatin1Char('|'));
}

} // namespace

class TestSemanticVersion : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void malformed_data();
    void malformed();
    void lessThan_data();
    void lessThan();
    void defaultIsZero();
};

void TestSemanticVersion::parse_data()
{
    // clang-format off
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("patch");
    QTest::addColumn<QString>("identifiers");
    QTest::addColumn<QString>("printed");

    QTest::newRow("plain")           << "1.2.3"               << 1          << 2 << 3 << ""              << "1.2.3";
    QTest::newRow("suffix ignored")  << "1.2.3rc"             << 1          << 2 << 3 << ""              << "1.2.3";
    QTest::newRow("build dropped")   << "1.2.3+build.5"       << 1          << 2 << 3 << ""              << "1.2.3";
    QTest::newRow("build after pre") << "1.2.3-rc.1+b.5"      << 1          << 2 << 3 << "rc|#1"         << "1.2.3-rc.1";
    QTest::newRow("signed id")       << "1.2.3-+4"            << 1          << 2 << 3 << "#4"            << "1.2.3-4";
    QTest::newRow("trailing dot")    << "1.2.3."              << 1          << 2 << 3 << ""              << "1.2.3";
    QTest::newRow("trailing hyphen") << "1.2.3-"              << 1          << 2 << 3 << ""              << "1.2.3";
    QTest::newRow("leading zeros")   << "1.02.3-rc.01"        << 1          << 2 << 3 << "rc|#1"         << "1.2.3-rc.1";
    QTest::newRow("blank and signs") << " 1.+2.\t3"           << 1          << 2 << 3 << ""              << "1.2.3";
    QTest::newRow("hyphen in id")    << "1.2.3-beta-2"        << 1          << 2 << 3 << "beta-2"        << "1.2.3-beta-2";
    QTest::newRow("numeric prefix")  << "1.2.3-7a"            << 1          << 2 << 3 << "#7"            << "1.2.3-7";
    QTest::newRow("blank numeric")   << "1.2.3- 7"            << 1          << 2 << 3 << "#7"            << "1.2.3-7";
    QTest::newRow("negative id")     << "1.2.3--4"            << 1          << 2 << 3 << "#-4"           << "1.2.3--4";
    QTest::newRow("id trailing dot") << "1.2.3-rc."           << 1          << 2 << 3 << "rc"            << "1.2.3-rc";
    QTest::newRow("three ids")       << "0.0.1-a.2.b"         << 0          << 0 << 1 << "a|#2|b"        << "0.0.1-a.2.b";
    QTest::newRow("int32 limit")     << "2147483647.0.0-7"    << 2147483647 << 0 << 0 << "#7"            << "2147483647.0.0-7";
    QTest::newRow("int32 id limit")  << "0.0.0-2147483647"    << 0          << 0 << 0 << "#2147483647"   << "0.0.0-2147483647";
    QTest::newRow("non-ASCII id")    << "1.0.0-\u00e9t\u00e9" << 1          << 0 << 0 << "\u00e9t\u00e9" << "1.0.0-\u00e9t\u00e9";
    // clang-format on
}

void TestSemanticVersion::parse()
{
    QFETCH(QString, text);
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, patch);
    QFETCH(QString, identifiers);
    QFETCH(QString, printed);

    const SemanticVersion version(text);
    QCOMPARE(version.major(), major);
    QCOMPARE(version.minor(), minor);
    QCOMPARE(version.patch(), patch);
    QCOMPARE(describeIdentifiers(version), identifiers);
    QCOMPARE(version.toString(), printed);
}

void TestSemanticVersion::malformed_data()
{
    // clang-format off
    QTest::addColumn<QString>("text");

    QTest::newRow("empty")                << "";
    QTest::newRow("two parts")            << "1.2";
    QTest::newRow("four parts")           << "1.2.3.4";
    QTest::newRow("two trailing dots")    << "1.2.3..";
    QTest::newRow("empty middle")         << "1..3";
    QTest::newRow("empty first")          << ".1.2";
    QTest::newRow("letters")              << "a.b.c";
    QTest::newRow("sign only")            << "1.+.3";
    QTest::newRow("too large")            << "1.2.99999999999";
    QTest::newRow("just above int32")     << "2147483648.0.0";
    QTest::newRow("hyphen first")         << "-1.2.3";
    QTest::newRow("empty identifier")     << "1.2.3-rc..1";
    QTest::newRow("lone dot prerelease")  << "1.2.3-.";
    QTest::newRow("identifier too large") << "1.2.3-rc.99999999999";
    // clang-format on
}

void TestSemanticVersion::malformed()
{
    QFETCH(QString, text);
    QVERIFY_EXCEPTION_THROWN(SemanticVersion{text}, SemanticVersion::error);
}

void TestSemanticVersion::lessThan_data()
{
    // clang-format off
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");

    // Each row is a strictly ascending pair; the test checks both directions.
    QTest::newRow("patch")                << "1.1.0"            << "1.1.1";
    QTest::newRow("minor over patch")     << "1.1.9"            << "1.2.0";
    QTest::newRow("major over minor")     << "1.9.9"            << "2.0.0";
    QTest::newRow("numbers not text")     << "1.2.0"            << "1.10.0";
    QTest::newRow("pre before release")   << "1.1.0-beta"       << "1.1.0";
    QTest::newRow("alpha < alpha.1")      << "1.0.0-alpha"      << "1.0.0-alpha.1";
    QTest::newRow("alpha.1 < alpha.beta") << "1.0.0-alpha.1"    << "1.0.0-alpha.beta";
    QTest::newRow("alpha.beta < beta")    << "1.0.0-alpha.beta" << "1.0.0-beta";
    QTest::newRow("beta < beta.2")        << "1.0.0-beta"       << "1.0.0-beta.2";
    QTest::newRow("beta.2 < beta.11")     << "1.0.0-beta.2"     << "1.0.0-beta.11";
    QTest::newRow("beta.11 < rc.1")       << "1.0.0-beta.11"    << "1.0.0-rc.1";
    QTest::newRow("rc.1 < release")       << "1.0.0-rc.1"       << "1.0.0";
    QTest::newRow("text prefix")          << "1.0.0-rc"         << "1.0.0-rca";
    QTest::newRow("bytes unsigned")       << "1.0.0-z"          << "1.0.0-\u00e9";
    QTest::newRow("numeric id first")     << "1.0.0-99"         << "1.0.0-a";
    QTest::newRow("release over pre")     << "1.0.0"            << "1.0.1-alpha";
    // clang-format on
}

void TestSemanticVersion::lessThan()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    const SemanticVersion lower(a);
    const SemanticVersion higher(b);
    QVERIFY(lower < higher);
    QVERIFY(!(higher < lower));
    QVERIFY(!(lower < lower));
    QVERIFY(!(higher < SemanticVersion(b)));
}

void TestSemanticVersion::defaultIsZero()
{
    const SemanticVersion version;
    QCOMPARE(version.toString(), QStringLiteral("0.0.0"));
    QVERIFY(version < SemanticVersion(QStringLiteral("0.0.1")));
    QVERIFY(!(version < SemanticVersion(QStringLiteral("0.0.0-rc"))));
}

QTEST_GUILESS_MAIN(TestSemanticVersion)
#include "tst_semanticversion.moc"
