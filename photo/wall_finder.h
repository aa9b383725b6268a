#pragma once

// Finds the lit wall in a photo: the brightest large quadrilateral on a darker surround, seen with any
// perspective and a slight rotation.

#include "photo/homography.h"
#include "photo/photo_picture.h"

#include <string>

struct WallQuad {
    // Top-left, top-right, bottom-right, bottom-left corners of the wall's outer pixel edges, in photo
    // coordinates (pixel (i, j) covers i..i+1 and j..j+1).
    PointF corners[4];
};

// False with an operator message in `why` when no wall is found.
bool FindWall(const GrayPhoto& photo, WallQuad& quad, std::string& why);
