// morv-screenshots [--dark] OUTPUT_DIR: takes the pictures of the real window that the user guide
// shows. The build runs it on the offscreen platform, so the guide always shows the window as it
// is. With --dark it uses a dark palette, and at a screen scale above 1 (QT_SCALE_FACTOR=2) the
// pictures have that many pixels per point; either adds to the file names ("-dark", "@2x").
//
// It makes a demo card, opens it through the open-card prompt, fills the two libraries with the
// window's own archive and copy commands, triggers the window's menu commands and grabs what they
// show. It reaches the window through its menus (by their texts, which the guide quotes too) and
// finds what it grabs by type, so that it follows the window as it changes.
//
// The same window must give the same pictures on every machine and at every build: the card and
// the libraries lie where a musician's would, /media/ana/ZOVAZODE and /home/ana/Documents, in
// folders only this process sees (a user and mount namespace; where the system forbids one, in a
// temporary folder, whose name then shows); dates are set to one fixed moment, and the locale and
// palette are fixed. Nothing of the user's own home, settings or volumes is read or written.
#include "app/mainwindow.h"
#include "domain/configurationmanager.h"
#include "domain/democard.h"
#include "domain/mountwatcher.h"
#include "domain/safetycopies.h"
#include "domain/sdcard.h"
#include "models/songlistmodel.h"
#include "transfer/songtransfer.h"
#include "views/prompter.h"
#include "views/safetycopiesview.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QProgressBar>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTreeView>

#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

using namespace ZovaZode;

const QString User = QStringLiteral("ana");
// Every date the pictures show: a safety copy's, a file's creation, and "today" on the Safety
// Copies page.
const QDateTime Moment(QDate(2026, 12, 6), QTime(10, 33), Qt::UTC);

// Answers the open-card prompt with the demo card and each name prompt with the next prepared
// name, so the window's own commands run without a person at the keyboard.
class ScriptedPrompter : public Prompter
{
public:
    explicit ScriptedPrompter(const QString &card) : m_card(card) {}
    QString openFile(QWidget *, const FileRequest &) override { return m_card; }
    QString folder(QWidget *, const QString &, const QString &) override { return QString(); }
    bool text(QWidget *, const QString &, const QString &, QString *value) override
    {
        if (m_names.isEmpty())
            return false;
        *value = m_names.takeFirst();
        return true;
    }
    void setNextName(const QString &name) { m_names = QStringList{name}; }

private:
    QString m_card;
    QStringList m_names;
};

bool writeProcFile(const char *path, const QByteArray &text)
{
    const int file = ::open(path, O_WRONLY | O_CLOEXEC);
    if (file < 0)
        return false;
    const bool written = ::write(file, text.constData(), text.size()) == text.size();
    ::close(file);
    return written;
}

// Gives this process an empty /home and /media of its own. Needs a process with one thread.
bool enterPrivateFolders()
{
    const QByteArray uid = QByteArray::number(getuid()), gid = QByteArray::number(getgid());
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return false;
    writeProcFile("/proc/self/setgroups", "deny");
    if (!writeProcFile("/proc/self/uid_map", uid + ' ' + uid + " 1") ||
        !writeProcFile("/proc/self/gid_map", gid + ' ' + gid + " 1") ||
        mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    for (const char *folder : {"/home", "/media"}) {
        if (mount("tmpfs", folder, "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0)
            return false;
    }
    return true;
}

// Lets layouts, deferred updates and timers settle before a picture is taken.
void settle(int milliseconds = 300)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

template<typename Condition> bool waitFor(Condition condition, int milliseconds = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return condition();
}

class Camera
{
public:
    // `folder`: the output folder, which may lie under a folder this process no longer sees.
    Camera(int folder, const QString &variant) : m_folder(folder), m_variant(variant) {}

    bool save(QWidget *widget, const QString &name)
    {
        settle();
        QString file = name;
        file.insert(file.lastIndexOf(QLatin1Char('.')), m_variant);
        const bool saved = widget->grab().save(QStringLiteral("/proc/self/fd/%1/%2").arg(m_folder).arg(file));
        std::printf("%s %s\n", saved ? "saved" : "FAILED to save", qPrintable(file));
        m_failures += saved ? 0 : 1;
        m_saved << file;
        return saved;
    }

    // The dialog a command opened, with the dates it shows set to the fixed moment; hidden again
    // once taken.
    void saveDialog(const QString &name)
    {
        settle();
        QDialog *dialog = nullptr;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible() && qobject_cast<QDialog *>(widget))
                dialog = qobject_cast<QDialog *>(widget);
        }
        if (!dialog) {
            fail(QStringLiteral("no dialog showed for ") + name);
            return;
        }
        for (QLabel *label : dialog->findChildren<QLabel *>()) {
            if (QLocale().toDateTime(label->text(), QLocale::ShortFormat).isValid())
                label->setText(QLocale().toString(Moment.toLocalTime(), QLocale::ShortFormat));
        }
        save(dialog, name);
        dialog->hide();
    }

    void fail(const QString &what)
    {
        std::printf("%s\n", qPrintable(what));
        ++m_failures;
    }

    // The list of what was taken, written last: the build's sign that the pictures are complete.
    bool finish()
    {
        QFile list(QStringLiteral("/proc/self/fd/%1/pictures%2.txt").arg(m_folder).arg(m_variant));
        const QByteArray text = m_saved.join(QLatin1Char('\n')).toUtf8() + '\n';
        return m_failures == 0 && list.open(QIODevice::WriteOnly) && list.write(text) == text.size();
    }

private:
    int m_folder;
    QString m_variant;
    QStringList m_saved;
    int m_failures = 0;
};

// A command of the menus by its text, without the mnemonic's "&".
QAction *menuAction(const QList<QAction *> &actions, const QString &text)
{
    for (QAction *action : actions) {
        QAction *found = action->menu() ? menuAction(action->menu()->actions(), text)
                         : action->text().remove(QLatin1Char('&')) == text ? action
                                                                           : nullptr;
        if (found)
            return found;
    }
    return nullptr;
}

bool trigger(QMainWindow &window, const QString &text, Camera &camera)
{
    QAction *action = menuAction(window.menuBar()->actions(), text);
    if (!action || !action->isEnabled()) {
        camera.fail(QStringLiteral("\"%1\" is %2").arg(text, action ? "disabled" : "not in the menus"));
        return false;
    }
    action->trigger();
    return true;
}

int fileCount(const QString &folder, const QString &pattern)
{
    return QDir(folder).entryList({pattern}, QDir::Files).size();
}

// Runs a transfer command and waits until its file is in the library and the window is idle.
void runTransfer(QMainWindow &window, const QString &text, const QString &folder, const QString &pattern,
                 Camera &camera)
{
    const int before = fileCount(folder, pattern);
    if (trigger(window, text, camera) && !waitFor([&] { return fileCount(folder, pattern) > before; }))
        camera.fail(QStringLiteral("\"%1\" did not finish").arg(text));
    settle(600);
    if (QWidget *modal = QApplication::activeModalWidget())
        modal->hide();
}

QTabWidget *libraryTabs(QMainWindow &window)
{
    for (QTabWidget *tabs : window.findChildren<QTabWidget *>()) {
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->tabText(i) == QLatin1String("Card Library"))
                return tabs;
    }
    return nullptr;
}

void showTab(QTabWidget *tabs, const QString &text)
{
    for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->tabText(i) == text)
            tabs->setCurrentIndex(i);
    }
    settle();
}

// Selects the item in `row` of the current library page's top level (folders come first).
void selectLibraryRow(QTabWidget *tabs, int row)
{
    QTreeView *tree = tabs->currentWidget()->findChild<QTreeView *>();
    const QModelIndex index = tree->model()->index(row, 0, tree->rootIndex());
    tree->selectionModel()->setCurrentIndex(index,
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

QAbstractItemView *songList(QMainWindow &window, const SongListModel *songs)
{
    for (QAbstractItemView *view : window.findChildren<QAbstractItemView *>()) {
        if (view->model() == songs)
            return view;
    }
    return nullptr;
}

// The slot whose song uses the most parts: the richest picture of the part states.
int richestCardSong(const SongListModel *model)
{
    int best = 0;
    int bestParts = -1;
    for (int row = 0; row < model->rowCount(); ++row) {
        int used = 0;
        for (const QVariant &state : model->index(row, 0).data(SongListModel::PartsRole).toList())
            used += state.toInt() != 0;
        if (used > bestParts) {
            best = row;
            bestParts = used;
        }
    }
    return best;
}

// Fills the Safety Copies page from the archives and song files made before, under the names the
// commands give their copies, so that the card itself is never changed for a picture.
void saveSafetyCopies(QTabWidget *tabs, const ConfigurationManager &configuration, Camera &camera)
{
    const QString cards = configuration.cardLibraryLocation();
    SafetyCopies::ensureFolder(cards, nullptr);
    const QFileInfoList archives =
        QDir(cards).entryInfoList({QStringLiteral("*.mlad")}, QDir::Files, QDir::Name);
    const QFileInfoList songs = QDir(configuration.songLibraryLocation())
                                    .entryInfoList({QStringLiteral("*.mlsd")}, QDir::Files, QDir::Name);
    const QString card = DemoCard::cardName();
    using O = SafetyCopies::Occasion;
    const O occasions[] = {O::ClearSong, O::CopyOntoSlot, O::ClearSong};
    for (int i = 0; i < songs.size() && i < 3; ++i)
        QFile::copy(songs.at(i).filePath(),
                    SafetyCopies::songCopyPath(cards, card, 2 * i + 1, songs.at(i).completeBaseName(),
                                               SafetyCopies::occasionText(occasions[i]),
                                               Moment.addDays(i - 2).addSecs(i * 1500)));
    for (int i = 0; i < archives.size() && i < 2; ++i)
        QFile::copy(archives.at(i).filePath(),
                    SafetyCopies::cardCopyPath(cards, card,
                                               SafetyCopies::occasionText(i ? O::ClearAll : O::Restore),
                                               Moment.addSecs(5000 + i * 900)));
    showTab(tabs, QStringLiteral("Safety Copies"));
    // "Today" is the day of the pictures, whatever the day of the build.
    if (auto *page = qobject_cast<SafetyCopiesView *>(tabs->currentWidget()))
        page->setNow(Moment.addSecs(3 * 3600));
    settle(200);
    if (auto *copies = tabs->currentWidget()->findChild<QTreeView *>())
        copies->setCurrentIndex(copies->model()->index(1, 0));
    camera.save(tabs, QStringLiteral("safety-copies.png"));
}

// Shows the progress window as it looks part way through archiving the card, by feeding it the
// reports the worker sends, then lets it end as a cancelled transfer so nothing is written.
void saveTransferDialog(QMainWindow &window, const QString &card, const QString &cardLibrary, Camera &camera)
{
    auto request = std::make_shared<SongTransfer::Request>();
    request->source = SongTransfer::Endpoint::card(card);
    request->destination =
        SongTransfer::Endpoint::archive(QDir(cardLibrary).filePath(QStringLiteral("Before the Tour.mlad")));
    auto *transfer = window.findChild<SongTransfer *>();
    emit transfer->started(request.get());
    emit transfer->progress(4, 0.42f, request.get());
    QDialog *progress = nullptr;
    for (QDialog *dialog : window.findChildren<QDialog *>()) {
        if (dialog->findChild<QProgressBar *>())
            progress = dialog;
    }
    if (progress) {
        progress->show();
        camera.save(progress, QStringLiteral("transfer-dialog.png"));
    } else {
        camera.fail(QStringLiteral("no progress window"));
    }
    request->cancelled.exchange(true);
    emit transfer->error(request.get());
    settle(100);
    if (progress)
        progress->hide();
}

// The common dark scheme of the Fusion style: light text on dark grey, blue highlight.
void useDarkPalette()
{
    const QColor window(53, 53, 53), base(35, 35, 35), disabled(127, 127, 127), blue(42, 130, 218);
    QPalette palette;
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::Button, QPalette::AlternateBase})
        palette.setColor(role, window);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText,
                                     QPalette::ToolTipText, QPalette::BrightText})
        palette.setColor(role, Qt::white);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabled);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::Link, blue);
    palette.setColor(QPalette::Highlight, blue);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    QApplication::setPalette(palette);
}

QUrl unreachableManifest()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return QUrl(QStringLiteral("http://127.0.0.1:%1/manifest.xml").arg(probe.serverPort()));
}

void takePictures(QMainWindow &window, ConfigurationManager &configuration, ScriptedPrompter &prompter,
                  const QString &card, Camera &camera)
{
    window.resize(window.sizeHint());
    window.show();
    camera.save(&window, QStringLiteral("main-window-no-card.png"));

    trigger(window, QStringLiteral("Open Card..."), camera);
    auto *songs = window.findChild<SongListModel *>();
    QTabWidget *tabs = libraryTabs(window);
    QAbstractItemView *songView = songList(window, songs);
    if (!waitFor([&] { return songs->rowCount() > 0 && !songs->isEmptySong(richestCardSong(songs)); },
                 5000) ||
        !tabs || !songView) {
        camera.fail(QStringLiteral("the demo card did not open"));
        return;
    }

    // Two archives of the card: under its own name, then under a name given at the prompt.
    const QString cardLibrary = configuration.cardLibraryLocation();
    const QString songLibrary = configuration.songLibraryLocation();
    const QString archives = QStringLiteral("*.mlad"), songFiles = QStringLiteral("*.mlsd");
    showTab(tabs, QStringLiteral("Card Library"));
    runTransfer(window, QStringLiteral("Archive Card To Library"), cardLibrary, archives, camera);
    prompter.setNextName(QStringLiteral("Spring Gigs 2024"));
    runTransfer(window, QStringLiteral("Archive Card To Library"), cardLibrary, archives, camera);

    // A few card songs copied into the song library.
    showTab(tabs, QStringLiteral("Song Library"));
    for (int row = 0, copied = 0; row < songs->rowCount() && copied < 4; ++row) {
        if (songs->isEmptySong(row))
            continue;
        songView->setCurrentIndex(songs->index(row, 0));
        runTransfer(window, QStringLiteral("Copy Selected Card Song To Library"), songLibrary, songFiles,
                    camera);
        ++copied;
    }

    songView->setCurrentIndex(songs->index(richestCardSong(songs), 0));
    settle(500);
    selectLibraryRow(tabs, 2);
    camera.save(tabs, QStringLiteral("song-library.png"));

    showTab(tabs, QStringLiteral("Card Library"));
    settle(500);
    selectLibraryRow(tabs, 1);
    camera.save(tabs, QStringLiteral("card-library.png"));
    // The selected song shows in the highlight colour only while its list has the focus.
    QApplication::setActiveWindow(&window);
    songView->setFocus();
    camera.save(&window, QStringLiteral("main-window-card.png"));

    if (trigger(window, QStringLiteral("Show Selected Card Song Details..."), camera))
        camera.saveDialog(QStringLiteral("song-details.png"));
    if (trigger(window, QStringLiteral("Show Card Details..."), camera))
        camera.saveDialog(QStringLiteral("card-details.png"));
    if (trigger(window, QStringLiteral("Show Selected Archive Details..."), camera))
        camera.saveDialog(QStringLiteral("archive-details.png"));
    saveTransferDialog(window, card, cardLibrary, camera);
    saveSafetyCopies(tabs, configuration, camera);
}

// Where the card and the home folder lie: where a musician's would, in folders only this
// process sees, or in a temporary folder where the system forbids that.
struct Places
{
    std::unique_ptr<QTemporaryDir> temporary;
    QString home = QStringLiteral("/home/") + User;
    QString volume = QStringLiteral("/media/%1/ZOVAZODE").arg(User);
};

// Before anything starts a thread, which would forbid a namespace of its own.
Places choosePlaces()
{
    Places places;
    if (!enterPrivateFolders()) {
        places.temporary =
            std::make_unique<QTemporaryDir>(QDir::temp().filePath(QStringLiteral("morv-XXXXXX")));
        places.home = places.temporary->filePath(QStringLiteral("home"));
        places.volume = places.temporary->filePath(QStringLiteral("ZOVAZODE"));
        std::printf("no private folders here: the pictures show temporary paths\n");
    }
    // Every place the program keeps things follows HOME; the builder's own are never used.
    qputenv("HOME", QFile::encodeName(places.home));
    for (const char *variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_DOCUMENTS_DIR"})
        qunsetenv(variable);
    return places;
}

// The application's names, style, font, locale and icon, the same on every machine.
void setUpApplication(bool dark)
{
    QApplication::setApplicationName(QStringLiteral("Morv Manager"));
    QApplication::setOrganizationDomain(QStringLiteral("selkanor.com"));
    QApplication::setOrganizationName(QStringLiteral("Selkanor"));
    QApplication::setStyle(QStringLiteral("Fusion"));
    // What a desktop without a theme of its own gives; the offscreen platform's default is larger.
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QIcon icon;
    icon.addFile(QStringLiteral(":/images/manager_icon_256.png"));
    QApplication::setWindowIcon(icon);
    if (dark)
        useDarkPalette();
}

// The two libraries in the Documents folder of `home`, with a folder in each: folders sort
// before the items.
void setUpLibraries(ConfigurationManager &configuration, const QString &home)
{
    const QString documents = QDir(home).filePath(QStringLiteral("Documents"));
    configuration.setCardLibraryLocation(QDir(documents).filePath(QStringLiteral("Morv+ Card Library")));
    configuration.setSongLibraryLocation(QDir(documents).filePath(QStringLiteral("Morv+ Song Library")));
    configuration.setSdCardLocation(QString());
    configuration.setManifestUrl(unreachableManifest());
    QDir().mkpath(QDir(configuration.cardLibraryLocation()).filePath(QStringLiteral("Older Cards")));
    QDir().mkpath(QDir(configuration.songLibraryLocation()).filePath(QStringLiteral("Practice")));
}

} // namespace

int main(int argc, char *argv[])
{
    const bool dark = argc > 1 && QByteArray(argv[1]) == "--dark";
    if (argc != (dark ? 3 : 2)) {
        std::fprintf(stderr, "usage: morv-screenshots [--dark] OUTPUT_DIR\n");
        return 2;
    }
    QDir().mkpath(QString::fromLocal8Bit(argv[argc - 1]));
    const int output = ::open(argv[argc - 1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (output < 0) {
        std::fprintf(stderr, "morv-screenshots: cannot open the folder %s\n", argv[argc - 1]);
        return 1;
    }
    const Places places = choosePlaces();
    qSetGlobalQHashSeed(0);

    // As the program itself does: layout and pictures follow the screen's scale.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication application(argc, argv);
    setUpApplication(dark);
    QString variant = dark ? QStringLiteral("-dark") : QString();
    if (application.devicePixelRatio() > 1)
        variant += QStringLiteral("@%1x").arg(application.devicePixelRatio());
    Camera camera(output, variant);

    QStandardPaths::setTestModeEnabled(true);
    const QString card = QDir(places.volume).filePath(QStringLiteral("ZOVAZODE.DAT"));
    QDir().mkpath(places.volume);
    try {
        DemoCard().write(card);
    } catch (const SdCard::Error &error) {
        std::fprintf(stderr, "morv-screenshots: cannot make the demo card: %s\n", error.what());
        return 1;
    }
    ConfigurationManager configuration;
    setUpLibraries(configuration, places.home);

    ScriptedPrompter prompter(card);
    Prompter::install(&prompter);
    {
        MainWindow window;
        // Only the card opened on purpose shows, whatever the machine has mounted.
        if (auto *watcher = window.findChild<MountWatcher *>())
            watcher->setVolumeList([] { return QStringList(); });
        takePictures(window, configuration, prompter, card, camera);
    }
    Prompter::install(nullptr);
    return camera.finish() ? 0 : 1;
}
