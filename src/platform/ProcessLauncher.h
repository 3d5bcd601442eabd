#pragma once

#include <QString>

// Starts a companion program on its own; its outcome is not the caller's concern. Returns
// false when the program is not there or could not be started.
bool StartDetached(const QString &program, const QString &workingFolder);
