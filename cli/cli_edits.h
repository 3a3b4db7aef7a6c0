// The edit options applied to a frame picture exactly as the tool dialogs
// apply the same presses: each tool opens on a copy of the picture, its
// buttons and track bars act through the tools' own functions, and its OK
// makes the result the picture again.
#pragma once

#include <memory>
#include <vector>

#include "cli/cli_options.h"
#include "picture/frame_image.h"

// The pictures an edit needs besides the edited one, loaded once and only
// read afterwards (shared by all workers): one per --blend / --frame step.
struct EditPictures {
    std::vector<std::unique_ptr<FrameImage>> byStep; // null for steps without one
};

// A worker's own tool pictures: the working copy and the dialogs' scratch
// pictures (AdjustPreview, ZoomScratch, ScaledPhoto).
struct EditScratch {
    FrameImage work;
    FrameImage adjustPreview;
    FrameImage zoomScratch;
    FrameImage scaledPhoto;
};

// Runs `edits` on `picture` in order. Consecutive Image Processing options
// are presses in one opening of that dialog, committed by its OK. False only
// when a tool's own scratch picture could not be had (nothing is lost:
// `picture` then holds the edits made so far).
bool ApplyEdits(const std::vector<EditStep>& edits, const EditPictures& pictures,
                EditScratch& scratch, FrameImage& picture);
