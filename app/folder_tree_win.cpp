// The shell folder tree (control 1007 of the main dialog).
//
// The root level holds the desktop's folders; below an item its sub-folders
// are enumerated from the shell each time it is expanded, so folders made on
// disk in between appear. Each item keeps its absolute item-identifier list
// as its data; the list is freed when the tree deletes the item.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "app/browser_win.h"
#include "browser/item_lists.h"

#include <cstring>

namespace {

// The shell's task allocator, seen as the lists' allocator.
class ShellAllocator : public ItemListAllocator {
  public:
    void* Allocate(size_t bytes) override {
        return g_app.shellMalloc ? g_app.shellMalloc->Alloc(bytes) : nullptr;
    }
    void Free(void* block) override {
        if (block && g_app.shellMalloc) g_app.shellMalloc->Free(block);
    }
};

ShellAllocator g_allocator;
int32_t g_listsAlive = 0;

// SHGetFileInfoA with SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON.
constexpr UINT kSmallIconFlags = SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON;

const uint8_t* Bytes(LPCITEMIDLIST list) {
    return reinterpret_cast<const uint8_t*>(list);
}
LPITEMIDLIST AsList(uint8_t* bytes) {
    return reinterpret_cast<LPITEMIDLIST>(bytes);
}
LPCITEMIDLIST AsList(const uint8_t* bytes) {
    return reinterpret_cast<LPCITEMIDLIST>(bytes);
}

HWND Tree() {
    return g_app.FolderTree;
}

HTREEITEM ChildOf(HTREEITEM item) {
    return reinterpret_cast<HTREEITEM>(
        SendMessageA(Tree(), TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
}

void DeleteChildren(HTREEITEM item) {
    // Each deletion reports TVN_DELETEITEM, which frees that item's list.
    for (HTREEITEM child = ChildOf(item); child; child = ChildOf(item))
        SendMessageA(Tree(), TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(child));
}

ULONG AttributesOf(IShellFolder* folder, LPCITEMIDLIST child, ULONG asked) {
    ULONG attributes = asked;
    if (FAILED(folder->GetAttributesOf(1, &child, &attributes))) return 0;
    return attributes & asked;
}

// The display name into DisplayNameBuffer; empty when it cannot be had.
void TakeDisplayName(IShellFolder* folder, LPCITEMIDLIST child) {
    char* text = g_app.DisplayNameBuffer;
    text[0] = 0;
    STRRET name = {};
    if (FAILED(folder->GetDisplayNameOf(child, SHGDN_INFOLDER, &name))) return;
    switch (name.uType) {
    case STRRET_WSTR:
        if (!WideCharToMultiByte(CP_ACP, 0, name.pOleStr, -1, text, kPathBytes, nullptr, nullptr))
            text[0] = 0; // too long or not convertible: better empty than cut mid-character
        if (g_app.shellMalloc) g_app.shellMalloc->Free(name.pOleStr);
        break;
    case STRRET_OFFSET:
        lstrcpynA(text, reinterpret_cast<const char*>(child) + name.uOffset, kPathBytes);
        break;
    case STRRET_CSTR: lstrcpynA(text, name.cStr, kPathBytes); break;
    default: break;
    }
    text[kPathBytes - 1] = 0;
}

int IconOf(LPCITEMIDLIST absolute, UINT flags) {
    SHFILEINFOA info = {};
    SHGetFileInfoA(reinterpret_cast<LPCSTR>(absolute), 0, &info, sizeof info, flags);
    return info.iIcon;
}

int HasChildButton(IShellFolder* folder, LPCITEMIDLIST child) {
    ULONG a = AttributesOf(folder, child, SFGAO_FOLDER | SFGAO_REMOVABLE);
    if (!(a & SFGAO_FOLDER)) return 0;
    // A removable drive is not looked into: that could spin up a disc.
    if (g_app.IncludeFiles == 1 || (a & SFGAO_REMOVABLE)) return 1;
    return AttributesOf(folder, child, SFGAO_HASSUBFOLDER) ? 1 : 0;
}

// 0 for removable, CD-ROM and network items, 1 for everything else.
int KindOf(IShellFolder* folder, LPCITEMIDLIST child) {
    SHDESCRIPTIONID description = {};
    if (FAILED(SHGetDataFromIDListA(folder, child, SHGDFIL_DESCRIPTIONID, &description,
                                    sizeof description)))
        return 1;
    switch (description.dwDescriptionId) {
    case SHDID_COMPUTER_DRIVE35:
    case SHDID_COMPUTER_DRIVE525:
    case SHDID_COMPUTER_REMOVABLE:
    case SHDID_COMPUTER_NETDRIVE:
    case SHDID_COMPUTER_CDROM:
    case SHDID_NET_DOMAIN:
    case SHDID_NET_SERVER:
    case SHDID_NET_SHARE:
    case SHDID_NET_RESTOFNET:
    case SHDID_NET_OTHER: return 0;
    default: return 1;
    }
}

// Fills what the record's mask asks for; returns the item's kind.
int DescribeItem(TVITEMA& record, LPCITEMIDLIST absolute, IShellFolder* folder,
                 LPCITEMIDLIST child) {
    if (record.mask & TVIF_TEXT) {
        TakeDisplayName(folder, child);
        record.pszText = g_app.DisplayNameBuffer;
    }
    if ((record.mask & (TVIF_IMAGE | TVIF_SELECTEDIMAGE)) && absolute) {
        ULONG a = AttributesOf(folder, child, SFGAO_FOLDER | SFGAO_LINK);
        UINT flags = kSmallIconFlags | ((a & SFGAO_LINK) ? SHGFI_LINKOVERLAY : 0);
        record.iImage = IconOf(absolute, flags);
        record.iSelectedImage = IconOf(absolute, flags | ((a & SFGAO_FOLDER) ? SHGFI_OPENICON : 0));
    }
    if (record.mask & TVIF_CHILDREN) record.cChildren = HasChildButton(folder, child);
    return KindOf(folder, child);
}

int CALLBACK CompareItems(LPARAM data1, LPARAM data2, LPARAM sortFolder) {
    auto* folder = reinterpret_cast<IShellFolder*>(sortFolder);
    auto* a = AsList(LastItem(reinterpret_cast<const uint8_t*>(data1)));
    auto* b = AsList(LastItem(reinterpret_cast<const uint8_t*>(data2)));
    // An item whose list could not be made has nothing to compare by.
    if (!a || !b) return 0;
    HRESULT result = folder->CompareIDs(0, a, b);
    if (FAILED(result)) return 0;
    const auto order = static_cast<int16_t>(HRESULT_CODE(result));
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

// The parent's absolute list: RootList for the root, else the item's data.
bool ParentList(HTREEITEM item, LPCITEMIDLIST& list) {
    if (item == TVI_ROOT) {
        list = g_app.RootList;
        return true;
    }
    TVITEMA data = {};
    data.mask = TVIF_PARAM | TVIF_HANDLE;
    data.hItem = item;
    if (!SendMessageA(Tree(), TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&data))) return false;
    list = reinterpret_cast<LPCITEMIDLIST>(data.lParam);
    return true;
}

IShellFolder* BindParent(LPCITEMIDLIST parent, bool root) {
    IShellFolder* desktop = g_app.desktopFolder;
    if (!desktop) return nullptr;
    IShellFolder* folder = nullptr;
    // The desktop's own list is empty: binding to it would be binding to
    // the desktop, which we already hold.
    if (ListSize(Bytes(parent)) != 0 &&
        SUCCEEDED(desktop->BindToObject(parent, nullptr, IID_IShellFolder,
                                        reinterpret_cast<void**>(&folder))) &&
        folder)
        return folder;
    if (!root) return nullptr;
    desktop->AddRef();
    return desktop;
}

int EnumerateChildren(HTREEITEM item) {
    LPCITEMIDLIST parent = nullptr;
    if (!ParentList(item, parent)) return 0;
    const bool root = item == TVI_ROOT;
    IShellFolder* folder = BindParent(parent, root);
    if (!folder) return 1; // it gets no children and loses its button

    int inserted = 0, last = 0;
    SHCONTF flags = SHCONTF_FOLDERS | (g_app.IncludeFiles == 1 ? SHCONTF_NONFOLDERS : 0);
    IEnumIDList* children = nullptr;
    if (SUCCEEDED(folder->EnumObjects(Tree(), flags, &children)) && children) {
        LPITEMIDLIST child = nullptr;
        while (children->Next(1, &child, nullptr) == S_OK) {
            uint8_t* absolute = JoinLists(g_allocator, Bytes(parent), Bytes(child));
            TVINSERTSTRUCTA record = {};
            record.hParent = item;
            record.hInsertAfter = TVI_LAST;
            record.item.mask =
                TVIF_TEXT | TVIF_IMAGE | TVIF_PARAM | TVIF_SELECTEDIMAGE | TVIF_CHILDREN;
            record.item.lParam = reinterpret_cast<LPARAM>(absolute);
            last = DescribeItem(record.item, AsList(absolute), folder, child);
            if (SendMessageA(Tree(), TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&record))) {
                ++inserted;
                if (absolute) ++g_listsAlive;
            } else {
                g_allocator.Free(absolute); // no item took it
            }
            if (g_app.shellMalloc) g_app.shellMalloc->Free(child);
            child = nullptr;
        }
        children->Release();
    }
    TVSORTCB sort = {};
    sort.hParent = item;
    sort.lpfnCompare = CompareItems;
    sort.lParam = reinterpret_cast<LPARAM>(folder);
    SendMessageA(Tree(), TVM_SORTCHILDRENCB, 0, reinterpret_cast<LPARAM>(&sort));
    folder->Release();

    if (inserted == 0 || last == 0) return 0;
    char path[MAX_PATH] = "";
    if (!parent || !SHGetPathFromIDListA(parent, path) || !path[0]) return 1;
    return GetDriveTypeA(path) == DRIVE_FIXED ? 1 : 0;
}

void Populate(HTREEITEM item) {
    const int r = EnumerateChildren(item);
    if (item == TVI_ROOT) return;
    const int k = ChildOf(item) ? 1 : 0;
    TVITEMA change = {};
    change.hItem = item;
    if (r != 0) {
        change.mask = TVIF_CHILDREN | TVIF_HANDLE;
        change.cChildren = k;
        SendMessageA(Tree(), TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&change));
    } else if (k == 0) {
        // Nothing came (a drive without a disc): fold it up again but keep
        // its button, so it can be opened once there is something to show.
        change.mask = TVIF_STATE | TVIF_HANDLE;
        change.stateMask = TVIS_EXPANDED;
        change.state = 0;
        SendMessageA(Tree(), TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&change));
    }
    UpdateWindow(Tree());
}

} // namespace

void FillRoot() {
    HWND tree = Tree();
    SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    Populate(TVI_ROOT);
    // Making the first item visible may scroll sideways; the user's
    // horizontal position is put back as it was.
    SCROLLINFO scroll = {};
    scroll.cbSize = sizeof scroll;
    scroll.fMask = SIF_ALL;
    GetScrollInfo(tree, SB_HORZ, &scroll);
    LPARAM first = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    SendMessageA(tree, TVM_ENSUREVISIBLE, 0, first);
    SetScrollInfo(tree, SB_HORZ, &scroll, FALSE);
    UpdateWindow(tree);
}

void FillTreeRoot(HWND tree) {
    App& a = g_app;
    a.FolderTree = tree;
    LPITEMIDLIST desktop = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &desktop)) && desktop) {
        SHFILEINFOA info = {};
        auto images = reinterpret_cast<HIMAGELIST>(SHGetFileInfoA(
            reinterpret_cast<LPCSTR>(desktop), 0, &info, sizeof info, kSmallIconFlags));
        if (a.shellMalloc) a.shellMalloc->Free(desktop);
        SendMessageA(tree, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(images));
    }
    a.IncludeFiles = 0;
    if (a.RootList) g_allocator.Free(a.RootList);
    a.RootList = AsList(JoinLists(g_allocator, nullptr, nullptr)); // the desktop: none
    SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    FillRoot();
    UpdateWindow(tree);
}

void ExpandItem(HTREEITEM item) {
    DeleteChildren(item);
    Populate(item);
}

void ForgetTreeItem(LPARAM itemData) {
    if (!itemData) return;
    g_allocator.Free(reinterpret_cast<void*>(itemData));
    --g_listsAlive;
}

int32_t TreeItemListsAlive() {
    return g_listsAlive;
}

namespace {

// The child of `parent` (TVI_ROOT for the top) whose list is `target` or
// leads to it; nullptr when none does.
HTREEITEM ChildLeadingTo(HTREEITEM parent, LPCITEMIDLIST target, bool& reached) {
    HTREEITEM child =
        parent == TVI_ROOT
            ? reinterpret_cast<HTREEITEM>(SendMessageA(Tree(), TVM_GETNEXTITEM, TVGN_ROOT, 0))
            : ChildOf(parent);
    for (; child; child = reinterpret_cast<HTREEITEM>(SendMessageA(
                      Tree(), TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child)))) {
        TVITEMA data = {};
        data.mask = TVIF_PARAM | TVIF_HANDLE;
        data.hItem = child;
        if (!SendMessageA(Tree(), TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&data))) continue;
        auto list = reinterpret_cast<LPCITEMIDLIST>(data.lParam);
        if (!list || ListSize(Bytes(list)) == 0) continue;
        reached = ILIsEqual(list, target) != FALSE;
        if (reached || ILIsParent(list, target, FALSE)) return child;
    }
    return nullptr;
}

} // namespace

bool SelectTreeFolder(const char* path) {
    if (!path || !path[0] || !g_app.desktopFolder) return false;
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    wchar_t wide[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH)) return false;
    LPITEMIDLIST target = nullptr;
    if (FAILED(g_app.desktopFolder->ParseDisplayName(nullptr, nullptr, wide, nullptr, &target,
                                                     nullptr)) ||
        !target)
        return false;
    HTREEITEM item = TVI_ROOT;
    bool reached = false;
    // Each step goes one level down; a list is never deeper than its size.
    for (int depth = 0; depth < kPathBytes && !reached; ++depth) {
        HTREEITEM next = ChildLeadingTo(item, target, reached);
        if (!next) break;
        item = next;
        if (!reached) {
            // The first expansion asks for the children (TVN_ITEMEXPANDING);
            // an item opened before is filled afresh here.
            SendMessageA(Tree(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
            if (!ChildOf(item)) ExpandItem(item);
        }
    }
    if (g_app.shellMalloc) g_app.shellMalloc->Free(target);
    if (!reached) return false;
    SendMessageA(Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    SendMessageA(Tree(), TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item));
    return true;
}
