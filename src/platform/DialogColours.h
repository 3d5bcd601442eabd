#pragma once

#include <QPalette>

class QApplication;

// Every dialog and message box of the program is white text on black.
QPalette DialogPalette();

// Makes the dialog colours the default of every QDialog (message boxes included).
void ApplyDialogColours();
