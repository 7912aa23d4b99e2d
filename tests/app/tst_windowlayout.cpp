// The window holds its shape: with a card open from a very long path and library folders with
// long paths, at the default size, at 1280 x 800 and at its minimum size, the window keeps the
// size it was given, the path labels are cut in the middle with the whole path in their tool tip,
// and no widget is squeezed below its own minimum width.
#include "support/libraryfixture.h"

#include "app/mainwindow.h"
#include "views/archiveview.h"
#include "views/elidedlabel.h"
#include "views/libraryview.h"
#include "views/sdcardheaderview.h"

#include <QTabBar>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

class TestWindowLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_configuration = librarianConfiguration("tst_windowlayout");
        m_configuration->setManifestUrl(QUrl("http://127.0.0.1:9/manifest.xml"));
    }
    void sizes_data();
    void sizes();

private:
    std::unique_ptr<ConfigurationManager> m_configuration;
};

void TestWindowLayout::sizes_data()
{
    QTest::addColumn<QSize>("size"); // empty: the window's minimum size
    QTest::newRow("default")   << QSize(1000, 640);
    QTest::newRow("1280x800")  << QSize(1280, 800);
    QTest::newRow("minimum")   << QSize();
}

void TestWindowLayout::sizes()
{
    QFETCH(QSize, size);

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
    if (!size.isValid())
        size = window.minimumSizeHint();
    window.resize(size);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(view->openCardFile(image.path()));
    QTest::qWait(50);
    QCOMPARE(window.size(), size);

    const QList<ElidedLabel *> labels{view->headerView()->findChild<ElidedLabel *>("pathLabel"),
                                      view->archiveView()->folderLabel()};
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

QTEST_MAIN(TestWindowLayout)
#include "tst_windowlayout.moc"
