// morv-screenshots [--dark] OUTPUT_DIR [CARD_FILE]: takes the documentation screenshots of the real
// window. With --dark it uses a dark palette, and at a screen scale above 1 (QT_SCALE_FACTOR=2) the
// pictures have that many pixels per point; either adds to the file names ("-dark", "@2x").
// It answers the open-card prompt with CARD_FILE, fills the two libraries through the window's own
// archive and copy commands, triggers the window's actions and grabs what they show, so the
// pictures always show the program as it is. Settings are kept in the test area and the libraries
// in a temporary folder; the user's own are never touched.
#include "app/mainwindow.h"
#include "domain/configurationmanager.h"
#include "domain/safetycopies.h"
#include "domain/sdcard.h"
#include "models/songlistmodel.h"
#include "models/sortedlibrarymodel.h"
#include "transfer/songtransfer.h"
#include "views/actionregistry.h"
#include "views/cardpanel.h"
#include "views/cardsession.h"
#include "views/cardsongsview.h"
#include "views/librarianview.h"
#include "views/libraryfolderview.h"
#include "views/librarypages.h"
#include "views/prompter.h"
#include "views/safetycopiesview.h"
#include "views/transfercontroller.h"
#include "views/transferdialog.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QPalette>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTreeView>
#include <QTreeWidget>
#include <QtDebug>

#include <cstdio>
#include <memory>

namespace {

using namespace ZovaZode;

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

// Lets layouts, deferred updates and timers settle before a picture is taken.
void settle(int milliseconds = 400)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

// Added to every picture's name: what sets the pictures apart from the plain ones.
QString &variant()
{
    static QString suffix;
    return suffix;
}

bool save(QWidget *widget, QString path)
{
    settle();
    path.insert(path.lastIndexOf(QLatin1Char('.')), variant());
    const bool saved = widget->grab().save(path);
    std::printf("%s %s\n", saved ? "saved" : "FAILED to save", qPrintable(path));
    return saved;
}

QDialog *visibleDialog()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *dialog = qobject_cast<QDialog *>(widget);
        if (dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

bool saveDialog(const QString &path)
{
    settle();
    QDialog *dialog = visibleDialog();
    if (!dialog) {
        std::printf("no dialog showed for %s\n", qPrintable(path));
        return false;
    }
    const bool saved = save(dialog, path);
    dialog->hide();
    return saved;
}

QUrl unreachableManifest()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return QUrl(QStringLiteral("http://127.0.0.1:%1/manifest.xml").arg(probe.serverPort()));
}

// Runs one of the window's transfer commands and waits for its outcome; true on success.
bool runTransfer(LibrarianView *view, const char *id)
{
    int finished = 0;
    int failed = 0;
    SongTransfer *transfer = view->transfers()->songTransfer();
    const auto onFinished = QObject::connect(transfer, &SongTransfer::finished, [&finished] { ++finished; });
    const auto onFailed = QObject::connect(transfer, &SongTransfer::error, [&failed] { ++failed; });
    QAction *action = view->actions()->action(QString::fromLatin1(id));
    const bool enabled = action->isEnabled();
    if (enabled)
        action->trigger();
    else
        std::printf("\"%s\" is disabled\n", qPrintable(action->text()));

    QElapsedTimer timer;
    timer.start();
    while (enabled && finished + failed == 0 && timer.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QObject::disconnect(onFinished);
    QObject::disconnect(onFailed);
    // A slow transfer shows the progress dialog, which closes itself shortly after success.
    settle(600);
    if (view->transfers()->transferDialog()->isVisible())
        view->transfers()->transferDialog()->accept();
    if (finished == 0)
        std::printf("\"%s\" did not finish\n", qPrintable(action->text()));
    return finished > 0;
}

void selectCardSong(LibrarianView *view, int row)
{
    view->cardPanel()->songsView()->selectionModel()->setCurrentIndex(view->session()->songs()->index(row, 0),
                                                                      QItemSelectionModel::ClearAndSelect);
}

// Selects the library item in `row` of the tree's top level (folders come first).
void selectLibraryRow(QTreeView *tree, int row)
{
    const QModelIndex index = tree->model()->index(row, 0, tree->rootIndex());
    tree->selectionModel()->setCurrentIndex(index,
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
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

// Fills the Safety Copies page from the archives and song files made above, under the names the
// commands give their copies, so that the card itself is never changed for a picture.
bool saveSafetyCopies(LibrarianView *view, const ConfigurationManager &configuration, const QString &path)
{
    const QString cards = configuration.cardLibraryLocation();
    SafetyCopies::ensureFolder(cards, nullptr);
    const QFileInfoList archives = QDir(cards).entryInfoList({QStringLiteral("*.mlad")}, QDir::Files);
    const QFileInfoList songs =
        QDir(configuration.songLibraryLocation()).entryInfoList({QStringLiteral("*.mlsd")}, QDir::Files);
    const QString card = view->session()->card()->name();
    QDateTime when = QDateTime::currentDateTime().addSecs(-3 * 3600);
    using O = SafetyCopies::Occasion;
    const O occasions[] = {O::ClearSong, O::CopyOntoSlot, O::ClearSong};
    for (int i = 0; i < songs.size() && i < 3; ++i) {
        const QString name = songs.at(i).completeBaseName();
        QFile::copy(songs.at(i).filePath(), SafetyCopies::songCopyPath(cards, card, 2 * i + 1, name,
                                                                      SafetyCopies::occasionText(occasions[i]),
                                                                      when.addSecs(i * 1500)));
    }
    for (int i = 0; i < archives.size() && i < 2; ++i)
        QFile::copy(archives.at(i).filePath(),
                    SafetyCopies::cardCopyPath(cards, card, SafetyCopies::occasionText(i ? O::ClearAll : O::Restore),
                                               when.addSecs(5000 + i * 900)));
    LibraryPages *pages = view->libraryPages();
    pages->setCurrentWidget(pages->safetyCopies());
    settle(500);
    pages->safetyCopies()->treeWidget()->setCurrentItem(pages->safetyCopies()->treeWidget()->topLevelItem(1));
    return save(pages, path);
}

// Shows the progress dialog as it looks part way through archiving the card, by feeding it the
// reports the worker sends, then lets it end as a cancelled transfer so nothing is written.
bool saveTransferDialog(LibrarianView *view, const QString &cardPath, const QString &path)
{
    auto request = std::make_shared<SongTransfer::Request>();
    request->source = SongTransfer::Endpoint::card(cardPath);
    request->destination =
        SongTransfer::Endpoint::archive(QDir(view->libraryPages()->folder(FileKind::CardArchive))
                                            .filePath(QStringLiteral("Before the Tour.mlad")));

    SongTransfer *transfer = view->transfers()->songTransfer();
    TransferDialog *dialog = view->transfers()->transferDialog();
    emit transfer->started(request.get());
    emit transfer->progress(4, 0.42f, request.get());
    dialog->show();
    const bool saved = save(dialog, path);

    request->cancelled.exchange(true);
    emit transfer->error(request.get());
    settle(100);
    dialog->accept();
    return saved;
}

// Opens the card, fills the libraries through the window's own commands and takes the pictures
// that show them; the number of failures.
int cardScreenshots(MainWindow *window, ScriptedPrompter *prompter, const QDir &output,
                    const ConfigurationManager &configuration)
{
    int failures = 0;
    LibrarianView *view = window->librarianView();
    LibraryPages *pages = view->libraryPages();
    const auto trigger = [view](const char *id) {
        view->actions()->action(QString::fromLatin1(id))->trigger();
    };
    trigger("OpenCard");
    settle();
    if (!view->session()->card()->isOpen()) {
        std::printf("the demo card did not open\n");
        ++failures;
    }

    // Two archives of the card: under its own name, then under a name given at the prompt.
    pages->showPage(FileKind::CardArchive);
    failures += !runTransfer(view, "ArchiveCard");
    prompter->setNextName(QStringLiteral("Spring Gigs 2024"));
    failures += !runTransfer(view, "ArchiveCard");

    // A few card songs copied into the song library.
    pages->showPage(FileKind::SongFile);
    SongListModel *songs = view->session()->songs();
    for (int row = 0, copied = 0; row < songs->rowCount() && copied < 4; ++row) {
        if (songs->isEmptySong(row))
            continue;
        selectCardSong(view, row);
        failures += !runTransfer(view, "CopyCardSongToLibrary");
        ++copied;
    }

    selectCardSong(view, richestCardSong(songs));
    settle(1000);
    selectLibraryRow(pages->page(FileKind::SongFile)->treeView(), 2);
    failures += !save(pages, output.filePath(QStringLiteral("song-library.png")));

    pages->showPage(FileKind::CardArchive);
    settle(1000);
    selectLibraryRow(pages->page(FileKind::CardArchive)->treeView(), 1);
    failures += !save(pages, output.filePath(QStringLiteral("card-library.png")));
    // The selected song shows in the highlight colour only while its list has the focus.
    QApplication::setActiveWindow(window);
    view->cardPanel()->songsView()->setFocus();
    failures += !save(window, output.filePath(QStringLiteral("main-window-card.png")));

    const std::pair<const char *, const char *> dialogs[] = {{"ShowCardSongDetails", "song-details.png"},
                                                             {"ShowCardDetails", "card-details.png"},
                                                             {"ShowArchiveDetails", "archive-details.png"}};
    for (const auto &[id, file] : dialogs) {
        trigger(id);
        failures += !saveDialog(output.filePath(QLatin1String(file)));
    }
    failures += !saveTransferDialog(view, view->session()->card()->path(),
                                    output.filePath(QStringLiteral("transfer-dialog.png")));
    failures += !saveSafetyCopies(view, configuration, output.filePath(QStringLiteral("safety-copies.png")));
    return failures;
}

// The common dark scheme of the Fusion style: light text on dark grey, blue highlight.
void useDarkPalette()
{
    QApplication::setStyle(QStringLiteral("Fusion"));
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

} // namespace

int main(int argc, char *argv[])
{
    // As the program itself does: layout and pictures follow the screen's scale.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Morv Manager"));
    QApplication::setOrganizationDomain(QStringLiteral("selkanor.com"));
    QApplication::setOrganizationName(QStringLiteral("Selkanor"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/images/manager_icon_256.png"));
    QApplication::setWindowIcon(icon);

    QStringList arguments = QApplication::arguments();
    if (arguments.removeAll(QStringLiteral("--dark")) > 0) {
        useDarkPalette();
        variant() += QStringLiteral("-dark");
    }
    if (application.devicePixelRatio() > 1)
        variant() += QStringLiteral("@%1x").arg(application.devicePixelRatio());
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: morv-screenshots [--dark] OUTPUT_DIR [CARD_FILE]\n");
        return 2;
    }
    const QDir output(arguments.at(1));
    const QString card = arguments.size() > 2 ? QFileInfo(arguments.at(2)).absoluteFilePath() : QString();
    QDir().mkpath(output.path());

    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir libraries(QDir::temp().filePath(QStringLiteral("morv-XXXXXX")));
    ConfigurationManager configuration;
    configuration.setCardLibraryLocation(libraries.filePath(QStringLiteral("Morv+ Card Library")));
    configuration.setSongLibraryLocation(libraries.filePath(QStringLiteral("Morv+ Song Library")));
    configuration.setSdCardLocation(QString());
    configuration.setManifestUrl(unreachableManifest());
    // A folder in each library shows how folders sort before the items.
    QDir().mkpath(QDir(configuration.cardLibraryLocation()).filePath(QStringLiteral("Older Cards")));
    QDir().mkpath(QDir(configuration.songLibraryLocation()).filePath(QStringLiteral("Practice")));

    ScriptedPrompter prompter(card);
    Prompter::install(&prompter);

    int failures = 0;
    {
        MainWindow window;
        window.resize(window.sizeHint());
        window.show();
        failures += !save(&window, output.filePath(QStringLiteral("main-window-no-card.png")));
        if (card.isEmpty())
            std::printf("no card given: skipping the card screenshots\n");
        else
            failures += cardScreenshots(&window, &prompter, output, configuration);
    }
    Prompter::install(nullptr);
    return failures == 0 ? 0 : 1;
}
