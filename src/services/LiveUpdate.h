#pragma once

// The start-up version check. Until the service's version request is spoken, the check
// finds nothing newer and start-up goes on.
class LiveUpdate
{
public:
    // True when the installation of an update has been handed to the updater, in which
    // case the program ends so that its files can be replaced.
    bool CheckForUpdate();
};
