// What the main dialog calls in the other subsystems.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "picture/frame_image.h"

// Folder browser
void FillTreeRoot(HWND tree);
void ExpandItem(HTREEITEM item);
void ForgetTreeItem(LPARAM itemData); // the tree deletes an item: free its list
int ScanFolder(const char* path);

// Album and saving
void UploadPicture(const FrameImage& picture);
void DownloadRoute(); // DownLoad <---: history state from the focused album item
void DeletePicture();
void DeleteAllPictures();
void ShowWholeAlbum(); // the list rebuilt from the album (after it was filled from elsewhere)
void SaveBmpRoute(HWND owner); // after DropRedo: ask a name, write the picture
void SaveAllPictures(HWND owner);

// Tools: the dialog procedure of a tool template, or nullptr when absent.
DLGPROC ToolDialogProcFor(int templateId);
