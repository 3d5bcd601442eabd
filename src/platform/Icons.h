#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

// The program's pictures. Commands for which the freedesktop icon naming has a name take the
// desktop theme's icon, so that the toolbar looks like the rest of the desktop; our own SVG
// (res/icons) stands in where the theme lacks that icon or no theme is installed, and is the
// picture of the commands the naming has no name for (upload, buy, the fixed zooms, the site).
// The disabled look is derived from the same picture by QIcon.

// Our picture of a command, ":/icons/commands/<name>.svg".
QString CommandIconResource(const QString &name);

// The theme's icon `themeName` when the theme has it, else the picture at `fallbackResource`.
// An empty `themeName` gives the fallback.
QIcon CommandIcon(const QString &themeName, const QString &fallbackResource);

// The program icon: "quillmere" from the icon theme (where the package installs it), else ours.
QIcon ProgramIcon();

// The tray icon while an upload runs; shown in turn, frame 0, 1, 0, 1, ... make it blink.
// Any frame number is accepted.
QIcon TrayProgressIcon(int frame);

// The 24 x 24 badge of the upload failure prompt, for the application's device pixel ratio.
QPixmap FailureBadge();
