#pragma once

// A shell script standing in for a program the code under test starts (xdg-email, xdg-open,
// the updater): each call writes "CALL" and its arguments, one a line, to `log`, waits until
// the gate file exists (when gated), and ends with `exitCode`. It lives in `folder()`, which a
// test puts on PATH or names directly.

#include "support/TestFiles.h"

#include <QFile>
#include <QTemporaryDir>

struct StandInProgram
{
    QTemporaryDir dir;
    QString log = dir.filePath("calls.log");
    QString gate;
    QString program;

    StandInProgram(const QString &name, int exitCode, bool gated = false)
    {
        if (gated)
            gate = dir.filePath("go");
        QString script = "#!/bin/sh\n";
        if (gated)
            script += "while [ ! -e '" + gate + "' ]; do /bin/sleep 0.02; done\n";
        script += "echo CALL >> '" + log + "'\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '" + log + "'; done\nexit "
                  + QString::number(exitCode) + "\n";
        program = dir.filePath("bin/" + name);
        writeFile(program, script.toUtf8());
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString folder() const { return dir.filePath("bin"); }
    // The arguments of each call, in order.
    QList<QStringList> calls() const
    {
        QList<QStringList> all;
        for (const QString &line : QString::fromUtf8(readFile(log)).split(u'\n', Qt::SkipEmptyParts)) {
            if (line == QLatin1String("CALL"))
                all.append(QStringList());
            else if (!all.isEmpty())
                all.last() << line;
        }
        return all;
    }
    void release() const { writeFile(gate); }
};
