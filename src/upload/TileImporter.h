#pragma once

#include "platform/Worker.h"

#include <QHash>
#include <QImage>
#include <QObject>
#include <QStringList>

#include <map>

// One photo's tile for the upload dialog, with the file's size.
struct ImportedTile {
    QImage image;
    qint64 size = 0;
    bool missing = false; // the file is not there (its tile says so)
};

// Makes the upload dialog's tiles: one low-priority worker request per photo, on every core,
// each reading its photo once and decoding it at the tile's size, upright. The tiles are
// handed over in the photos' order, whatever order they are finished in. A photo whose read
// is stuck (a FIFO, a stalled network mount) gets the empty frame once it is known as stuck,
// so that it holds up neither the photos after it nor the end of the import; a photo that
// cannot be decoded gets the empty frame too.
class TileImporter : public QObject
{
    Q_OBJECT
public:
    explicit TileImporter(QObject *parent = nullptr, WorkerPool::Options options = defaultOptions());
    ~TileImporter() override;

    static WorkerPool::Options defaultOptions();

    // Starts an import of these photos, ending any import under way (nothing more comes of it).
    void Start(const QStringList &paths);
    void Stop();

    // The tile of a photo that is not there.
    static QImage MissingTile();

signals:
    // Photo `index` of the import (from 0), in order.
    void tileReady(int index, const ImportedTile &tile);
    // Every photo of the import has its tile (also at once, for an import of none).
    void finished();

private:
    void arrived(quint64 run, int index, ImportedTile tile);
    void handOver(quint64 run);

    quint64 run_ = 0;
    bool running_ = false;
    int count_ = 0;
    int next_ = 0;                      // the next index to hand over
    std::map<int, ImportedTile> ready_; // finished out of order, waiting for those before them
    QHash<quint64, int> indexOf_;       // request number -> photo index
    QImage missingTile_;

    WorkerPool pool_;
    Worker worker_{this, pool_};
};
