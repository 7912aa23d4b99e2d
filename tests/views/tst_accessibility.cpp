// What a keyboard or screen-reader user, or one who cannot tell the dot colours apart, meets in
// the window: the menu entries' keys and mnemonics, the names of the controls without visible
// text, and the part-state dots' letters and tool tips.
#include "app/mainwindow.h"
#include "domain/configurationmanager.h"
#include "models/songlistmodel.h"
#include "views/archiveview.h"
#include "views/cardsongsview.h"
#include "views/librarianview.h"
#include "views/libraryview.h"
#include "views/sdcardheaderview.h"
#include "views/sdcarditemdelegate.h"

#include <QMenuBar>
#include <QStandardItemModel>
#include <QToolTip>
#include <QTreeView>
#include <QtTest>

using namespace ZovaZode;

namespace {

// "menu:" and an entry's text give the keys of the entries so named; a control gives its name.
QStringList describe(const MainWindow &window, const QString &item)
{
    QStringList found;
    for (const QAction *action : window.findChildren<QAction *>()) {
        if (QStringLiteral("menu:") + action->text() == item)
            found << action->shortcut().toString();
    }
    const LibrarianView *view = window.librarianView();
    using W = QWidget *;
    const QHash<QString, QWidget *> controls = {
        {"card box", view->headerView()->findChild<QWidget *>("cardBox")},
        {"card name", view->headerView()->findChild<QWidget *>("nameEditor")},
        {"card songs", W(view->cardSongsView())},
        {"archives", W(view->archiveView()->treeView())},
        {"song files", W(view->libraryView()->treeView())},
        {"card arrows", W(view->cardLibraryIndicator())},
        {"song arrows", W(view->songLibraryIndicator())},
    };
    if (QWidget *control = controls.value(item))
        found << control->accessibleName();
    return found;
}

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("Selkanor"));
        QCoreApplication::setApplicationName(QStringLiteral("Morv Manager Accessibility Test"));
        (new ConfigurationManager(this))->setChecksForUpdatesAtStart(false); // no network here
    }
    // A menu entry's text gives its key, a control's short name its accessible name.
    void keysAndNames_data()
    {
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::newRow("menu:E&xit")                               << "Ctrl+Q";
        QTest::newRow("menu:&Open Card...")                       << "Ctrl+O";
        QTest::newRow("menu:&Close Card")                         << "Ctrl+W";
        QTest::newRow("menu:&Edit Selected Card Song Name...")    << "F2";
        QTest::newRow("menu:Clea&r Selected Card Song")           << "Del";
        QTest::newRow("menu:&Edit Selected Archive Name...")      << "F2";
        QTest::newRow("menu:&Delete Selected Archive Item")       << "Del";
        QTest::newRow("menu:Edit Selected &Library Item Name...") << "F2";
        QTest::newRow("menu:Delete Selected Library &Item")       << "Del";
        QTest::newRow("menu:&User Guide")                         << "F1";
        QTest::newRow("menu:&Undo")                               << "Ctrl+Z";
        QTest::newRow("card box")                                 << "Card";
        QTest::newRow("card name")                                << "Card name";
        QTest::newRow("card songs")                               << "Card songs";
        QTest::newRow("archives")                                 << "Card archives";
        QTest::newRow("song files")                               << "Song files";
        QTest::newRow("card arrows")                              << "Card library transfers";
        QTest::newRow("song arrows")                              << "Song library transfers";
        // clang-format on
    }
    void keysAndNames()
    {
        QFETCH(QString, expected);
        MainWindow window;
        QCOMPARE(describe(window, QString::fromUtf8(QTest::currentDataTag())), QStringList(expected));
    }

    // Every entry of every menu has a letter of its own; only the ten entries above have a key.
    void mnemonics()
    {
        MainWindow window;
        QList<QMenu *> menus = {window.advancedMenu()};
        for (QAction *title : window.menuBar()->actions())
            menus << title->menu();
        int keyed = 0;
        for (const QMenu *menu : menus) {
            QSet<QChar> letters;
            for (const QAction *action : menu->actions()) {
                const QString text = action->text();
                const int mark = text.indexOf(QLatin1Char('&'));
                const QChar letter = mark >= 0 ? text.at(mark + 1).toLower() : QChar();
                QVERIFY2(action->isSeparator() || (mark >= 0 && !letters.contains(letter)), qPrintable(text));
                letters << letter;
                keyed += !action->shortcut().isEmpty();
            }
        }
        QCOMPARE(keyed, 11);
    }
    void partStates_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("letter");
        QTest::addColumn<QString>("toolTip");
        // clang-format off
        //                               state  letter  tool tip of the fifth dot
        QTest::newRow("empty")      << 0   << ""   << "Part 5: Empty";
        QTest::newRow("normal")     << 1   << "N"  << "Part 5: Normal";
        QTest::newRow("intense")    << 2   << "I"  << "Part 5: Intense";
        QTest::newRow("looper")     << 3   << "L"  << "Part 5: Looper";
        QTest::newRow("unknown 7")  << 7   << ""   << "Part 5: Empty";
        // clang-format on
    }
    void partStates()
    {
        QFETCH(int, state);
        QFETCH(QString, letter);
        QFETCH(QString, toolTip);
        QCOMPARE(SdCardItemDelegate::partStateLetter(state), letter);
        QStandardItemModel model;
        model.appendRow(new QStandardItem);
        model.setData(model.index(0, 0), QVariantList{3, 2, 1, 0, state}, SongListModel::PartsRole);
        QListView view;
        view.setModel(&model);
        view.setItemDelegate(new SdCardItemDelegate(&view));
        const QRect row = view.visualRect(model.index(0, 0));
        const QRect dots = SdCardItemDelegate::rowGeometry(row, view.fontMetrics()).partStateArea;
        const QPoint fifth(dots.x() + 4 * 16 + 7, row.center().y());
        QHelpEvent help(QEvent::ToolTip, fifth, view.viewport()->mapToGlobal(fifth));
        QCoreApplication::sendEvent(view.viewport(), &help);
        QCOMPARE(QToolTip::text(), toolTip);
    }
};

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
