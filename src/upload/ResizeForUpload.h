#pragma once

#include "platform/Worker.h"

#include <QSize>
#include <QString>

// The size of the smaller copy sent in place of a photo of `upright` size: its longer side
// `maxPixelSize`, the other in proportion, truncated (4000 x 3000 at 300 gives 300 x 225; never
// less than a pixel). An invalid size when the photo is sent as it is: both sides below
// `maxPixelSize`, an empty photo, or a `maxPixelSize` of 0 or less. A photo whose longer side
// equals `maxPixelSize` is still copied (re-encoded).
QSize UploadCopySize(QSize upright, int maxPixelSize);

// The path to send for a photo when the settings ask for a resize: a JPEG copy, upright and
// without metadata, written into `folder` under the photo's own file name (a ".tif" photo gets
// a ".tif" copy holding JPEG data, replacing any file of that name); or the photo's own path
// when no copy is needed or none could be made (a photo that cannot be decoded, a write that
// fails). The photo is decoded at a reduced scale when the copy is much smaller. Runs on a
// worker; the decode and the write count as the request's blocking calls.
QString ResizeForUpload(const QString &photoPath, int maxPixelSize, const QString &folder,
                        const CancelToken &token = {});
