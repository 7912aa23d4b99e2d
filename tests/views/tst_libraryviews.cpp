// The library and archive views: their actions against the selection, the context menu, the
// Delete key, activation, renaming in place, and choosing another folder.
#include "views/archiveview.h"
#include "views/libraryview.h"

#include "../models/libraryfixture.h"
#include "domain/configurationmanager.h"
#include "models/sortedlibrarymodel.h"
#include "views/prompter.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QStandardPaths>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

namespace {

class FolderPrompter : public Prompter
{
public:
    explicit FolderPrompter(QString answer) : m_answer(std::move(answer)) { Prompter::install(this); }
    ~FolderPrompter() override { Prompter::install(nullptr); }

    QString openFile(QWidget *, const FileRequest &) override { return QString(); }
    QString folder(QWidget *, const QString &caption, const QString &startPath) override
    {
        ++asked;
        askedCaption = caption;
        askedStart = startPath;
        return m_answer;
    }
    bool text(QWidget *, const QString &, const QString &, QString *) override { return false; }

    int asked = 0;
    QString askedCaption;
    QString askedStart;

private:
    QString m_answer;
};

// One library folder holding a folder, a readable item and an unreadable one, shown by the
// view of the row's kind inside a window that also has a line edit.
struct Page
{
    QTemporaryDir dir;
    SortedLibraryModel model;
    QWidget window;
    QLineEdit *elsewhere = nullptr;
    // Children of the window.
    LibraryView *libraryView = nullptr;
    ArchiveView *archiveView = nullptr;
    QWidget *view = nullptr;
    QTreeView *tree = nullptr;
    QString item;       // the readable item's file name
    QString unreadable; // the unreadable item's file name

    explicit Page(bool songs)
    {
        item = songs ? QStringLiteral("x.mlsd") : QStringLiteral("Gig.mlad");
        unreadable = songs ? QStringLiteral("bad.mlsd") : QStringLiteral("bad.mlad");
        QDir(dir.path()).mkdir(QStringLiteral("Sets"));
        if (songs)
            writeSongFile(path(item), "Intro");
        else
            writeArchive(path(item), "Gig");
        writeGarbage(path(unreadable));

        model.libraryModel()->setItemType(songs ? LibraryDataModel::SongLibrary
                                                : LibraryDataModel::CardLibrary);
        openLibrary(model, dir.path(), 3);

        auto *layout = new QVBoxLayout(&window);
        elsewhere = new QLineEdit(&window);
        layout->addWidget(elsewhere);
        if (songs) {
            libraryView = new LibraryView(&model, &window);
            view = libraryView;
            tree = libraryView->treeView();
        } else {
            archiveView = new ArchiveView(&model, &window);
            view = archiveView;
            tree = archiveView->treeView();
        }
        layout->addWidget(view);
        window.resize(400, 400);
    }

    QString path(const QString &name) const { return dir.filePath(name); }
    QModelIndex index(const QString &name) const { return model.index(path(name)); }

    QAction *detailsAction() const
    {
        return libraryView ? libraryView->detailsAction() : archiveView->detailsAction();
    }
    QAction *editNameAction() const
    {
        return libraryView ? libraryView->editNameAction() : archiveView->editNameAction();
    }
    QMenu *contextMenu() const
    {
        return libraryView ? libraryView->contextMenu() : archiveView->contextMenu();
    }
    QLabel *folderLabel() const
    {
        return libraryView ? libraryView->folderLabel() : archiveView->folderLabel();
    }
    QString selectedPath() const
    {
        return libraryView ? libraryView->selectedSongPath() : archiveView->selectedArchivePath();
    }
    void selectPath(const QString &path) const
    {
        if (libraryView)
            libraryView->selectPath(path);
        else
            archiveView->selectPath(path);
    }
    void editName() const
    {
        if (libraryView)
            libraryView->editName();
        else
            archiveView->editName();
    }
    QModelIndex selectedIndex() const
    {
        return libraryView ? libraryView->selectedIndex() : archiveView->selectedIndex();
    }

    std::unique_ptr<QSignalSpy> deleteRequests() const
    {
        if (libraryView)
            return std::make_unique<QSignalSpy>(libraryView, &LibraryView::deleteRequest);
        return std::make_unique<QSignalSpy>(archiveView, &ArchiveView::deleteRequest);
    }
    std::unique_ptr<QSignalSpy> selectionChanges() const
    {
        if (libraryView)
            return std::make_unique<QSignalSpy>(libraryView, &LibraryView::selectionChanged);
        return std::make_unique<QSignalSpy>(archiveView, &ArchiveView::selectionChanged);
    }

    bool showActive()
    {
        window.show();
        window.activateWindow();
        return QTest::qWaitForWindowActive(&window);
    }
};

} // namespace

class TestLibraryViews : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void contextMenuActions_data();
    void contextMenuActions();
    void actionsFollowTheSelection_data();
    void actionsFollowTheSelection();
    void contextMenuOnlyOnItems_data();
    void contextMenuOnlyOnItems();
    void deleteKey_data();
    void deleteKey();
    void activation_data();
    void activation();
    void renamingInPlace_data();
    void renamingInPlace();
    void folderChange_data();
    void folderChange();

private:
    std::unique_ptr<ConfigurationManager> m_configuration;
};

void TestLibraryViews::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Selkanor"));
    QCoreApplication::setApplicationName(QStringLiteral("Morv Manager Library Views Test"));
    QSettings().clear();
    m_configuration = std::make_unique<ConfigurationManager>();
}

void TestLibraryViews::cleanup()
{
    QSettings settings;
    settings.remove(QStringLiteral("card_library"));
    settings.remove(QStringLiteral("song_library"));
}

void TestLibraryViews::contextMenuActions_data()
{
    QTest::addColumn<bool>("songs");
    QTest::addColumn<QStringList>("texts");

    // clang-format off
    QTest::newRow("library view") << true  << QStringList{"Edit Name...", "Details...", "Copy to Selected Slot on Card", "Delete"};
    QTest::newRow("archive view") << false << QStringList{"Edit Name...", "Details...", "Restore To Card", "Delete"};
    // clang-format on
}

void TestLibraryViews::contextMenuActions()
{
    QFETCH(bool, songs);
    QFETCH(QStringList, texts);

    Page page(songs);
    QStringList shown;
    for (const QAction *action : page.contextMenu()->actions())
        shown << action->text();
    QCOMPARE(shown, texts);
    QCOMPARE(page.folderLabel()->text(), page.dir.path());
    QCOMPARE(page.tree->rootIndex(), page.model.index(page.dir.path()));
    for (int column = 1; column <= 3; ++column)
        QVERIFY(page.tree->isColumnHidden(column));
    QVERIFY(!page.tree->isColumnHidden(0));
}

void TestLibraryViews::actionsFollowTheSelection_data()
{
    QTest::addColumn<bool>("songs");
    QTest::addColumn<QString>("selected"); // "folder", "item", "unreadable" or none
    QTest::addColumn<bool>("details");
    QTest::addColumn<bool>("editName");
    QTest::addColumn<bool>("hasPath");

    // clang-format off
    QTest::newRow("library, nothing")    << true  << ""           << false << true  << false;
    QTest::newRow("library, folder")     << true  << "folder"     << false << true  << false;
    QTest::newRow("library, song")       << true  << "item"       << true  << true  << true;
    QTest::newRow("library, unreadable") << true  << "unreadable" << false << false << false;
    QTest::newRow("archive, nothing")    << false << ""           << false << true  << false;
    QTest::newRow("archive, folder")     << false << "folder"     << false << true  << false;
    QTest::newRow("archive, archive")    << false << "item"       << true  << true  << true;
    QTest::newRow("archive, unreadable") << false << "unreadable" << false << false << false;
    // clang-format on
}

void TestLibraryViews::actionsFollowTheSelection()
{
    QFETCH(bool, songs);
    QFETCH(QString, selected);
    QFETCH(bool, details);
    QFETCH(bool, editName);
    QFETCH(bool, hasPath);

    Page page(songs);
    const auto selectionChanged = page.selectionChanges();
    // Start from another selection, so that every case needs an update.
    page.selectPath(page.path(selected == "unreadable" ? page.item : page.unreadable));
    selectionChanged->clear();

    QString name;
    if (selected == "folder")
        name = QStringLiteral("Sets");
    else if (selected == "item")
        name = page.item;
    else if (selected == "unreadable")
        name = page.unreadable;
    if (name.isEmpty())
        page.tree->selectionModel()->clearSelection();
    else
        page.selectPath(page.path(name));

    QCOMPARE(selectionChanged->count(), 1);
    QCOMPARE(page.detailsAction()->isEnabled(), details);
    QCOMPARE(page.editNameAction()->isEnabled(), editName);
    QCOMPARE(page.selectedPath(), hasPath ? page.path(name) : QString());
    QCOMPARE(page.selectedIndex(), name.isEmpty() ? QModelIndex() : page.index(name));
}

void TestLibraryViews::contextMenuOnlyOnItems_data()
{
    QTest::addColumn<bool>("songs");
    QTest::addColumn<bool>("onItem");

    // clang-format off
    QTest::newRow("library, item")        << true  << true;
    QTest::newRow("library, empty space") << true  << false;
    QTest::newRow("archive, item")        << false << true;
    QTest::newRow("archive, empty space") << false << false;
    // clang-format on
}

void TestLibraryViews::contextMenuOnlyOnItems()
{
    QFETCH(bool, songs);
    QFETCH(bool, onItem);

    Page page(songs);
    page.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page.window));

    QWidget *viewport = page.tree->viewport();
    const QPoint position = onItem ? page.tree->visualRect(page.index(page.item)).center()
                                   : QPoint(viewport->width() / 2, viewport->height() - 5);
    QVERIFY(onItem == page.tree->indexAt(position).isValid());
    QContextMenuEvent event(QContextMenuEvent::Mouse, position, viewport->mapToGlobal(position));
    QApplication::sendEvent(viewport, &event);

    QCOMPARE(page.contextMenu()->isVisible(), onItem);
    if (onItem)
        QCOMPARE(page.contextMenu()->pos(), viewport->mapToGlobal(position));
    page.contextMenu()->close();
}

void TestLibraryViews::deleteKey_data()
{
    QTest::addColumn<bool>("songs");
    QTest::addColumn<bool>("treeFocused");
    QTest::addColumn<int>("requests");

    // clang-format off
    QTest::newRow("library, tree focused")    << true  << true  << 1;
    QTest::newRow("library, focus elsewhere") << true  << false << 0;
    QTest::newRow("archive, tree focused")    << false << true  << 1;
    QTest::newRow("archive, focus elsewhere") << false << false << 0;
    // clang-format on
}

void TestLibraryViews::deleteKey()
{
    QFETCH(bool, songs);
    QFETCH(bool, treeFocused);
    QFETCH(int, requests);

    Page page(songs);
    QVERIFY(page.showActive());
    page.selectPath(page.path(page.item));
    QWidget *focus = treeFocused ? static_cast<QWidget *>(page.tree) : page.elsewhere;
    focus->setFocus();
    QTRY_VERIFY(focus->hasFocus());

    const auto deleteRequests = page.deleteRequests();
    QTest::keyClick(focus, Qt::Key_Delete);
    QCOMPARE(deleteRequests->count(), requests);
    QVERIFY(QFile::exists(page.path(page.item)));
}

void TestLibraryViews::activation_data()
{
    QTest::addColumn<bool>("songs");
    QTest::addColumn<QString>("activated");
    QTest::addColumn<int>("details");

    // clang-format off
    QTest::newRow("library, song")       << true  << "item"       << 1;
    QTest::newRow("library, folder")     << true  << "Sets"       << 0;
    QTest::newRow("library, unreadable") << true  << "unreadable" << 0;
    QTest::newRow("archive, archive")    << false << "item"       << 1;
    QTest::newRow("archive, folder")     << false << "Sets"       << 0;
    // clang-format on
}

void TestLibraryViews::activation()
{
    QFETCH(bool, songs);
    QFETCH(QString, activated);
    QFETCH(int, details);

    Page page(songs);
    QVERIFY(page.showActive());
    const QString name = activated == "item"         ? page.item
                         : activated == "unreadable" ? page.unreadable
                                                     : activated;
    page.tree->setFocus();
    page.tree->setCurrentIndex(page.index(name));

    QSignalSpy triggered(page.detailsAction(), &QAction::triggered);
    QTest::keyClick(page.tree, Qt::Key_Return);
    QCOMPARE(triggered.count(), details);
}

void TestLibraryViews::renamingInPlace_data()
{
    QTest::addColumn<bool>("songs");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("newName");
    QTest::addColumn<QString>("newFile");

    // clang-format off
    QTest::newRow("song")    << true  << "Intro" << "Verse" << "Verse.mlsd";
    QTest::newRow("archive") << false << "Gig"   << "Gig 2" << "Gig 2.mlad";
    // clang-format on
}

void TestLibraryViews::renamingInPlace()
{
    QFETCH(bool, songs);
    QFETCH(QString, shown);
    QFETCH(QString, newName);
    QFETCH(QString, newFile);

    Page page(songs);
    QVERIFY(page.showActive());
    page.tree->setCurrentIndex(page.index(page.item));
    page.editName();

    QLineEdit *editor = nullptr;
    QTRY_VERIFY((editor = page.tree->viewport()->findChild<QLineEdit *>()) && editor->isVisible());
    QCOMPARE(editor->text(), shown);
    editor->selectAll();
    QTest::keyClicks(editor, newName);
    QTest::keyClick(editor, Qt::Key_Return);

    QTRY_VERIFY(QFile::exists(page.path(newFile)));
    QVERIFY(!QFile::exists(page.path(page.item)));
    QCOMPARE(storedName(page.path(newFile)), newName);
    QTRY_COMPARE(page.index(newFile).data().toString(), newName);
}

void TestLibraryViews::folderChange_data()
{
    QTest::addColumn<bool>("songs");
    QTest::addColumn<bool>("chosen");

    // clang-format off
    QTest::newRow("library, folder chosen") << true  << true;
    QTest::newRow("library, cancelled")     << true  << false;
    QTest::newRow("archive, folder chosen") << false << true;
    QTest::newRow("archive, cancelled")     << false << false;
    // clang-format on
}

void TestLibraryViews::folderChange()
{
    QFETCH(bool, songs);
    QFETCH(bool, chosen);

    Page page(songs);
    QTemporaryDir other;
    if (songs)
        writeSongFile(other.filePath(QStringLiteral("o.mlsd")), "Elsewhere");
    else
        writeArchive(other.filePath(QStringLiteral("o.mlad")), "Elsewhere");
    page.tree->setCurrentIndex(page.index(page.item));
    page.selectPath(page.path(page.item));

    ConfigurationManager *configuration = ConfigurationManager::instance();
    const QString cardLocation = configuration->cardLibraryLocation();
    const QString songLocation = configuration->songLibraryLocation();
    FolderPrompter prompter(chosen ? other.path() : QString());
    auto *change = page.view->findChild<QToolButton *>();
    QVERIFY(change);
    QCOMPARE(change->text(), QStringLiteral("Change"));
    change->click();

    QCOMPARE(prompter.asked, 1);
    QCOMPARE(prompter.askedCaption, QString());
    QCOMPARE(prompter.askedStart, page.dir.path());
    const QString expected = chosen ? other.path() : page.dir.path();
    QCOMPARE(page.folderLabel()->text(), expected);
    QCOMPARE(page.model.rootPath(), expected);
    QCOMPARE(page.tree->rootIndex(), page.model.index(expected));
    QCOMPARE(configuration->songLibraryLocation(), chosen && songs ? other.path() : songLocation);
    QCOMPARE(configuration->cardLibraryLocation(), chosen && !songs ? other.path() : cardLocation);
    QCOMPARE(QSettings().value(songs ? "song_library/location" : "card_library/location").toString(),
             chosen ? other.path() : QString());
    QCOMPARE(page.tree->selectionModel()->hasSelection(), !chosen);
    // Both views let go of their current item as well, so Edit Name cannot reach the old folder.
    QCOMPARE(page.tree->currentIndex().isValid(), !chosen);
    if (chosen)
        QTRY_COMPARE(page.model.rowCount(page.tree->rootIndex()), 1);
}

QTEST_MAIN(TestLibraryViews)
#include "tst_libraryviews.moc"
