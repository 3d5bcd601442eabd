#pragma once

#include <QStringList>

// The application's run-time flags, one set per run. The application object owns them and
// lends them to the command controller; both use them on the UI thread only. A worker is
// given a copy of the values it reads when it starts, never this.
struct RunFlags {
    bool autoUploadRunning = false; // an automatic upload from a camera or card is under way
    bool uploadOnlyNew = true;      // the last choice of "Upload only new photos"
    bool noNewVersion = false;      // the version check found nothing newer
    bool quietRecentOpen = false;   // the next OpenRecentFolder leaves a missing folder unreported
    QStringList removablePhotos;    // the photos the camera and card watcher found, in that order
};
