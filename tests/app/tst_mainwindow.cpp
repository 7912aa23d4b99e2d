// MainWindow without the network: its menus and the Ctrl-only Advanced submenu, the banner, the
// About box, the user guide opener and its failure box, the manifest address dialog with its
// validation loop, the file the program is started with, and closing the window while a restore
// runs.
#include "../domain/recordingnotifier.h"
#include "../models/libraryfixture.h"
#include "app/mainwindow.h"
#include "carddata/stream.h"
#include "domain/configurationmanager.h"
#include "domain/sdcard.h"
#include "domain/song.h"
#include "models/sortedlibrarymodel.h"
#include "support/filesnapshot.h"
#include "views/archivedetailview.h"
#include "views/archiveview.h"
#include "support/logcapture.h"
#include "views/librarianview.h"
#include "views/libraryview.h"
#include "views/prompter.h"
#include "views/sdcardheaderview.h"
#include "views/songdetailview.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>

#include <condition_variable>
#include <memory>
#include <mutex>

using ZovaZode::ConfigurationManager;
using ZovaZode::MainWindow;
using ZovaZode::Notifier;
using ZovaZode::Prompter;
using ZovaZode::RecordingNotifier;
using ZovaZode::TestSupport::LogCapture;

namespace {

// Answers text prompts from a script; a null QString in the script stands for Cancel.
class ScriptedPrompter : public Prompter
{
public:
    struct Asked
    {
        QString title;
        QString label;
        QString proposal;
    };

    explicit ScriptedPrompter(const QStringList &answers) : m_answers(answers) { Prompter::install(this); }
    ~ScriptedPrompter() override { Prompter::install(nullptr); }

    QString openFile(QWidget *, const FileRequest &) override { return QString(); }
    QString folder(QWidget *, const QString &, const QString &) override { return QString(); }
    bool text(QWidget *, const QString &title, const QString &label, QString *value) override
    {
        m_asked.append(Asked{title, label, *value});
        if (m_answers.isEmpty() || m_answers.first().isNull()) {
            if (!m_answers.isEmpty())
                m_answers.removeFirst();
            return false;
        }
        *value = m_answers.takeFirst();
        return true;
    }

    QList<Asked> asked() const { return m_asked; }

private:
    QStringList m_answers;
    QList<Asked> m_asked;
};

// "-" for a separator, "[text]" for a submenu, the text otherwise.
QStringList describe(const QMenu *menu)
{
    QStringList entries;
    for (const QAction *action : menu->actions()) {
        if (action->isSeparator())
            entries << QStringLiteral("-");
        else if (action->menu())
            entries << QLatin1Char('[') + action->text() + QLatin1Char(']');
        else
            entries << action->text();
    }
    return entries;
}

QMenu *menuTitled(const MainWindow &window, const QString &title)
{
    for (QAction *action : window.menuBar()->actions()) {
        if (action->menu() && action->text() == title)
            return action->menu();
    }
    return nullptr;
}

QAction *actionTexted(const QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

QUrl unreachableManifest()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QUrl(QStringLiteral("http://127.0.0.1:%1/manifest.xml").arg(port));
}

// Holds the first write at or past a position of one file until released, so that a test can
// act while a transfer is half done.
class WriteGate
{
public:
    WriteGate(const QString &path, qint64 position)
        : m_path(QFile::encodeName(path).toStdString()), m_position(position)
    {
        carddata::setStreamOpener([this](const std::string &file, carddata::OpenMode mode) {
            std::unique_ptr<carddata::Stream> stream = carddata::openFileStream(file, mode);
            if (!stream || file != m_path)
                return stream;
            return std::unique_ptr<carddata::Stream>(new Gated(std::move(stream), this));
        });
    }
    ~WriteGate()
    {
        release();
        carddata::setStreamOpener({});
    }
    bool holding() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_holding;
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_wake.notify_all();
    }

private:
    class Gated : public carddata::Stream
    {
    public:
        Gated(std::unique_ptr<carddata::Stream> file, WriteGate *gate) : m_file(std::move(file)), m_gate(gate)
        {}
        bool seek(int64_t position) override
        {
            m_at = position;
            return m_file->seek(position);
        }
        size_t read(void *buffer, size_t size) override
        {
            m_at += int64_t(size);
            return m_file->read(buffer, size);
        }
        size_t write(const void *buffer, size_t size) override
        {
            if (m_at >= m_gate->m_position) {
                std::unique_lock<std::mutex> lock(m_gate->m_mutex);
                m_gate->m_holding = !m_gate->m_open;
                m_gate->m_wake.wait(lock, [this] { return m_gate->m_open; });
                m_gate->m_holding = false;
            }
            m_at += int64_t(size);
            return m_file->write(buffer, size);
        }
        int64_t size() override { return m_file->size(); }
        bool flush() override { return m_file->flush(); }
        bool commit() override { return m_file->commit(); }
        bool dropCache(int64_t position, int64_t size) override { return m_file->dropCache(position, size); }
        bool close() override { return m_file->close(); }

    private:
        std::unique_ptr<carddata::Stream> m_file;
        WriteGate *m_gate;
        int64_t m_at = 0;
    };

    std::string m_path;
    qint64 m_position;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_holding = false;
    bool m_open = false;
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void menuBar();
    void menus_data();
    void menus();
    void menuRoles_data();
    void menuRoles();
    void advancedMenuDecision_data();
    void advancedMenuDecision();
    void advancedMenuFollowsCtrlEachTimeFileMenuOpens();
    void banner();
    void aboutBox();
    void userGuide_data();
    void userGuide();
    void manifestDialog_data();
    void manifestDialog();
    void exitClosesWindow();
    void openFile_data();
    void openFile();
    void closingDuringARestore_data();
    void closingDuringARestore();

private:
    std::unique_ptr<ConfigurationManager> m_configuration;
    std::unique_ptr<MainWindow> m_window;
    QList<QUrl> m_opened;
    bool m_openerResult = true;
};

void TestMainWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setApplicationName(QStringLiteral("Morv Manager"));
    // A settings store of its own: other tests clear theirs while this one runs.
    QCoreApplication::setOrganizationName(QStringLiteral("Selkanor tst_mainwindow"));
    QSettings().clear();
    m_configuration = std::make_unique<ConfigurationManager>();
    MainWindow::setUrlOpener([this](const QUrl &url) {
        m_opened << url;
        return m_openerResult;
    });
    MainWindow::setQuitHandler([]() { QFAIL("nothing here may quit the application"); });
}

void TestMainWindow::cleanupTestCase()
{
    MainWindow::setUrlOpener({});
    MainWindow::setQuitHandler({});
    m_configuration.reset();
    QSettings().clear();
}

void TestMainWindow::init()
{
    // The start-up check must not reach the network; it fails silently.
    m_configuration->setManifestUrl(unreachableManifest());
    m_opened.clear();
    m_openerResult = true;
    m_window = std::make_unique<MainWindow>();
    QTRY_VERIFY(!m_window->isStartupCheck());
}

void TestMainWindow::cleanup()
{
    m_window.reset();
}

void TestMainWindow::menuBar()
{
    QStringList titles;
    for (const QAction *action : m_window->menuBar()->actions())
        titles << action->text();
    QCOMPARE(titles, QStringList({"&File", "&Card", "&Library", "&Help"}));
}

void TestMainWindow::menus_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QStringList>("entries");

    // clang-format off
    QTest::newRow("file")     << "&File"
                              << QStringList{"[&Advanced]", "-", "&Settings...", "Check for Morv Manager &Updates", "-", "E&xit"};
    QTest::newRow("advanced") << "Advanced" << QStringList{"Set &Manifest URL..."};
    QTest::newRow("help")     << "&Help" << QStringList{"&User Guide", "-", "&About Morv Manager..."};
    // clang-format on
}

void TestMainWindow::menus()
{
    QFETCH(QString, menu);
    QFETCH(QStringList, entries);

    const QMenu *found =
        menu == QLatin1String("Advanced") ? m_window->advancedMenu() : menuTitled(*m_window, menu);
    QVERIFY(found);
    QCOMPARE(describe(found), entries);
}

void TestMainWindow::menuRoles_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("item");
    QTest::addColumn<int>("role");

    // clang-format off
    QTest::newRow("check")  << "&File" << "Check for Morv Manager &Updates" << int(QAction::NoRole);
    QTest::newRow("exit")   << "&File" << "E&xit"                           << int(QAction::QuitRole);
    QTest::newRow("guide")  << "&Help" << "&User Guide"                     << int(QAction::NoRole);
    QTest::newRow("about")  << "&Help" << "&About Morv Manager..."          << int(QAction::AboutRole);
    // clang-format on
}

void TestMainWindow::menuRoles()
{
    QFETCH(QString, menu);
    QFETCH(QString, item);
    QFETCH(int, role);

    const QAction *action = actionTexted(menuTitled(*m_window, menu), item);
    QVERIFY(action);
    QCOMPARE(int(action->menuRole()), role);
}

void TestMainWindow::advancedMenuDecision_data()
{
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("shown");

    // clang-format off
    QTest::newRow("nothing held") << int(Qt::NoModifier)                        << false;
    QTest::newRow("ctrl")         << int(Qt::ControlModifier)                   << true;
    QTest::newRow("ctrl+shift")   << int(Qt::ControlModifier | Qt::ShiftModifier) << true;
    QTest::newRow("shift")        << int(Qt::ShiftModifier)                     << false;
    QTest::newRow("alt")          << int(Qt::AltModifier)                       << false;
    QTest::newRow("meta")         << int(Qt::MetaModifier)                      << false;
    // clang-format on
}

void TestMainWindow::advancedMenuDecision()
{
    QFETCH(int, modifiers);
    QFETCH(bool, shown);
    QCOMPARE(MainWindow::showsAdvancedMenu(Qt::KeyboardModifiers(modifiers)), shown);
}

void TestMainWindow::advancedMenuFollowsCtrlEachTimeFileMenuOpens()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QMenu *file = menuTitled(*m_window, QStringLiteral("&File"));
    QAction *advanced = m_window->advancedMenu()->menuAction();
    QVERIFY(!advanced->isVisible());

    const struct
    {
        bool ctrl;
        bool visible;
    } openings[] = {{true, true}, {false, false}, {true, true}};
    for (const auto &opening : openings) {
        if (opening.ctrl)
            QTest::keyPress(m_window.get(), Qt::Key_Control, Qt::ControlModifier);
        else
            QTest::keyRelease(m_window.get(), Qt::Key_Control, Qt::NoModifier);
        file->popup(QPoint(0, 0));
        QCOMPARE(advanced->isVisible(), opening.visible);
        file->hide();
    }
    QTest::keyRelease(m_window.get(), Qt::Key_Control, Qt::NoModifier);
}

void TestMainWindow::banner()
{
    const QWidget *banner = m_window->findChild<QWidget *>(QStringLiteral("banner"));
    QVERIFY(banner);
    QCOMPARE(banner->styleSheet(), QStringLiteral("#banner { background-color: rgb(0,0,0); }"));
    const QList<QLabel *> labels = banner->findChildren<QLabel *>();
    QCOMPARE(labels.size(), 2);
    const QPixmap product = labels.at(0)->pixmap(Qt::ReturnByValue);
    const QPixmap maker = labels.at(1)->pixmap(Qt::ReturnByValue);
    QCOMPARE(product.height(), 70);
    QCOMPARE(maker.width(), 200);
    QCOMPARE(labels.at(1)->alignment(), Qt::AlignCenter);

    // The maker logo is darkened: no pixel may keep more than the light that the dark veil lets
    // through, while the original has pure white in it.
    const QImage original = QPixmap(QStringLiteral(":/images/selkanor_logo.png"))
                                .scaledToWidth(200, Qt::SmoothTransformation)
                                .toImage();
    const QImage shown = maker.toImage();
    int brightestOriginal = 0;
    int brightestShown = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            brightestOriginal = qMax(brightestOriginal, qGreen(original.pixel(x, y)));
            brightestShown = qMax(brightestShown, qGreen(shown.pixel(x, y)));
        }
    }
    QVERIFY(brightestOriginal > 200);
    QVERIFY2(brightestShown <= 255 * 105 / 255 + 2, qPrintable(QString::number(brightestShown)));

    // Banner above the librarian view.
    const QWidget *central = m_window->centralWidget();
    const auto *layout = qobject_cast<QVBoxLayout *>(central->layout());
    QVERIFY(layout);
    QCOMPARE(layout->itemAt(0)->widget(), banner);
    QCOMPARE(layout->itemAt(1)->widget(), static_cast<QWidget *>(m_window->librarianView()));
}

void TestMainWindow::aboutBox()
{
    QString title;
    QString text;
    QTimer::singleShot(0, this, [&]() {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        title = box->windowTitle();
        text = box->text();
        box->accept();
    });
    actionTexted(menuTitled(*m_window, QStringLiteral("&Help")), QStringLiteral("&About Morv Manager..."))
        ->trigger();
    QCOMPARE(title, QStringLiteral("About Morv Manager"));
    QCOMPARE(text, QStringLiteral("<b>Morv Manager version 1.1.0</b>"));
}

void TestMainWindow::userGuide_data()
{
    QTest::addColumn<bool>("guidePresent");
    QTest::addColumn<bool>("openerSucceeds");
    QTest::addColumn<bool>("openerAsked");
    QTest::addColumn<bool>("failureShown");

    // clang-format off
    QTest::newRow("opens")         << true  << true  << true  << false;
    QTest::newRow("opener fails")  << true  << false << true  << true;
    QTest::newRow("guide missing") << false << true  << false << true;
    // clang-format on
}

void TestMainWindow::userGuide()
{
    QFETCH(bool, guidePresent);
    QFETCH(bool, openerSucceeds);
    QFETCH(bool, openerAsked);
    QFETCH(bool, failureShown);

    const QString guide = MainWindow::userGuidePath();
    QCOMPARE(QFileInfo(guide).fileName(), QStringLiteral("MORV Manager User Guide.pdf"));
    QCOMPARE(QFileInfo(guide).absolutePath(), QCoreApplication::applicationDirPath());
    const bool preexisting = QFile::exists(guide);
    if (guidePresent && !preexisting) {
        QFile file(guide);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("%PDF-1.4\n");
    } else if (!guidePresent && preexisting) {
        QSKIP("a real user guide lies beside the test executable");
    }
    const auto removeGuide = qScopeGuard([&]() {
        if (!preexisting)
            QFile::remove(guide);
    });

    RecordingNotifier notifier;
    LogCapture log;
    m_openerResult = openerSucceeds;
    actionTexted(menuTitled(*m_window, QStringLiteral("&Help")), QStringLiteral("&User Guide"))->trigger();

    QCOMPARE(m_opened, openerAsked ? QList<QUrl>{QUrl::fromLocalFile(guide)} : QList<QUrl>{});
    QCOMPARE(log.contains(QStringLiteral("Failed to open user guide.")), failureShown);
    if (!failureShown) {
        QVERIFY(notifier.messages().isEmpty());
        return;
    }
    QCOMPARE(notifier.messages().size(), 1);
    const Notifier::Message box = notifier.messages().first();
    QCOMPARE(box.icon, Notifier::Icon::Critical);
    QCOMPARE(box.title, QString());
    QCOMPARE(box.text, QStringLiteral("Sorry, there was a problem opening the User Guide."));
    QCOMPARE(box.buttons, Notifier::Buttons(Notifier::Ok));
    QCOMPARE(box.parent, m_window.get());
}

void TestMainWindow::manifestDialog_data()
{
    const QString start = QStringLiteral("http://updates.example.org/start.xml");
    const QString defaultUrl = ConfigurationManager::defaultManifestUrl().toString();
    // The framework completes almost anything to an address; only blank text stays invalid.
    const QString invalid = QStringLiteral("   ");

    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("proposals");
    QTest::addColumn<int>("errorBoxes");
    QTest::addColumn<QString>("result");
    QTest::addColumn<bool>("stored");

    // clang-format off
    QTest::newRow("cancel")                << QStringList{QString()}
                                           << QStringList{start} << 0 << start << true;
    QTest::newRow("empty resets")          << QStringList{""}
                                           << QStringList{start} << 0 << defaultUrl << false;
    QTest::newRow("full address")          << QStringList{"https://mirror.example.org/m.xml"}
                                           << QStringList{start} << 0 << "https://mirror.example.org/m.xml" << true;
    QTest::newRow("bare host completed")   << QStringList{"mirror.example.org/m.xml"}
                                           << QStringList{start} << 0 << "http://mirror.example.org/m.xml" << true;
    QTest::newRow("invalid, then valid")   << QStringList{invalid, "https://mirror.example.org/m.xml"}
                                           << QStringList{start, invalid} << 1 << "https://mirror.example.org/m.xml" << true;
    QTest::newRow("invalid twice, cancel") << QStringList{invalid, "\t", QString()}
                                           << QStringList{start, invalid, "\t"} << 2 << start << true;
    // clang-format on
}

void TestMainWindow::manifestDialog()
{
    QFETCH(QStringList, answers);
    QFETCH(QStringList, proposals);
    QFETCH(int, errorBoxes);
    QFETCH(QString, result);
    QFETCH(bool, stored);

    m_configuration->setManifestUrl(QUrl(QStringLiteral("http://updates.example.org/start.xml")));
    RecordingNotifier notifier;
    ScriptedPrompter prompter(answers);
    QSignalSpy checks(m_window.get(), &MainWindow::checkAppUpdatesRequest);

    actionTexted(m_window->advancedMenu(), QStringLiteral("Set &Manifest URL..."))->trigger();

    QStringList asked;
    for (const ScriptedPrompter::Asked &question : prompter.asked()) {
        QCOMPARE(question.title, QStringLiteral("Set Manifest URL"));
        QCOMPARE(question.label, QStringLiteral("Please enter the URL of the update manifest file."));
        asked << question.proposal;
    }
    QCOMPARE(asked, proposals);
    QCOMPARE(notifier.messages().size(), errorBoxes);
    for (const Notifier::Message &box : notifier.messages()) {
        QCOMPARE(box.icon, Notifier::Icon::Critical);
        QCOMPARE(box.title, QStringLiteral("Invalid Manifest URL"));
        QCOMPARE(box.text, QStringLiteral("The entered text is not a valid URL. Please enter a valid URL."));
        QCOMPARE(box.buttons, Notifier::Buttons(Notifier::Ok));
    }
    QCOMPARE(m_configuration->manifestUrl().toString(), result);
    QCOMPARE(QSettings().contains(QStringLiteral("update/manifest-url")), stored);
    // A new address waits for the next check.
    QCOMPARE(checks.count(), 0);
    QCOMPARE(m_window->updateCheckState(), MainWindow::UpdateCheckState::Idle);
}

void TestMainWindow::exitClosesWindow()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    actionTexted(menuTitled(*m_window, QStringLiteral("&File")), QStringLiteral("E&xit"))->trigger();
    QVERIFY(!m_window->isVisible());
}

void TestMainWindow::openFile_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("cardOpen");
    QTest::addColumn<QString>("selectedIn");
    QTest::addColumn<QString>("details");
    QTest::addColumn<QString>("message");

    // The card library is Cards/, the song library Songs/. selectedIn: the library page in front
    // with the file selected; details: the details dialog showing the file.
    // clang-format off
    //                                  file                    cardOpen  selectedIn  details    message
    QTest::newRow("card data file")  << "card/ZOVAZODE.DAT"    << true  << ""      << ""        << "";
    QTest::newRow("archive in library") << "Cards/Gig.mlad"    << false << "cards" << ""        << "";
    QTest::newRow("archive elsewhere") << "Downloads/Gig.mlad" << false << ""      << "archive" << "";
    QTest::newRow("song in library") << "Songs/Old/Blues.mlsd" << false << "songs" << ""        << "";
    QTest::newRow("song elsewhere")  << "Downloads/Blues.MLSD" << false << ""      << "song"    << "";
    QTest::newRow("missing song")    << "Downloads/None.mlsd"  << false << ""      << ""        << "could not be found";
    QTest::newRow("missing card")    << "card/nothing.dat"     << false << ""      << ""        << "Failed to open the card.";
    // clang-format on
}

void TestMainWindow::openFile()
{
    QFETCH(QString, file);
    QFETCH(bool, cardOpen);
    QFETCH(QString, selectedIn);
    QFETCH(QString, details);
    QFETCH(QString, message);

    QTemporaryDir folder;
    const QDir dir(folder.path());
    for (const char *path : {"card", "Cards", "Songs/Old", "Downloads"})
        QVERIFY(dir.mkpath(QLatin1String(path)));
    ZovaZode::TestSupport::CardImage(dir.filePath(QStringLiteral("card"))).create();
    for (const char *path : {"Cards/Gig.mlad", "Downloads/Gig.mlad"})
        ZovaZode::TestSupport::writeArchive(dir.filePath(QLatin1String(path)), "Gig");
    for (const char *path : {"Songs/Old/Blues.mlsd", "Downloads/Blues.MLSD"})
        ZovaZode::TestSupport::writeSongFile(dir.filePath(QLatin1String(path)), "Blues");

    const QString cardLibrary = m_configuration->cardLibraryLocation();
    const QString songLibrary = m_configuration->songLibraryLocation();
    m_configuration->setCardLibraryLocation(dir.filePath(QStringLiteral("Cards")));
    m_configuration->setSongLibraryLocation(dir.filePath(QStringLiteral("Songs")));
    m_window = std::make_unique<MainWindow>();
    RecordingNotifier notifier;
    const QString path = dir.filePath(file);
    m_window->openFile(path);

    ZovaZode::LibrarianView *view = m_window->librarianView();
    QCOMPARE(view->card()->isOpen(), cardOpen);
    if (selectedIn == QLatin1String("cards")) {
        QCOMPARE(view->tabs()->currentWidget(), view->archiveView());
        QTRY_COMPARE(view->archiveView()->selectedArchivePath(), path);
    } else if (selectedIn == QLatin1String("songs")) {
        QCOMPARE(view->tabs()->currentWidget(), view->libraryView());
        QTRY_COMPARE(view->libraryView()->selectedSongPath(), path);
    }
    QCOMPARE(view->archiveDetailView()->isVisible(), details == QLatin1String("archive"));
    if (details == QLatin1String("archive"))
        QCOMPARE(view->archiveDetailView()->path(), path);
    QCOMPARE(view->songDetailView()->isVisible(), details == QLatin1String("song"));
    if (details == QLatin1String("song"))
        QCOMPARE(view->songDetailView()->song()->filePath(), path);
    QCOMPARE(notifier.texts().join(QLatin1Char('\n')).contains(message), true);
    QCOMPARE(notifier.texts().isEmpty(), message.isEmpty());

    m_window.reset();
    m_configuration->setCardLibraryLocation(cardLibrary);
    m_configuration->setSongLibraryLocation(songLibrary);
}

void TestMainWindow::closingDuringARestore_data()
{
    QTest::addColumn<bool>("cancel"); // the answer to "Cancel it and quit?"
    // clang-format off
    QTest::newRow("cancel and quit") << true;
    QTest::newRow("keep going")      << false;
    // clang-format on
}

// The window used to close at once and tear the card down under the worker, writing its old header
// over the one the restore had written. Now it asks, waits for the worker, and writes nothing after.
void TestMainWindow::closingDuringARestore()
{
    namespace TS = ZovaZode::TestSupport;
    QFETCH(bool, cancel);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("card")) &&
            QDir(dir.path()).mkpath(QStringLiteral("cards")));
    TS::CardImage image(dir.filePath(QStringLiteral("card")));
    image.create("Old Card");
    const QString archive = dir.filePath(QStringLiteral("cards/Set.mlad"));
    TS::writeArchive(archive, "Restored Set");
    m_configuration->setSafetyCopiesEnabled(false);
    RecordingNotifier notifier;
    // The restore stops at song 7 until released: the header is on the card by then.
    WriteGate gate(image.path(), TS::CardImage::songDataPosition(6));

    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    ZovaZode::LibrarianView *view = m_window->librarianView();
    QVERIFY(view->card()->open(image.path(), 1));
    notifier.prepareAnswer(Notifier::Ok);
    emit view->headerView()->cardRestoreRequest(archive);
    QTRY_VERIFY(gate.holding());
    QCOMPARE(TS::text(image.read(TS::CardImage::headerRange()), 8, 128), QByteArray("Restored Set"));

    notifier.prepareAnswer(cancel ? Notifier::Yes : Notifier::No);
    m_window->close();
    QCOMPARE(notifier.texts().last(), QStringLiteral("A transfer is still running.\n\nCancel it and quit?"));
    QCOMPARE(notifier.messages().last().title, QStringLiteral("Quit Morv Manager"));
    QVERIFY(m_window->isVisible());
    gate.release();
    if (cancel) {
        QTRY_VERIFY(!m_window->isVisible());
    } else {
        QTRY_VERIFY(!view->hasTransfers());
        QVERIFY(m_window->isVisible());
        QCOMPARE(TS::text(image.read(TS::CardImage::songDataRange(11)), 4, 128), QByteArray("Song 12"));
        m_window->close();
        QVERIFY(!m_window->isVisible());
    }
    const TS::FileSnapshot stopped(image.path());
    m_window.reset();
    QCOMPARE(TS::describe(stopped.changes()), QString());
    QCOMPARE(TS::text(image.read(TS::CardImage::headerRange()), 8, 128), QByteArray("Restored Set"));
    m_window = std::make_unique<MainWindow>();
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
