// What the five tool dialogs share on the Win32 side: their scratch pictures
// and red brush, preview placement, painting, track bars, committing, and the
// file dialog for background and frame pictures.
#pragma once

#include <windows.h>

#include "picture/frame_image.h"
#include "tools/tool_frame.h"

// The scratch pictures and brush of the open tool. OpenToolDialog gets them
// before the dialog opens, so a tool never opens without them; they are
// released when the dialog has ended.
struct ToolScratch {
    FrameImage* first = nullptr;  // AdjustPreview, CropBlock or ScaledPhoto
    FrameImage* second = nullptr; // ZoomScratch
    HBRUSH redBrush = nullptr;
};
extern ToolScratch g_toolScratch;
bool AcquireToolScratch();
void ReleaseToolScratch();

// Moves the first preview to its placement point, sized `side` x `side`, and
// returns the placement point (dialog client pixels).
ToolPoint PlaceFirstPreview(HWND dialog, int previewId, int side);
void PlacePreview(HWND dialog, int previewId, const PreviewBox& box);

// Paints `picture` 1:1 into the preview control.
void PaintPreview(HWND dialog, int previewId, const FrameImage& picture);
// Draws the red mark on the dialog's paint context, over the previews.
void PaintMark(HDC paintDc, const ToolRect& mark);

void SetUpTrackBar(HWND dialog, int id, TrackBarRange range, int position);
int TrackBarPosition(HWND trackBar);

// OK of every tool: the working copy becomes a new history state.
void CommitWorkImage();

// The open-file dialog for a background or frame picture; 1 when the user
// chose a file (its full path is in `path`, 260 bytes). `owner` is the main
// dialog; an open tool dialog keeps it disabled afterwards.
int ChooseImageFile(HWND owner, char* path);

// Loads a picture file into `picture` (shown in the preview), with the
// thumbnail loader stopped first.
void LoadToolPicture(const char* path, HWND preview, FrameImage& picture);

void TellNotEnoughMemory(HWND owner);

// Dialog procedures of the tools.
INT_PTR CALLBACK AlphaBlendingDialogProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK RotateDialogProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK CropDialogProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK ImageProcessingDialogProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK DigitalFrameDialogProc(HWND, UINT, WPARAM, LPARAM);
