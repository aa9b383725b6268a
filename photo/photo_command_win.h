#pragma once

// The main window's correction from a photo of the wall: the picture chosen, every module edge measured,
// the pattern window object's grid given the gains that cancel what the photo shows.

#include "seam/window_owner_win.h"

#include <vector>

class PhotoCommand {
public:
    explicit PhotoCommand(CommandHost& host) : host_(host) {}
    PhotoCommand(const PhotoCommand&) = delete;
    PhotoCommand& operator=(const PhotoCommand&) = delete;

    // "btn_photo_correct". Refused when `replayed` (asked by a client: nobody sits at this screen to
    // choose a picture) or when `linked` (this instance is a client, whose server would not follow).
    void CorrectFromPhotoCommand(bool replayed, bool linked);

private:
    // Builds the pattern window object's grid for `params` as opening the window would, then gives every
    // record its gain from `gains` (grid order): the one step in which a photo changes the grid.
    void InstallPhotoGains(const ScreenParams& params, const std::vector<float>& gains);

    CommandHost& host_;
};
