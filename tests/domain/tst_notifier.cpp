// The notifier seam: the answer without an installed notifier, and installing one.
#include "domain/notifier.h"
#include "recordingnotifier.h"

#include <QtTest>

using namespace ZovaZode;

Q_DECLARE_METATYPE(ZovaZode::Notifier::Buttons)
Q_DECLARE_METATYPE(ZovaZode::Notifier::Button)

class TestNotifier : public QObject
{
    Q_OBJECT

private slots:
    void answerWithoutNotifier_data();
    void answerWithoutNotifier();
    void installedNotifierSeesEverything();
    void uninstall();
};

void TestNotifier::answerWithoutNotifier_data()
{
    QTest::addColumn<Notifier::Buttons>("buttons");
    QTest::addColumn<Notifier::Button>("answer");

    // clang-format off
    QTest::newRow("Ok")            << Notifier::Buttons(Notifier::Ok)                   << Notifier::Ok;
    QTest::newRow("Yes No")        << (Notifier::Yes | Notifier::No)                    << Notifier::No;
    QTest::newRow("Ok Cancel")     << (Notifier::Ok | Notifier::Cancel)                 << Notifier::Cancel;
    QTest::newRow("Yes No Cancel") << (Notifier::Yes | Notifier::No | Notifier::Cancel) << Notifier::No;
    QTest::newRow("Yes only")      << Notifier::Buttons(Notifier::Yes)                  << Notifier::Ok;
    QTest::newRow("none")          << Notifier::Buttons()                               << Notifier::Ok;
    // clang-format on
}

void TestNotifier::answerWithoutNotifier()
{
    QFETCH(Notifier::Buttons, buttons);
    QFETCH(Notifier::Button, answer);

    QCOMPARE(Notifier::installed(), nullptr);
    Notifier::Message message;
    message.icon = Notifier::Icon::Question;
    message.text = QStringLiteral("Go on?");
    message.buttons = buttons;
    QCOMPARE(Notifier::notify(message), answer);
}

void TestNotifier::installedNotifierSeesEverything()
{
    QObject parent;
    RecordingNotifier notifier;
    QCOMPARE(Notifier::installed(), &notifier);
    notifier.prepareAnswer(Notifier::Yes);

    Notifier::Message message;
    message.icon = Notifier::Icon::Critical;
    message.title = QStringLiteral("Title");
    message.text = QStringLiteral("Text");
    message.buttons = Notifier::Yes | Notifier::No;
    message.parent = &parent;
    QCOMPARE(Notifier::notify(message), Notifier::Yes);
    // The prepared answers are used up; then the box is answered like a cautious user.
    QCOMPARE(Notifier::notify(message), Notifier::No);

    QCOMPARE(notifier.messages().size(), 2);
    const Notifier::Message &seen = notifier.messages().first();
    QCOMPARE(seen.icon, Notifier::Icon::Critical);
    QCOMPARE(seen.title, QStringLiteral("Title"));
    QCOMPARE(seen.text, QStringLiteral("Text"));
    QCOMPARE(seen.buttons, Notifier::Yes | Notifier::No);
    QCOMPARE(seen.parent, &parent);
}

void TestNotifier::uninstall()
{
    {
        RecordingNotifier notifier;
        Notifier::install(nullptr);
        Notifier::Message message;
        message.buttons = Notifier::Ok | Notifier::Cancel;
        QCOMPARE(Notifier::notify(message), Notifier::Cancel);
        QVERIFY(notifier.messages().isEmpty());
        Notifier::install(&notifier);
    }
    // The recording notifier takes itself out when it goes.
    QCOMPARE(Notifier::installed(), nullptr);
}

QTEST_GUILESS_MAIN(TestNotifier)
#include "tst_notifier.moc"
