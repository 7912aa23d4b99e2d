// The library benchmark: a song library of 1,000 song files and a card library of 200 card
// archives (40 of them safety copies) as the window meets them at start. It measures the time from
// creating the window to every name shown on each of the three pages (each page made current in
// turn, every row showing the name stored in its file and scrolled through), and the longest gap
// between the ticks of a 5 ms timer on the user-interface thread from the window's showing on:
// a stall.
#include "app/mainwindow.h"
#include "domain/configurationmanager.h"
#include "domain/democard.h"
#include "domain/safetycopies.h"
#include "domain/sdcard.h"
#include "domain/songarchive.h"
#include "models/sortedlibrarymodel.h"
#include "views/archiveview.h"
#include "views/librarianview.h"
#include "views/libraryview.h"
#include "views/safetycopiesview.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <cstdio>
#include <memory>

using namespace ZovaZode;

namespace {

constexpr int kSongs = 1000;
constexpr int kArchives = 160;
constexpr int kSafetyCopies = 40;

// One card archive and one song file of a demo card, copied under many names.
bool makeLibraries(const QString &dir, const QString &cards, const QString &songs)
{
    const QString cardPath = dir + "/ZOVAZODE.DAT";
    if (!DemoCard(false, 6).write(cardPath))
        return false;
    auto card = std::make_shared<SdCard>();
    if (!card->open(cardPath, 0))
        return false;
    QDir().mkpath(cards);
    QDir().mkpath(songs);
    const QString archive = dir + "/card.mlad";
    const QString song = dir + "/song.mlsd";
    {
        SongArchive whole(archive, 1, 1);
        whole.archiveCard(card.get(), {});
        whole.close();
        SongArchive one(song, 1, 1);
        one.archiveSong(card, 0);
        one.close();
    }
    bool copied = SafetyCopies::ensureFolder(cards, nullptr);
    for (int i = 0; i < kSongs; ++i)
        copied = copied && QFile::copy(song, QString("%1/Song %2.mlsd").arg(songs).arg(i, 4, 10, QChar('0')));
    for (int i = 0; i < kArchives; ++i)
        copied =
            copied && QFile::copy(archive, QString("%1/Card %2.mlad").arg(cards).arg(i, 3, 10, QChar('0')));
    const QDateTime start = QDateTime::currentDateTime().addDays(-1);
    for (int i = 0; i < kSafetyCopies; ++i) {
        const QString what = SafetyCopies::occasionText(SafetyCopies::Occasion::ClearSong);
        copied =
            copied &&
            (i % 2 ? QFile::copy(archive, SafetyCopies::cardCopyPath(cards, "Demo", what, start.addSecs(i)))
                   : QFile::copy(song, SafetyCopies::songCopyPath(cards, "Demo", 3, "Verse", what,
                                                                  start.addSecs(i))));
    }
    return copied;
}

// Whether the tree lists `expected` rows, each file under the name stored in it: a library lists
// a file under its file name until the name inside it has been read.
bool allNamesShown(QAbstractItemView *tree, int expected)
{
    const QAbstractItemModel *model = tree->model();
    const QModelIndex root = tree->rootIndex();
    if (model->rowCount(root) < expected)
        return false;
    const auto *library = dynamic_cast<const SortedLibraryModel *>(model);
    for (int row = 0; library && row < model->rowCount(root); ++row) {
        const QModelIndex index = model->index(row, 0, root);
        if (!library->isFolder(index) &&
            index.data().toString() == QFileInfo(library->filePath(index)).completeBaseName())
            return false;
    }
    return true;
}

// Shows every row of the tree by scrolling through it a page at a time, as a user would; the
// names are read as the rows are painted. False when it took over a minute.
bool scrollThrough(QAbstractItemView *tree, const QElapsedTimer &clock)
{
    QScrollBar *bar = tree->verticalScrollBar();
    for (int value = 0;; value += bar->pageStep()) {
        bar->setValue(value);
        tree->viewport()->repaint();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (bar->value() >= bar->maximum())
            return true;
        if (clock.elapsed() > 60000)
            return false;
    }
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName("Selkanor bench");
    QCoreApplication::setApplicationName("Morv Manager library bench");
    QTemporaryDir dir(QDir::temp().filePath("morv-librarybench-XXXXXX"));
    const QString cards = dir.filePath("cards");
    const QString songs = dir.filePath("songs");
    if (!makeLibraries(dir.path(), cards, songs)) {
        std::fprintf(stderr, "could not make the libraries\n");
        return 1;
    }
    ConfigurationManager configuration;
    configuration.setCardLibraryLocation(cards);
    configuration.setSongLibraryLocation(songs);

    qint64 longestGap = 0;
    qint64 longestGapEnd = 0;
    QElapsedTimer clock;
    QElapsedTimer tick;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 gap = tick.restart();
        if (gap > longestGap) {
            longestGap = gap;
            longestGapEnd = clock.elapsed();
        }
    });

    clock.start();
    MainWindow window;
    const qint64 built = clock.elapsed();
    window.resize(window.sizeHint());
    window.show();
    // The stall that counts is one the user sees: from the window on screen on.
    tick.start();
    ticker.start();
    LibrarianView *view = window.librarianView();
    struct Page
    {
        const char *name;
        QAbstractItemView *tree;
        int expected;
        qint64 done = -1;
    };
    Page pages[] = {
        {"card library", view->archiveView()->treeView(), kArchives + 1},
        {"song library", view->libraryView()->treeView(), kSongs},
        {"safety copies", view->safetyCopiesView()->treeWidget(), kSafetyCopies},
    };
    for (Page &page : pages) {
        view->tabs()->setCurrentWidget(page.tree->parentWidget());
        while (!allNamesShown(page.tree, page.expected) && clock.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        scrollThrough(page.tree, clock);
        page.done = clock.elapsed();
    }
    ticker.stop();
    for (const Page &page : pages)
        std::printf("%-14s %5d names shown at %6lld ms\n", page.name,
                    page.tree->model()->rowCount(page.tree->rootIndex()), page.done);
    std::printf("window built in %lld ms\n", built);
    std::printf("longest gap between 5 ms ticks: %lld ms, ending at %lld ms\n", longestGap, longestGapEnd);
    return pages[2].done <= 2000 && longestGap <= 100 ? 0 : 1;
}
