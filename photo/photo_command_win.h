#pragma once

// The main window's correction from a photo of the wall: the picture chosen, what the wall showed
// established (the cards' correction and coefficients, or the pattern window and its photo mode), every
// join measured, the pattern window object's grid given the gains that cancel what the photo shows.

#include "lib/devicecomm/devicecomm.h"
#include "photo/seam_photo.h"
#include "seam/window_owner_win.h"

#include <string>
#include <vector>

class PhotoCommand {
public:
    PhotoCommand(CommandHost& host, ICommInterfaceMan& devices) : host_(host), devices_(devices) {}
    PhotoCommand(const PhotoCommand&) = delete;
    PhotoCommand& operator=(const PhotoCommand&) = delete;

    // "btn_photo_correct". Refused when `replayed` (asked by a client: nobody sits at this screen to
    // choose a picture) or when `linked` (this instance is a client, whose server would not follow).
    void CorrectFromPhotoCommand(bool replayed, bool linked);

private:
    // What the photo shows, as far as the cards and the pattern window tell; `cards` says what the
    // cards answered, for the operator's box.
    PhotoInput WhatTheWallShowed(const ScreenParams& params, std::wstring& cards);
    // Builds the pattern window object's grid for `params` as opening the window would, then gives every
    // record its gain from `gains` (grid order): the one step in which a photo changes the grid.
    void InstallPhotoGains(const ScreenParams& params, const std::vector<float>& gains);
    std::wstring Describe(const PhotoCorrection& result, const std::wstring& cards) const;

    CommandHost& host_;
    ICommInterfaceMan& devices_;
    // What the last photo of this session read, and the camera's response its calibration lines gave:
    // the next photo of the same wall learns from both.
    PhotoReadings previous_;
    double calibrated_slope_ = 0;
};
