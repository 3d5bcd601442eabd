#pragma once

#include "photo/PhotoImage.h"
#include "photo/ThumbnailTile.h"

#include <QHash>
#include <QString>

// The pictures of the photos whose tiles were shown last, so that a page shown again appears at
// once and a changed UPLOADED mark needs a new frame, never a new decode. Kept with the stamp of
// the file they show; the photo shown longest ago goes first once `capacity` are kept.
class RecentTiles
{
public:
    struct Entry
    {
        FileStamp stamp;
        TilePicture picture;
        bool uploaded = false;
    };

    explicit RecentTiles(int capacity) : capacity_(capacity) {}

    // Null when the photo is not kept. Counts as a use.
    const Entry *find(const QString &path);
    void keep(const QString &path, Entry entry);
    void forget(const QString &path) { entries_.remove(path); }
    int size() const { return int(entries_.size()); }

private:
    struct Kept
    {
        Entry entry;
        quint64 used = 0;
    };
    int capacity_;
    quint64 clock_ = 0;
    QHash<QString, Kept> entries_;
};
