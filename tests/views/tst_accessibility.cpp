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
    // The controls without visible text, by their names.
    void names()
    {
        MainWindow window;
        const LibrarianView *view = window.librarianView();
        using W = QWidget *;
        const QList<W> controls{view->headerView()->findChild<W>("cardBox"),
                                view->headerView()->findChild<W>("nameEditor"),
                                W(view->cardSongsView()),
                                W(view->archiveView()->treeView()),
                                W(view->libraryView()->treeView()),
                                W(view->cardLibraryIndicator()),
                                W(view->songLibraryIndicator())};
        QStringList names;
        for (const QWidget *control : controls)
            names << control->accessibleName();
        QCOMPARE(names, QStringList({"Card", "Card name", "Card songs", "Card archives", "Song files",
                                     "Card library transfers", "Song library transfers"}));
    }

    // Every entry of every menu has a letter of its own; only these entries have a key.
    void keys()
    {
        MainWindow window;
        QList<QMenu *> menus = {window.advancedMenu()};
        for (QAction *title : window.menuBar()->actions())
            menus << title->menu();
        QStringList keyed;
        for (const QMenu *menu : menus) {
            QSet<QChar> letters;
            for (const QAction *action : menu->actions()) {
                const QString text = action->text();
                const int mark = text.indexOf(QLatin1Char('&'));
                const QChar letter = mark >= 0 ? text.at(mark + 1).toLower() : QChar();
                QVERIFY2(action->isSeparator() || (mark >= 0 && !letters.contains(letter)), qPrintable(text));
                letters << letter;
                if (!action->shortcut().isEmpty())
                    keyed << text + " " + action->shortcut().toString();
            }
        }
        keyed.sort();
        QCOMPARE(keyed, QStringList({"&Close Card Ctrl+W", "&Delete Selected Archive Item Del",
                                     "&Edit Selected Archive Name... F2", "&Edit Selected Card Song Name... F2",
                                     "&Open Card... Ctrl+O", "&Undo Ctrl+Z", "&User Guide F1",
                                     "Clea&r Selected Card Song Del", "Delete Selected Library &Item Del",
                                     "E&xit Ctrl+Q", "Edit Selected &Library Item Name... F2"}));
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
