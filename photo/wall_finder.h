#pragma once

// Finds the lit wall in a photo: the brightest large quadrilateral on a darker surround, seen with any
// perspective, a slight rotation and a lens that bends its straight sides.

#include "photo/homography.h"
#include "photo/lens.h"
#include "photo/photo_picture.h"

#include <string>

struct WallView {
    // Top-left, top-right, bottom-right, bottom-left corners of the wall's outer pixel edges, as a
    // pinhole camera would show them (the lens's distortion undone); pixel (i, j) of the photo covers
    // i..i+1 and j..j+1.
    PointF corners[4];
    Lens lens;
    // How far the sides' edge points stay from straight lines once the lens is undone (root mean
    // square, photo pixels): what no distortion of this kind explains.
    double bending = 0;
    // The same before the lens was undone: how much the lens bent them.
    double bent = 0;
};

// False with an operator message in `why` (UTF-8) when no wall is found. The wall has columns x rows
// pixels: their pitch in the photo sets how far the edge profiles are averaged, so that the emitters'
// dots and the dark between them read as the light of whole pixels.
bool FindWall(const GrayPhoto& photo, uint32_t columns, uint32_t rows, WallView& view, std::string& why);
