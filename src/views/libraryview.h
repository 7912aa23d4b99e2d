// The "Song Library" page: the song library folder with its song files.
#pragma once

#include "views/libraryfolderview.h"

namespace ZovaZode {

class LibraryView : public LibraryFolderView
{
    Q_OBJECT

public:
    explicit LibraryView(SortedLibraryModel *model, QWidget *parent = nullptr)
        : LibraryFolderView(model, tr("Copy to Selected Slot on Card"), parent)
    {}

    // The selection's path when it is a song file, else empty.
    QString selectedSongPath() const { return selectedFilePath(); }
};

} // namespace ZovaZode
