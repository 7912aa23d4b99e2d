// morv-screenshots OUTPUT_DIR [CARD_FILE]: takes the documentation screenshots of the real window.
// It answers the open-card prompt with CARD_FILE, triggers the window's own actions and grabs
// what they show, so the pictures always show the program as it is. Settings are kept in the test
// area and the libraries in a temporary folder; the user's own are never touched.
#include "app/configurationmanager.h"
#include "app/mainwindow.h"
#include "models/songlistmodel.h"
#include "views/cardsongsview.h"
#include "views/librarianview.h"
#include "views/prompter.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtDebug>

#include <cstdio>

namespace {

using namespace ZovaZode;

class CardPrompter : public Prompter
{
public:
    explicit CardPrompter(const QString &card) : m_card(card) {}
    QString openFile(QWidget *, const FileRequest &) override { return m_card; }
    QString folder(QWidget *, const QString &, const QString &) override { return QString(); }
    bool text(QWidget *, const QString &, const QString &, QString *) override { return false; }

private:
    QString m_card;
};

// Lets layouts, deferred updates and timers settle before a picture is taken.
void settle()
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 400)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

bool save(QWidget *widget, const QString &path)
{
    settle();
    const bool saved = widget->grab().save(path);
    std::printf("%s %s\n", saved ? "saved" : "FAILED to save", qPrintable(path));
    return saved;
}

QAction *findAction(const QList<QAction *> &actions, const QString &text)
{
    for (QAction *action : actions) {
        if (action->text() == text)
            return action;
    }
    std::printf("no action \"%s\"\n", qPrintable(text));
    return nullptr;
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

QUrl unreachableManifest()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return QUrl(QStringLiteral("http://127.0.0.1:%1/manifest.xml").arg(probe.serverPort()));
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Morv Manager"));
    QApplication::setOrganizationDomain(QStringLiteral("selkanor.com"));
    QApplication::setOrganizationName(QStringLiteral("Selkanor"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/images/manager_icon_256.png"));
    QApplication::setWindowIcon(icon);

    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: morv-screenshots OUTPUT_DIR [CARD_FILE]\n");
        return 2;
    }
    const QDir output(arguments.at(1));
    const QString card = arguments.size() > 2 ? QFileInfo(arguments.at(2)).absoluteFilePath() : QString();
    QDir().mkpath(output.path());

    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir libraries;
    ConfigurationManager configuration;
    configuration.setCardLibraryLocation(libraries.filePath(QStringLiteral("Morv+ Card Library")));
    configuration.setSongLibraryLocation(libraries.filePath(QStringLiteral("Morv+ Song Library")));
    configuration.setSdCardLocation(QString());
    configuration.setManifestUrl(unreachableManifest());
    QDir().mkpath(configuration.cardLibraryLocation());
    QDir().mkpath(configuration.songLibraryLocation());

    CardPrompter prompter(card);
    Prompter::install(&prompter);

    int failures = 0;
    {
        MainWindow window;
        window.resize(window.sizeHint());
        window.show();
        failures += !save(&window, output.filePath(QStringLiteral("main-window-no-card.png")));

        if (card.isEmpty()) {
            std::printf("no card given: skipping the card screenshots\n");
        } else if (QAction *open =
                       findAction(window.librarianView()->cardActions(), QStringLiteral("Open Card..."))) {
            open->trigger();
            failures += !save(&window, output.filePath(QStringLiteral("main-window-demo-card.png")));

            auto *songs = window.findChild<CardSongsView *>();
            auto *model = songs ? qobject_cast<SongListModel *>(songs->model()) : nullptr;
            int row = 0;
            while (model && row + 1 < model->rowCount() && model->isEmptySong(row))
                ++row;
            QAction *details = findAction(window.librarianView()->cardActions(),
                                          QStringLiteral("Show Selected Card Song Details..."));
            if (model && details) {
                songs->selectionModel()->setCurrentIndex(model->index(row, 0),
                                                         QItemSelectionModel::ClearAndSelect);
                details->trigger();
                settle();
                QDialog *dialog = visibleDialog();
                if (!dialog)
                    std::printf("the song details dialog did not show\n");
                failures += !dialog || !save(dialog, output.filePath(QStringLiteral("song-details.png")));
            } else {
                ++failures;
            }
        } else {
            ++failures;
        }
    }
    Prompter::install(nullptr);
    return failures == 0 ? 0 : 1;
}
