#include "upload/TileImporter.h"

#include "photo/ThumbnailTile.h"

#include <QFileInfo>
#include <QFont>
#include <QPainter>

TileImporter::TileImporter(QObject *parent, WorkerPool::Options options) : QObject(parent), pool_(options)
{
    worker_.onStalled([this](quint64 number) {
        const auto it = indexOf_.constFind(number);
        if (it == indexOf_.cend())
            return;
        const int index = it.value();
        if (index < next_ || ready_.count(index))
            return;
        ImportedTile stuck;
        stuck.image = TileFrame(false);
        ready_.emplace(index, std::move(stuck));
        handOver(run_);
    });
}

TileImporter::~TileImporter() = default;

WorkerPool::Options TileImporter::defaultOptions()
{
    return WorkerPool::Options{"qlm-import", WorkPriority::Low};
}

void TileImporter::Start(const QStringList &paths)
{
    Stop();
    const quint64 run = ++run_;
    running_ = true;
    count_ = int(paths.size());
    for (int index = 0; index < count_; ++index) {
        const quint64 number = worker_.start(
            [path = paths[index]](const WorkerTask &task) {
                ImportedTile tile;
                {
                    const CancelToken::Blocking call = task.token().blocking();
                    const QFileInfo info(path);
                    tile.missing = !info.exists();
                    tile.size = tile.missing ? 0 : info.size();
                }
                if (!tile.missing && !task.cancelled())
                    tile.image = MakeThumbnailTile(path, false, task.token());
                return tile;
            },
            [this, run, index](quint64, ImportedTile tile) { arrived(run, index, std::move(tile)); });
        indexOf_.insert(number, index);
    }
    if (count_ == 0)
        QMetaObject::invokeMethod(this, [this, run] { handOver(run); }, Qt::QueuedConnection);
}

void TileImporter::Stop()
{
    worker_.cancelAll();
    ++run_;
    running_ = false;
    count_ = 0;
    next_ = 0;
    ready_.clear();
    indexOf_.clear();
}

QImage TileImporter::MissingTile()
{
    QImage tile = TileFrame(false);
    QPainter p(&tile);
    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);
    p.setPen(QColor(48, 48, 48));
    p.drawText(QRect(WellLeft, WellTop, WellWidth, WellHeight), Qt::AlignCenter | Qt::TextWordWrap,
               QStringLiteral("File not found"));
    return tile;
}

void TileImporter::arrived(quint64 run, int index, ImportedTile tile)
{
    if (run != run_ || index < next_)
        return; // a photo written off as stuck whose read came back after all
    if (tile.missing) {
        if (missingTile_.isNull())
            missingTile_ = MissingTile();
        tile.image = missingTile_;
    }
    ready_.insert_or_assign(index, std::move(tile));
    handOver(run);
}

void TileImporter::handOver(quint64 run)
{
    // A receiver may stop or restart the import from its slot: each step checks the run again.
    while (run == run_ && running_) {
        const auto it = ready_.find(next_);
        if (it == ready_.end())
            break;
        const ImportedTile tile = std::move(it->second);
        ready_.erase(it);
        emit tileReady(next_++, tile);
    }
    if (run == run_ && running_ && next_ == count_) {
        running_ = false;
        indexOf_.clear();
        emit finished();
    }
}
