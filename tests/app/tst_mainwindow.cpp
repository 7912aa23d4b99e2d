// MainWindow without the network: the menus (the Ctrl-only Advanced submenu, every command in one),
// closing the window while a restore runs (from the menu, Ctrl+Q or the close button under the
// progress window, or a signal), and its shape at its minimum size.
#include "app/mainwindow.h"
#include "domain/cardlock.h"
#include "support/faultstream.h"
#include "support/filesnapshot.h"
#include "support/libraryfixture.h"
#include "views/actionregistry.h"
#include "views/elidedlabel.h"
#include "views/librarianview.h"
#include "views/librarypages.h"
#include "views/sdcardheaderview.h"
#include "views/transferdialog.h"

#include <QMenu>
#include <QMenuBar>
#include <QSemaphore>
#include <QStatusBar>
#include <QTabBar>
#include <QWindow>

#include <csignal>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup() { m_window.reset(); }
    void menus();
    void closingDuringARestore_data();
    void closingDuringARestore();
    void minimumSize();

private:
    std::unique_ptr<ConfigurationManager> m_configuration;
    std::unique_ptr<MainWindow> m_window;
};

void TestMainWindow::initTestCase()
{
    QCoreApplication::setApplicationName("Morv Manager");
    // A settings store of its own: other tests clear theirs while this one runs.
    QCoreApplication::setOrganizationName("Selkanor tst_mainwindow");
    QSettings().clear();
    m_configuration = std::make_unique<ConfigurationManager>();
    MainWindow::setUrlOpener([](const QUrl &) { return true; });
}

void TestMainWindow::init()
{
    // The start-up check must not reach the network; it fails silently.
    m_configuration->setManifestUrl(QUrl("http://127.0.0.1:1/manifest.xml"));
    m_window = std::make_unique<MainWindow>();
    QTRY_VERIFY(!m_window->isStartupCheck());
}

// The Advanced submenu shows only while Ctrl is held as the File menu opens. A command in no menu
// is one the user cannot find; the context menus' own ("Page.Command") are the menus' commands
// under another name, a library file's "Verify..." is on its context menu, and the card on offer
// opens from the status bar.
void TestMainWindow::menus()
{
    QVERIFY(MainWindow::showsAdvancedMenu(Qt::ControlModifier | Qt::ShiftModifier));
    QVERIFY(!MainWindow::showsAdvancedMenu(Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier));
    QList<QAction *> inMenus;
    for (QAction *menu : m_window->menuBar()->actions())
        inMenus += menu->menu()->actions();
    const ActionRegistry *actions = m_window->librarianView()->actions();
    const QStringList elsewhere = {"VerifyArchive", "VerifyLibrarySong", "OpenOfferedCard"};
    for (const QString &id : actions->ids()) {
        if (!id.contains(QLatin1Char('.')) && !elsewhere.contains(id))
            QVERIFY2(inMenus.count(actions->action(id)) == 1, qPrintable(id));
    }
}

void TestMainWindow::closingDuringARestore_data()
{
    QTest::addColumn<QString>("gesture"); // under the progress window but "close"
    QTest::addColumn<bool>("cancel");     // the answer to "Cancel it and quit?"
    QTest::addColumn<bool>("copies");     // safety copies on
    QTest::addColumn<QString>("status");  // afterwards
    const QString partly = QStringLiteral("Cancelled. The card is partly restored; %1");
    const QString again = partly.arg("restore it again to get a complete card.");
    // clang-format off
    //                                gesture          cancel   copies   status
    QTest::newRow("cancel and quit") << "close"     << true  << false << again;
    QTest::newRow("keep going")      << "close"     << false << false << "Restored the card from \"Set\": 2 MB written, less than 1 MB already the same.";
    QTest::newRow("Ctrl+Q")          << "Ctrl+Q"    << true  << true  << partly.arg("Edit > Undo puts it back as it was.");
    QTest::newRow("close button")    << "button"    << true  << false << again;
    QTest::newRow("SIGTERM")         << "SIGTERM"   << true  << false << again;
    // clang-format on
}

// The window asks (a signal does not), waits for the worker, and writes nothing to the card once
// it is gone: it used to close at once and tear the card down under the worker, writing its old
// header over the new one; under the progress window the question never came.
void TestMainWindow::closingDuringARestore()
{
    QFETCH(QString, gesture);
    QFETCH(bool, cancel);
    QFETCH(bool, copies);
    QFETCH(QString, status);
    QTemporaryDir dir;
    CardImage image(dir.path());
    image.create("Old Card");
    const QString archive = dir.filePath("Set.mlad");
    writeArchive(archive, "Restored Set", "An archive", 12, true);
    m_configuration->setSafetyCopiesEnabled(copies);
    m_configuration->setCardLibraryLocation(dir.path());
    RecordingNotifier notifier;
    // The restore stops at song 7 until released: the header is on the card by then.
    QSemaphore gate;
    ScopedFaultInjector streams;
    streams.observe([&](const std::string &file, StreamCall call, int64_t position, uint8_t *, size_t) {
        if (call == StreamCall::Write && position >= CardImage::songDataPosition(6) && file == image.path().toStdString())
            gate.acquire(), gate.release();
    });
    const auto stop = qScopeGuard([&] {
        gate.release(1000);
        m_window.reset();
    });

    m_window->show();
    LibrarianView *view = m_window->librarianView();
    QVERIFY(view->session()->card()->open(image.path(), 1));
    notifier.prepareAnswer(Notifier::Ok);
    emit view->cardPanel()->header()->cardRestoreRequest(archive);
    QTRY_COMPARE(text(image.read(cardHeaderRange()), 8, 128), QByteArray("Restored Set"));

    notifier.prepareAnswer(cancel ? Notifier::Yes : Notifier::No);
    TransferDialog *progress = view->transfers()->transferDialog();
    if (gesture != "close") {
        QTRY_VERIFY(progress->isVisible());
        progress->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(progress));
    }
    gesture == "Ctrl+Q"    ? QTest::keyClick(progress, Qt::Key_Q, Qt::ControlModifier)
    : gesture == "button"  ? void(m_window->windowHandle()->close())
    : gesture == "SIGTERM" ? void(::raise(SIGTERM))
                           : void(m_window->close());
    QTRY_VERIFY(gesture == "SIGTERM" || notifier.texts().size() == 2);
    QCOMPARE(notifier.texts().mid(1),
             gesture == "SIGTERM" ? QStringList()
                                  : QStringList("A transfer is still running.\n\nCancel it and quit?"));
    QVERIFY(m_window->isVisible());
    gate.release();
    if (!cancel) {
        QTRY_VERIFY(!view->transfers()->hasTransfers());
        QCOMPARE(text(image.read(CardImage::songDataRange(11)), 4, 128), QByteArray("Song 12"));
        m_window->close();
    }
    QTRY_VERIFY(!m_window->isVisible());
    // The status bar keeps the outcome under a menu's passing tips.
    QStatusTipEvent tip{QString()};
    QCoreApplication::sendEvent(m_window.get(), &tip);
    QCOMPARE(m_window->statusBar()->findChild<QLabel *>("outcome")->text(), status);
    QVERIFY(CardLock::forCommand(image.path(), 0));
    const FileSnapshot stopped(image.path());
    m_window.reset();
    QCOMPARE(describe(stopped.changes()), QString());
    QCOMPARE(text(image.read(cardHeaderRange()), 8, 128), QByteArray("Restored Set"));
}

// The window holds its shape at its minimum size: with a card open from a very long path and
// library folders with long paths, the window keeps that size, the path labels are cut in the
// middle with the whole path in their tool tip, and no widget is squeezed below its own minimum.
void TestMainWindow::minimumSize()
{
    QTemporaryDir dir(scratchFolderTemplate());
    const QString deep = dir.filePath(QString("a card reader with a rather long mount point name/").repeated(2) +
                                      "and one more folder below it");
    QVERIFY(QDir().mkpath(deep));
    CardImage image(deep);
    image.create("Gig");
    QVERIFY(image.path().size() > 105);
    m_configuration->setCardLibraryLocation(deep);
    m_configuration->setSongLibraryLocation(deep);
    RecordingNotifier notifier;

    MainWindow window;
    LibrarianView *view = window.findChild<LibrarianView *>();
    QVERIFY(view);
    const QSize size = window.minimumSizeHint();
    window.resize(size);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(view->session()->openCardFile(image.path()));
    QTest::qWait(50);
    QCOMPARE(window.size(), size);

    const QList<ElidedLabel *> labels{view->cardPanel()->header()->findChild<ElidedLabel *>("pathLabel"),
                                      view->libraryPages()->page(FileKind::CardArchive)->folderLabel()};
    for (ElidedLabel *label : labels) {
        QVERIFY(label);
        QCOMPARE(label->toolTip(), label->text());
        QVERIFY2(label->shownText().contains(QChar(0x2026)), qPrintable(label->shownText()));
    }
    for (QWidget *widget : window.findChildren<QWidget *>()) {
        // A tab bar sizes its own scroll buttons.
        if (!widget->isVisible() || widget->isWindow() || widget->minimumSizeHint().width() <= 0 ||
            qobject_cast<QTabBar *>(widget->parentWidget()))
            continue;
        QVERIFY2(widget->width() >= widget->minimumSizeHint().width(),
                 qPrintable(QString("%1 %2: %3 < %4")
                                .arg(widget->metaObject()->className(), widget->objectName())
                                .arg(widget->width())
                                .arg(widget->minimumSizeHint().width())));
    }
}

MORV_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
