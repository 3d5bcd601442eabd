#pragma once

// What the program knows about one photo from its header segments: the frame header, the
// first comment and the EXIF block. A plain record, zeroed by whoever asks for it
// (`PhotoInfo info{};`), so that a value no tag supplied reads as 0 or empty.
struct PhotoInfo
{
    char cameraMake[32];
    char cameraModel[40];
    char dateTime[20];
    int height;
    int width;
    int orientation;
    int isColor;
    int encodingProcess;
    int flashUsed;
    float focalLength;
    float exposureTime;
    float aperture;
    float focusDistance;
    float ccdWidth;
    float exposureBias;
    int whiteBalance;
    int meteringMode;
    int exposureProgram;
    int isoEquivalent;
    int jpegQuality;
    float focalPlaneXResolution;
    float focalPlaneUnit;
    float xResolution;
    float yResolution;
    float resolutionUnit;
    float brightness;
    char comment[1000];
    bool isExif;
};
