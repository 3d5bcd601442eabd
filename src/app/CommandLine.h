#pragma once

#include <QString>
#include <QStringList>

// What a start of the program asks for on its command line; the first element is the program
// itself. Arguments beginning with "-" are flags, and a flag the program does not know is
// ignored; "--" ends the flags. The first other argument is either exactly "RunMinimized" or
// the folder or photo to open, and after "RunMinimized" the next one may still name one.
// A path beginning with "/" is a path: on Linux that is where absolute paths begin. An empty
// argument names nothing; arguments after the path are ignored.
struct StartOptions {
    bool runMinimized = false;
    QString path;      // absolute, against the current folder of this start; empty when none
    bool help = false; // -h or --help
};
StartOptions ParseStartArguments(const QStringList &arguments);

// What `quillmere --help` prints.
QString StartHelpText();
