// The "Card Library" page: the card library folder with its card archives.
#pragma once

#include "views/libraryfolderview.h"

namespace ZovaZode {

class ArchiveView : public LibraryFolderView
{
    Q_OBJECT

public:
    explicit ArchiveView(SortedLibraryModel *model, QWidget *parent = nullptr)
        : LibraryFolderView(model, tr("Restore To Card"), parent)
    {}

    // The selection's path when it is a card archive, else empty.
    QString selectedArchivePath() const { return selectedFilePath(); }
};

} // namespace ZovaZode
