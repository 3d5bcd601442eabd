#pragma once

#include "platform/Worker.h"

#include <QFile>

// A file read on a worker: opening it and every read count as blocking calls of the request,
// so a file whose open or read never returns (a FIFO, a stalled network mount) is known as
// stuck; and once the request is cancelled the file reads nothing more, so a decoder reading
// it sees its end and stops early.
class WorkerFile : public QFile
{
public:
    WorkerFile(const QString &path, CancelToken token) : QFile(path), token_(std::move(token)) {}

    bool open(OpenMode mode) override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;

private:
    CancelToken token_;
};
