#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// What "Start Upload" hands to the upload worker: copies of everything the run reads, taken
// when it starts, so that neither the dialog nor a later account dialog can change them under
// a run.
struct UploadJob {
    QString email;
    QString password;
    QString album;         // empty during an automatic upload: each photo goes to its folder's album
    QStringList selection; // the photos in the order they are sent
    qint64 totalBytes = 0; // their sizes added up when the selection last changed
    bool automatic = false; // an automatic upload from a camera or card was running at the start
};
