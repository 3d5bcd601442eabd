#include "platform/ProcessLauncher.h"

#include <QFileInfo>
#include <QProcess>

bool StartDetached(const QString &program, const QString &workingFolder)
{
    const QFileInfo info(program);
    if (!info.isFile() || !info.isExecutable())
        return false;
    return QProcess::startDetached(info.absoluteFilePath(), {}, workingFolder);
}
