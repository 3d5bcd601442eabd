#pragma once

#include "photo/PhotoInfo.h"

#include <cstdio>
#include <string>

// The "Extended Image Info" text of a filled record.
std::string ExtendedPhotoReport(const PhotoInfo &info);

// What the Extended Photo Info command shows for a file: the report when the file holds EXIF
// data, otherwise "No extended image information found!" (`found` tells which). False when
// the file cannot be opened; `text` is then empty.
bool ExtendedPhotoInfoText(const char *path, std::string &text, bool *found = nullptr);

// The name of an EXIF orientation value 2..8; null for the others.
const char *OrientationText(int orientation);

// `quillmere --photo-info FILE...`: each file's text on `out` (headed by "==> FILE <==" when
// there are several), a line on `err` for each file that cannot be opened. Returns the exit
// code: 0, or 1 when a file could not be opened, 2 without files.
int RunPhotoInfoCommand(int fileCount, const char *const *files, FILE *out, FILE *err);
