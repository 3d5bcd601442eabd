#pragma once

#include <QColor>
#include <QPalette>

class QWidget;

// Every dialog and message box of the program is white text on black.
QPalette DialogPalette();

// Makes the dialog colours the default of every QDialog (message boxes included).
void ApplyDialogColours();

// The folder tree, the photo lists, their panes and the tiles' ground are grey, RGB(100, 100,
// 100), with white text.
inline const QColor ListGrey{100, 100, 100};

// Gives `widget` the list colours: grey ground, white text.
void ApplyListColours(QWidget *widget);
