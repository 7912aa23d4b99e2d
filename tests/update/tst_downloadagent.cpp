// DownloadAgent against a local HTTP server: files written byte for byte, requests one after the
// other, the progress fraction rules, every failure ending the list with failed() only and leaving
// no file, and the size limit.
#include "testhttpserver.h"
#include "update/downloadagent.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using ZovaZode::DownloadAgent;

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class TestDownloadAgent : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void progressFraction_data();
    void progressFraction();
    void downloadsListInOrder();
    void failures_data();
    void failures();
    void busyDropsNewList();
    void replacesPlantedLink();
    void sizeLimit_data();
    void sizeLimit();

private:
    QScopedPointer<TestHttpServer> m_server;
    QScopedPointer<QTemporaryDir> m_dir;
};

void TestDownloadAgent::init()
{
    m_server.reset(new TestHttpServer);
    QVERIFY(m_server->listen());
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void TestDownloadAgent::progressFraction_data()
{
    // clang-format off
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<float>("fraction");

    QTest::newRow("empty reply")     << qint64(0)           << qint64(0)           << 1.0f;
    QTest::newRow("no total")        << qint64(500)         << qint64(-1)          << 0.0f;
    QTest::newRow("nothing yet")     << qint64(0)           << qint64(10)          << 0.0f;
    QTest::newRow("quarter")         << qint64(1)           << qint64(4)           << 0.25f;
    QTest::newRow("complete")        << qint64(3)           << qint64(3)           << 1.0f;
    QTest::newRow("beyond 32 bits")  << (qint64(1) << 40)   << (qint64(1) << 41)   << 0.5f;
    // clang-format on
}

void TestDownloadAgent::progressFraction()
{
    QFETCH(qint64, received);
    QFETCH(qint64, total);
    QFETCH(float, fraction);
    DownloadAgent agent;
    QSignalSpy progress(&agent, &DownloadAgent::progress);
    QVERIFY(
        QMetaObject::invokeMethod(&agent, "onReplyProgress", Q_ARG(qint64, received), Q_ARG(qint64, total)));
    QCOMPARE(progress.count(), 1);
    QCOMPARE(progress.at(0).at(0).toInt(), -1);
    QCOMPARE(progress.at(0).at(1).toFloat(), fraction);
}

void TestDownloadAgent::downloadsListInOrder()
{
    QByteArray binary(70000, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char(i * 7);
    m_server->setRoute(QStringLiteral("/a.xml"), 200, QByteArrayLiteral("<Family Name=\"MORV\"/>"));
    m_server->setRoute(QStringLiteral("/b.bin"), 200, binary, false);
    const QString a = m_dir->filePath(QStringLiteral("a.xml"));
    const QString b = m_dir->filePath(QStringLiteral("b.bin"));
    {
        QFile stale(b);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write(QByteArray(100000, 'x'));
    }

    DownloadAgent agent;
    QSignalSpy finished(&agent, &DownloadAgent::finished);
    QSignalSpy failed(&agent, &DownloadAgent::failed);
    QSignalSpy progress(&agent, &DownloadAgent::progress);
    agent.download(
        {{m_server->url(QStringLiteral("/a.xml")), a}, {m_server->url(QStringLiteral("/b.bin")), b}});
    QVERIFY(agent.isBusy());
    QVERIFY(finished.wait());

    QCOMPARE(finished.count(), 1);
    QCOMPARE(failed.count(), 0);
    QVERIFY(!agent.isBusy());
    QCOMPARE(m_server->requests(), QStringList({"GET /a.xml", "GET /b.bin"}));
    QCOMPARE(readFile(a), QByteArrayLiteral("<Family Name=\"MORV\"/>"));
    QCOMPARE(readFile(b), binary);

    // Progress names the request it belongs to, in order, and each request ends at 1.0.
    QVERIFY(!progress.isEmpty());
    int lastRequest = 0;
    for (const QList<QVariant> &report : qAsConst(progress)) {
        QVERIFY(report.at(0).toInt() >= lastRequest);
        lastRequest = report.at(0).toInt();
        const float fraction = report.at(1).toFloat();
        QVERIFY(fraction >= 0.0f && fraction <= 1.0f);
    }
    QCOMPARE(progress.last().at(0).toInt(), 1);
    QCOMPARE(progress.last().at(1).toFloat(), 1.0f);
}

void TestDownloadAgent::failures_data()
{
    // clang-format off
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("unreachable");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QStringList>("requests");

    QTest::newRow("404 status")       << "/missing" << false << ""  << QStringList({"GET /ok", "GET /missing"});
    QTest::newRow("nobody listening") << "/ok"      << true  << ""  << QStringList({"GET /ok"});
    QTest::newRow("unopenable file")  << "/ok"      << false << "Failed to open destination file."
                                      << QStringList({"GET /ok"});
    // clang-format on
}

// The second of three requests fails: the third is never fetched, failed() comes once with the
// reason, finished() never, and the agent takes a new list afterwards.
void TestDownloadAgent::failures()
{
    QFETCH(QString, second);
    QFETCH(bool, unreachable);
    QFETCH(QString, reason);
    QFETCH(QStringList, requests);

    m_server->setRoute(QStringLiteral("/ok"), 200, QByteArrayLiteral("fine"));
    QUrl secondUrl = m_server->url(second);
    if (unreachable)
        secondUrl.setPort(TestHttpServer::unusedPort());
    const QString secondFile = reason.isEmpty() ? m_dir->filePath(QStringLiteral("2"))
                                                : m_dir->filePath(QStringLiteral("no/such/folder/2"));
    DownloadAgent agent;
    QSignalSpy finished(&agent, &DownloadAgent::finished);
    QSignalSpy failed(&agent, &DownloadAgent::failed);
    agent.download({{m_server->url(QStringLiteral("/ok")), m_dir->filePath(QStringLiteral("1"))},
                    {secondUrl, secondFile},
                    {m_server->url(QStringLiteral("/ok")), m_dir->filePath(QStringLiteral("3"))}});
    QVERIFY(failed.wait());
    QCOMPARE(failed.count(), 1);
    QCOMPARE(finished.count(), 0);
    if (reason.isEmpty())
        QVERIFY(!failed.at(0).at(0).toString().isEmpty());
    else
        QCOMPARE(failed.at(0).at(0).toString(), reason);
    QCOMPARE(m_server->requests(), requests);
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("3"))));
    QVERIFY(!QFile::exists(secondFile));
    QVERIFY(!agent.isBusy());

    // A new list goes out at once. The failed reply still completes after its error; if that
    // completion reached the agent, it would cut the new list's first download short.
    agent.download({{m_server->url(QStringLiteral("/ok")), m_dir->filePath(QStringLiteral("again1"))},
                    {m_server->url(QStringLiteral("/ok")), m_dir->filePath(QStringLiteral("again2"))}});
    QVERIFY(finished.wait());
    QCoreApplication::processEvents();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(readFile(m_dir->filePath(QStringLiteral("again1"))), QByteArrayLiteral("fine"));
    QCOMPARE(readFile(m_dir->filePath(QStringLiteral("again2"))), QByteArrayLiteral("fine"));
}

void TestDownloadAgent::busyDropsNewList()
{
    m_server->setRoute(QStringLiteral("/first"), 200, QByteArrayLiteral("first"));
    m_server->setRoute(QStringLiteral("/second"), 200, QByteArrayLiteral("second"));
    DownloadAgent agent;
    QSignalSpy finished(&agent, &DownloadAgent::finished);
    agent.download({m_server->url(QStringLiteral("/first")), m_dir->filePath(QStringLiteral("first"))});
    QTest::ignoreMessage(QtCriticalMsg, "Already active.");
    agent.download({m_server->url(QStringLiteral("/second")), m_dir->filePath(QStringLiteral("second"))});
    QVERIFY(finished.wait());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(readFile(m_dir->filePath(QStringLiteral("first"))), QByteArrayLiteral("first"));
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("second"))));
    QCOMPARE(m_server->requests(), QStringList({"GET /first"}));
}

void TestDownloadAgent::replacesPlantedLink()
{
    const QString victim = m_dir->filePath(QStringLiteral("victim"));
    {
        QFile file(victim);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("precious");
    }
    const QString destination = m_dir->filePath(QStringLiteral("manifest.xml"));
    QVERIFY(QFile::link(victim, destination));
    m_server->setRoute(QStringLiteral("/m"), 200, QByteArrayLiteral("downloaded"));

    DownloadAgent agent;
    QSignalSpy finished(&agent, &DownloadAgent::finished);
    agent.download({m_server->url(QStringLiteral("/m")), destination});
    QVERIFY(finished.wait());
    QCOMPARE(readFile(victim), QByteArrayLiteral("precious"));
    QVERIFY(!QFileInfo(destination).isSymLink());
    QCOMPARE(readFile(destination), QByteArrayLiteral("downloaded"));
}

void TestDownloadAgent::sizeLimit_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("contentLength");
    QTest::addColumn<bool>("accepted");
    // clang-format off
    QTest::newRow("exactly 1 MiB")               << 1024 * 1024      << true  << true;
    QTest::newRow("one byte more")               << 1024 * 1024 + 1  << true  << false;
    QTest::newRow("one byte more, no length")    << 1024 * 1024 + 1  << false << false;
    QTest::newRow("ten MiB")                     << 10 * 1024 * 1024 << true  << false;
    // clang-format on
}

// The manifest download had no limit: a hostile or broken server could fill the disk.
void TestDownloadAgent::sizeLimit()
{
    QFETCH(int, size);
    QFETCH(bool, contentLength);
    QFETCH(bool, accepted);
    m_server->setRoute(QStringLiteral("/big"), 200, QByteArray(size, 'm'), contentLength);
    const QString destination = m_dir->filePath(QStringLiteral("manifest.xml"));
    DownloadAgent agent;
    QSignalSpy finished(&agent, &DownloadAgent::finished);
    QSignalSpy failed(&agent, &DownloadAgent::failed);
    agent.download({m_server->url(QStringLiteral("/big")), destination});
    QTRY_VERIFY_WITH_TIMEOUT(finished.count() + failed.count() > 0, 20000);
    QCoreApplication::processEvents();
    QCOMPARE(finished.count(), accepted ? 1 : 0);
    QCOMPARE(failed.count(), accepted ? 0 : 1);
    if (accepted) {
        QCOMPARE(QFileInfo(destination).size(), qint64(size));
    } else {
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("The download is larger than 1048576 bytes."));
        QVERIFY(!QFileInfo::exists(destination));
    }
    QVERIFY(!agent.isBusy());
}

QTEST_GUILESS_MAIN(TestDownloadAgent)
#include "tst_downloadagent.moc"
