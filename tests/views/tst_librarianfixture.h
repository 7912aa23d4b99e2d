// The librarian view on a sparse card and two empty library folders, with a notifier and a
// prompter that answer from prepared lists, for the librarian view tests.
#pragma once

#include "../domain/recordingnotifier.h"
#include "../models/libraryfixture.h"
#include "domain/configurationmanager.h"
#include "domain/sdcard.h"
#include "models/songlistmodel.h"
#include "models/sortedlibrarymodel.h"
#include "views/cardsongsview.h"
#include "views/librarianview.h"
#include "views/prompter.h"

#include <QAction>
#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace ZovaZode::TestSupport {

class ScriptedPrompter : public Prompter
{
public:
    struct Question
    {
        QString title;
        QString label;
        QString proposal;
    };

    ScriptedPrompter() { Prompter::install(this); }
    ~ScriptedPrompter() override { Prompter::install(nullptr); }

    QString openFile(QWidget *, const FileRequest &request) override
    {
        fileRequests.append(request);
        return fileAnswer;
    }
    QString folder(QWidget *, const QString &, const QString &) override { return QString(); }
    // A null answer (or none left) is Cancel.
    bool text(QWidget *, const QString &title, const QString &label, QString *value) override
    {
        questions.append({title, label, *value});
        const QString answer = textAnswers.isEmpty() ? QString() : textAnswers.takeFirst();
        if (answer.isNull())
            return false;
        *value = answer;
        return true;
    }

    QString fileAnswer;
    QStringList textAnswers;
    QVector<FileRequest> fileRequests;
    QVector<Question> questions;
};

// Settings in test mode, and the one configuration manager the view reads.
inline std::unique_ptr<ConfigurationManager> librarianConfiguration(const char *application)
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Selkanor"));
    QCoreApplication::setApplicationName(QString::fromLatin1(application));
    QSettings().clear();
    return std::make_unique<ConfigurationManager>();
}

inline bool setImmutable(const QString &path, bool on)
{
    return QProcess::execute(QStringLiteral("chattr"),
                             {on ? QStringLiteral("+i") : QStringLiteral("-i"), path}) == 0;
}

struct Librarian
{
    QTemporaryDir dir{scratchFolderTemplate()};
    QString cardFolder = dir.filePath(QStringLiteral("card"));
    QString cardLibrary = dir.filePath(QStringLiteral("cards"));
    QString songLibrary = dir.filePath(QStringLiteral("songs"));
    CardImage image{cardFolder};
    RecordingNotifier notifier;
    ScriptedPrompter prompter;
    std::unique_ptr<LibrarianView> view;
    QStringList immutablePaths;

    explicit Librarian(const QByteArray &cardName = "Gig")
    {
        for (const QString &folder : {cardFolder, cardLibrary, songLibrary})
            QDir().mkpath(folder);
        image.create(cardName);
        ConfigurationManager *configuration = ConfigurationManager::instance();
        configuration->setCardLibraryLocation(cardLibrary);
        configuration->setSongLibraryLocation(songLibrary);
        configuration->setSdCardLocation(QString());
        // The librarian's own commands are tested here; safety copies have their own tests.
        configuration->setSafetyCopiesEnabled(false);
        view = std::make_unique<LibrarianView>();
    }
    ~Librarian()
    {
        for (const QString &path : immutablePaths)
            setImmutable(path, false);
        view.reset();
    }

    // Opens the card the way the user does, through "Open Card...".
    void openCard()
    {
        prompter.fileAnswer = image.path();
        view->action(LibrarianView::OpenCardAction)->trigger();
    }
    // As root only the immutable flag stops writes; false when the file system has none.
    bool makeImmutable(const QString &path)
    {
        if (!setImmutable(path, true))
            return false;
        immutablePaths.prepend(path);
        return true;
    }
    bool protectCard() { return makeImmutable(image.path()) && makeImmutable(cardFolder); }

    SortedLibraryModel *library(bool cards) const
    {
        return cards ? view->cardLibraryModel() : view->songLibraryModel();
    }
    // The item of a file or folder once the library lists it.
    QModelIndex item(bool cards, const QString &path) const
    {
        const QModelIndex index = library(cards)->index(path);
        return index.isValid() && library(cards)->filePath(index) == path ? index : QModelIndex();
    }
    void selectCardSong(int row) const
    {
        view->cardSongsView()->selectionModel()->select(view->songListModel()->index(row, 0),
                                                        QItemSelectionModel::ClearAndSelect);
    }
    // Each box as "<icon> <title>: <text>", the icon as I, W, C, Q or - for none.
    QStringList boxes() const
    {
        static const char icons[] = "-IWCQ";
        QStringList result;
        for (const Notifier::Message &message : notifier.messages())
            result << QLatin1Char(icons[int(message.icon)]) + QLatin1Char(' ') + message.title +
                          QStringLiteral(": ") + message.text;
        return result;
    }
};

} // namespace ZovaZode::TestSupport
