#include "platform/WorkerFile.h"

bool WorkerFile::open(OpenMode mode)
{
    if (token_.cancelled())
        return false;
    const CancelToken::Blocking call = token_.blocking();
    return QFile::open(mode);
}

qint64 WorkerFile::readData(char *data, qint64 maxSize)
{
    if (token_.cancelled())
        return -1;
    const CancelToken::Blocking call = token_.blocking();
    return QFile::readData(data, maxSize);
}
