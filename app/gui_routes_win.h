// What the main dialog calls in the other subsystems.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "fit/part_choice.h"
#include "picture/frame_image.h"

// Folder browser
void FillTreeRoot(HWND tree);
void ExpandItem(HTREEITEM item);
void ForgetTreeItem(LPARAM itemData); // the tree deletes an item: free its list
int ScanFolder(const char* path);
// The loader thread hands each finished thumbnail to the dialog thread with
// this message (wParam: item, lParam: the cell's bitmap, still the loader's),
// so that the folder image list is only ever changed by its own thread while
// the list draws from it.
constexpr UINT kPlaceThumbnailMessage = WM_APP + 1;
void PlaceThumbnail(int item, HBITMAP bitmap);
// Loads folder list item `item` (a click, the menu's "Load") with the fit
// options in force as a new history state; a file that gives no picture of
// its own changes nothing and the user is told why.
void LoadFolderItem(int item);
// The picture of a load as a new history state (redo states dropped), shown
// in the preview pane.
void ShowAsNewState(const FrameImage& picture);
// "Choose the part" for folder list item `item` (F2, the menu): the photo
// decoded whole, the part chosen on it, OK loading that part as a new
// history state with the fit options in force; Cancel changes nothing.
void ChoosePartOfFolderItem(int item);
// While "Choose the part" is open: its square and the content's suggestion
// (nullptr otherwise).
const PartChoice* OpenPartChoice();
const PictureRect* OpenPartSuggestion();

// Album and saving
void UploadPicture(const FrameImage& picture);
void DownloadRoute(); // DownLoad <---: history state from the focused album item
void DeletePicture();
void DeleteAllPictures();
void ShowWholeAlbum(); // the list rebuilt from the album (after it was filled from elsewhere)
// The album list's context menu at a screen point (the item there), or at
// the current item for (-1, -1), the keyboard's point.
void ShowAlbumMenu(POINT screen);
// Dragging an album item to a new place: the main dialog holds the capture
// while AlbumDragging; a drop on an item moves the dragged one there.
void BeginAlbumDrag(int item);
bool AlbumDragging();
void AlbumDragMove(POINT screen);
void EndAlbumDrag(POINT screen, bool drop);
void SaveBmpRoute(HWND owner); // after DropRedo: ask a name, write the picture
void SaveAllPictures(HWND owner);
// At start: finishes or undoes a Save All into the folder of the last one
// that was cut short (a crash, a pulled card), and says so.
void RepairLastSaveAllFolder(HWND owner);

// Tools: the dialog procedure of a tool template, or nullptr when absent.
DLGPROC ToolDialogProcFor(int templateId);
