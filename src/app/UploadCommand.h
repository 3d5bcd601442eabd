#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>
#include <memory>

class SettingsStore;
class UploadCancel;

// `quillmere --upload [--album NAME] [--all] PATH...`: the arguments after "--upload".
struct UploadArguments {
    QString album;     // empty: each photo goes to the album named after its folder
    bool all = false;  // also the photos the record holds as uploaded and unchanged
    QStringList paths; // as given
    QString error;     // bad usage, said in words; empty when the arguments are good
};
UploadArguments ParseUploadArguments(const QStringList &arguments);

// Uploads the photos the arguments name (photo files, or folders: their photos, not their
// sub-folders, in the photo list's order) with the stored account and settings, through the
// same run as the upload dialog. Reports on `err`: a line per photo, "NAME: uploaded" or
// "NAME: failed: REASON", a progress bar when `terminal`, and last "N uploaded, M failed"
// (M: the photos not uploaded). Asks nothing. Returns the exit code: 0 when nothing failed
// (also when nothing was new), 1 when a photo was not uploaded, 2 for bad usage, no stored
// account or no settings. `cancel` stops the run before its next block.
int RunUploadCommand(const QStringList &arguments, SettingsStore &store, std::FILE *err, bool terminal,
                     std::shared_ptr<UploadCancel> cancel);

// From now on SIGINT and SIGTERM request `cancel`, and a second one ends the program at once;
// null gives both signals back their default action. `cancel` must live until then.
void StopOnSignals(UploadCancel *cancel);
