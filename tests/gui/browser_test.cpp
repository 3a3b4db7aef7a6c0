// The folder browser as the user meets it: the shell tree, a folder of
// pictures turning into framed thumbnails, a click on one, and the stop
// handshake with the loader thread under pressure (switching folders,
// clicking and closing while thumbnails are drawn).
//
// Every test runs under a watchdog: a deadlock between the dialog thread and
// the loader must fail the run, not hang it.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "app/settings_win.h"
#include "app/browser_win.h"
#include "export/jpeg_encoder.h"
#include "resources/resource.h"
#include "tests/gui/gui_harness.h"
#include "tests/unit/jpeg_builder.h"

namespace {

// ---- watchdog ----

// Ends the whole program when a test has not finished in time: a hang here
// is a deadlock, and the suite must report it rather than wait for ever.
class Watchdog {
  public:
    Watchdog(DWORD seconds, const char* what) : seconds_(seconds), what_(what) {
        done_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, Watch, this, 0, nullptr);
    }
    ~Watchdog() {
        SetEvent(done_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        CloseHandle(done_);
    }

  private:
    static DWORD WINAPI Watch(LPVOID self) {
        auto* dog = static_cast<Watchdog*>(self);
        if (WaitForSingleObject(dog->done_, dog->seconds_ * 1000) == WAIT_TIMEOUT) {
            std::fprintf(stderr, "FAILED: %s did not finish within %lu s (deadlock?)\n", dog->what_,
                         static_cast<unsigned long>(dog->seconds_));
            std::fflush(stderr);
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        return 0;
    }
    DWORD seconds_;
    const char* what_;
    HANDLE done_ = nullptr;
    HANDLE thread_ = nullptr;
};

// ---- pictures on disk ----

struct Rgb {
    uint8_t r, g, b;
    COLORREF ref() const { return RGB(r, g, b); }
};
const Rgb kRed = {255, 0, 0};
const Rgb kGreen = {0, 160, 0};
const Rgb kBlue = {0, 0, 255};
const COLORREF kFrameGrey = RGB(0xC0, 0xC0, 0xC0);
const COLORREF kWhite = RGB(255, 255, 255);

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    ASSERT_EQ(std::fclose(f), 0);
}

void PutLe(std::vector<uint8_t>& b, size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A bitmap file whose upper half is `top` and lower half `bottom`: 24 bits,
// or 8 bits with a two-entry palette.
void WriteBmp(const std::string& path, int w, int h, Rgb top, Rgb bottom, int bits = 24) {
    const uint32_t colours = bits == 8 ? 256 : 0;
    const uint32_t stride = ((w * bits + 31) / 32) * 4;
    const uint32_t offset = 14 + 40 + 4 * colours;
    std::vector<uint8_t> b(offset + static_cast<size_t>(stride) * h, 0);
    b[0] = 'B';
    b[1] = 'M';
    PutLe(b, 2, static_cast<uint32_t>(b.size()), 4);
    PutLe(b, 10, offset, 4);
    PutLe(b, 14, 40, 4);
    PutLe(b, 18, static_cast<uint32_t>(w), 4);
    PutLe(b, 22, static_cast<uint32_t>(h), 4);
    PutLe(b, 26, 1, 2);
    PutLe(b, 28, static_cast<uint32_t>(bits), 2);
    PutLe(b, 34, stride * h, 4);
    PutLe(b, 46, colours, 4);
    if (bits == 8) {
        const Rgb entries[2] = {top, bottom};
        for (int i = 0; i < 2; ++i) {
            b[54 + 4 * i] = entries[i].b;
            b[54 + 4 * i + 1] = entries[i].g;
            b[54 + 4 * i + 2] = entries[i].r;
        }
    }
    for (int y = 0; y < h; ++y) { // file row 0 is the bottom row
        const bool upper = y >= h / 2;
        uint8_t* row = b.data() + offset + static_cast<size_t>(y) * stride;
        for (int x = 0; x < w; ++x) {
            if (bits == 8) {
                row[x] = upper ? 0 : 1;
            } else {
                const Rgb& c = upper ? top : bottom;
                row[3 * x] = c.b;
                row[3 * x + 1] = c.g;
                row[3 * x + 2] = c.r;
            }
        }
    }
    WriteBytes(path, b);
}

std::string TempRoot() {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return dir;
}

void RemoveTree(const std::string& folder) {
    // A scan made the folder the current one, which would keep it from going.
    SetCurrentDirectoryA(TempRoot().c_str());
    WIN32_FIND_DATAA f;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &f);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = f.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = folder + "\\" + name;
            if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(h, &f));
        FindClose(h);
    }
    RemoveDirectoryA(folder.c_str());
}

// A fresh, empty folder under the temporary folder (no trailing backslash).
std::string FreshFolder(const std::string& name) {
    std::string folder = TempRoot() + "pixmora_browser_" + name;
    RemoveTree(folder);
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

bool EndsWithNoCase(const std::string& s, const char* tail) {
    const size_t n = std::strlen(tail);
    return s.size() >= n && lstrcmpiA(s.c_str() + s.size() - n, tail) == 0;
}

// What the scan must list: the search's own order, pictures by extension,
// folders included.
std::vector<std::string> PicturesInSearchOrder(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA f;
    HANDLE h = FindFirstFileA((folder + "\\*.*").c_str(), &f);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = f.cFileName;
        for (const char* ext : {".bmp", ".gif", ".jpg", ".jpeg", ".jpe", ".jfif", ".png"})
            if (EndsWithNoCase(name, ext)) names.push_back(name);
    } while (FindNextFileA(h, &f));
    FindClose(h);
    return names;
}

// ---- waiting while the dialog keeps running ----

// Serves the dialog thread's messages until `done` or the time is up.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    MSG msg;
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
}

bool LoaderIdle() {
    return g_app.loadBuffers.LoaderBusyFlag == 0;
}

bool WaitForLoader(DWORD timeoutMs = 20000) {
    bool ok = PumpUntil(LoaderIdle, timeoutMs);
    Pump(50); // the last repaints
    return ok;
}

// ---- the folder list ----

HWND FolderList() {
    return g_app.FolderList;
}

int ItemCount() {
    return static_cast<int>(SendMessageA(FolderList(), LVM_GETITEMCOUNT, 0, 0));
}

std::vector<std::string> ItemTexts() {
    std::vector<std::string> texts;
    for (int i = 0; i < ItemCount(); ++i) {
        char text[MAX_PATH] = "";
        LVITEMA item = {};
        item.iSubItem = 0;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(FolderList(), LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
        texts.push_back(text);
    }
    return texts;
}

int ItemImage(int i) {
    LVITEMA item = {};
    item.mask = LVIF_IMAGE;
    item.iItem = i;
    SendMessageA(FolderList(), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return item.iImage;
}

std::vector<std::string> NameTableEntries() {
    std::vector<std::string> names;
    for (int i = 0; i < g_app.NameCount; ++i)
        names.push_back(g_app.NameTable + i * kPathBytes);
    return names;
}

int IndexOf(const std::vector<std::string>& names, const std::string& name) {
    auto it = std::find(names.begin(), names.end(), name);
    return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

// Image i of the folder list's image list, read back pixel by pixel.
class Thumbnail {
  public:
    explicit Thumbnail(int i) {
        BITMAPINFOHEADER h = {};
        h.biSize = sizeof h;
        h.biWidth = kThumbWidth;
        h.biHeight = -kThumbHeight; // top row first
        h.biPlanes = 1;
        h.biBitCount = 32;
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        void* bits = nullptr;
        HBITMAP dib = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&h), DIB_RGB_COLORS,
                                       &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(memory, dib);
        ImageList_Draw(g_app.folderImages, i, memory, 0, 0, ILD_NORMAL);
        GdiFlush();
        const auto* p = static_cast<const uint32_t*>(bits);
        pixels_.assign(p, p + kThumbWidth * kThumbHeight);
        SelectObject(memory, old);
        DeleteObject(dib);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
    }
    COLORREF At(int x, int y) const {
        uint32_t v = pixels_[static_cast<size_t>(y) * kThumbWidth + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    // The grey one-pixel frame around the whole cell.
    bool Framed() const {
        for (int x = 0; x < kThumbWidth; ++x)
            if (At(x, 0) != kFrameGrey || At(x, kThumbHeight - 1) != kFrameGrey) return false;
        for (int y = 0; y < kThumbHeight; ++y)
            if (At(0, y) != kFrameGrey || At(kThumbWidth - 1, y) != kFrameGrey) return false;
        return true;
    }

  private:
    std::vector<uint32_t> pixels_;
};

struct Probe {
    int x, y;
    COLORREF want;
};

void ExpectThumbnail(int image, const char* name, std::initializer_list<Probe> probes) {
    SCOPED_TRACE(name);
    Thumbnail t(image);
    EXPECT_TRUE(t.Framed());
    for (const Probe& p : probes)
        EXPECT_EQ(t.At(p.x, p.y), p.want) << "at " << p.x << ", " << p.y;
}

void Select(int index) {
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(FolderList(), LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&state));
}

// ---- the tree ----

HWND Tree() {
    return g_app.FolderTree;
}

HTREEITEM Next(HTREEITEM item, UINT how) {
    return reinterpret_cast<HTREEITEM>(
        SendMessageA(Tree(), TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
}

std::vector<HTREEITEM> Children(HTREEITEM parent) {
    std::vector<HTREEITEM> items;
    HTREEITEM c = parent ? Next(parent, TVGN_CHILD) : Next(nullptr, TVGN_ROOT);
    for (; c; c = Next(c, TVGN_NEXT))
        items.push_back(c);
    return items;
}

TVITEMA ItemOf(HTREEITEM item, char* text = nullptr) {
    TVITEMA t = {};
    t.mask =
        TVIF_PARAM | TVIF_CHILDREN | TVIF_STATE | TVIF_HANDLE | TVIF_IMAGE | (text ? TVIF_TEXT : 0);
    t.hItem = item;
    t.stateMask = TVIS_EXPANDED;
    t.pszText = text;
    t.cchTextMax = MAX_PATH;
    SendMessageA(Tree(), TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&t));
    return t;
}

std::string TextOf(HTREEITEM item) {
    char text[MAX_PATH] = "";
    ItemOf(item, text);
    return text;
}

std::string PathOf(HTREEITEM item) {
    char path[MAX_PATH] = "";
    auto list = reinterpret_cast<LPCITEMIDLIST>(ItemOf(item).lParam);
    if (!list || !SHGetPathFromIDListA(list, path)) return "";
    return path;
}

std::string Lower(std::string s) {
    CharLowerA(&s[0]);
    return s;
}

// As a click on the item's button does: TVM_EXPAND alone reports only the
// first expansion of an item, a user's click every one.
void Expand(HTREEITEM item) {
    TVITEMA once = {};
    once.mask = TVIF_STATE | TVIF_HANDLE;
    once.hItem = item;
    once.stateMask = TVIS_EXPANDEDONCE;
    once.state = 0;
    SendMessageA(Tree(), TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&once));
    SendMessageA(Tree(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
}
void Collapse(HTREEITEM item) {
    SendMessageA(Tree(), TVM_EXPAND, TVE_COLLAPSE, reinterpret_cast<LPARAM>(item));
}

// `path` lies inside (or is) the folder `outer`.
bool Inside(const std::string& path, const std::string& outer) {
    std::string p = Lower(path), o = Lower(outer);
    if (o.empty() || p.compare(0, o.size(), o) != 0) return false;
    return p.size() == o.size() || o.back() == '\\' || p[o.size()] == '\\';
}

// Walks the tree down to the item of `target`, expanding on the way; items
// without a path (the computer) are looked into one level deep.
HTREEITEM FindFolder(HTREEITEM parent, const std::string& target, int virtualDepth = 0) {
    if (parent) Expand(parent);
    for (HTREEITEM c : Children(parent)) {
        std::string p = PathOf(c);
        if (!p.empty() && Lower(p) == Lower(target)) return c;
        if (!p.empty() && Inside(target, p) && p.size() > 3) {
            if (HTREEITEM found = FindFolder(c, target, virtualDepth)) return found;
        }
    }
    // Drives ("C:\") and virtual folders come after the plain matches.
    for (HTREEITEM c : Children(parent)) {
        std::string p = PathOf(c);
        if (!p.empty() && p.size() <= 3 && Inside(target, p)) {
            if (HTREEITEM found = FindFolder(c, target, virtualDepth)) return found;
        }
        if (p.empty() && virtualDepth == 0) {
            if (HTREEITEM found = FindFolder(c, target, 1)) return found;
        }
    }
    return nullptr;
}

int CountTreeItems(HTREEITEM parent) {
    int n = 0;
    for (HTREEITEM c : Children(parent))
        n += 1 + CountTreeItems(c);
    return n;
}

int CountItemsWithData(HTREEITEM parent) {
    int n = 0;
    for (HTREEITEM c : Children(parent))
        n += (ItemOf(c).lParam ? 1 : 0) + CountItemsWithData(c);
    return n;
}

// ---- the tree ----

TEST(BrowserTree, RootShowsTheDesktopsFoldersWithTheComputerAndItsDrives) {
    Watchdog dog(60, "BrowserTree.Root");
    ASSERT_TRUE(RunMainDialog([](HWND dialog) {
        auto images =
            reinterpret_cast<HIMAGELIST>(SendMessageA(Tree(), TVM_GETIMAGELIST, TVSIL_NORMAL, 0));
        ASSERT_NE(images, nullptr); // the system's small icons
        std::vector<HTREEITEM> roots = Children(nullptr);
        ASSERT_GE(roots.size(), 2u);
        // Only folders: every root item is one in the desktop folder's eyes.
        for (HTREEITEM r : roots) {
            auto list = reinterpret_cast<LPCITEMIDLIST>(ItemOf(r).lParam);
            ASSERT_NE(list, nullptr) << TextOf(r);
            EXPECT_FALSE(TextOf(r).empty());
            IShellFolder* parent = nullptr;
            LPCITEMIDLIST last = nullptr;
            ASSERT_TRUE(SUCCEEDED(
                SHBindToParent(list, IID_IShellFolder, reinterpret_cast<void**>(&parent), &last)));
            ULONG attributes = SFGAO_FOLDER;
            parent->GetAttributesOf(1, &last, &attributes);
            parent->Release();
            EXPECT_TRUE(attributes & SFGAO_FOLDER) << TextOf(r);
        }
        // The computer: no path of its own, the drives below it.
        bool sawC = false, sawZ = false;
        for (HTREEITEM r : roots) {
            if (!PathOf(r).empty()) continue;
            Expand(r);
            for (HTREEITEM d : Children(r)) {
                sawC = sawC || Lower(PathOf(d)) == "c:\\";
                sawZ = sawZ || Lower(PathOf(d)) == "z:\\";
            }
        }
        EXPECT_TRUE(sawC);
        EXPECT_TRUE(sawZ);
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
}

TEST(BrowserTree, ExpandingEnumeratesAfreshAndButtonsFollowSubFolders) {
    Watchdog dog(60, "BrowserTree.Expanding");
    const std::string top = FreshFolder("tree");
    CreateDirectoryA((top + "\\alpha").c_str(), nullptr);
    CreateDirectoryA((top + "\\beta").c_str(), nullptr);
    CreateDirectoryA((top + "\\beta\\inner").c_str(), nullptr);
    WriteBmp(top + "\\file.bmp", 4, 4, kRed, kBlue);
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        HTREEITEM item = FindFolder(nullptr, top);
        ASSERT_NE(item, nullptr) << "the tree does not lead to " << top;
        Expand(item);
        std::vector<std::string> names;
        for (HTREEITEM c : Children(item))
            names.push_back(TextOf(c));
        // Folders only, in the shell's order; the file is not shown.
        EXPECT_EQ(names, (std::vector<std::string>{"alpha", "beta"}));
        std::vector<HTREEITEM> kids = Children(item);
        ASSERT_EQ(kids.size(), 2u);
        EXPECT_EQ(ItemOf(kids[1]).cChildren, 1); // beta has a sub-folder
        EXPECT_EQ(Lower(PathOf(kids[1])), Lower(top + "\\beta"));

        // A folder made on disk appears at the next expansion.
        CreateDirectoryA((top + "\\aardvark").c_str(), nullptr);
        Collapse(item);
        EXPECT_EQ(Children(item).size(), 2u); // collapsing keeps the children
        Expand(item);
        names.clear();
        for (HTREEITEM c : Children(item))
            names.push_back(TextOf(c));
        EXPECT_EQ(names, (std::vector<std::string>{"aardvark", "alpha", "beta"}));

        // Re-expanding replaces the children; their lists go with them.
        for (int i = 0; i < 5; ++i) {
            Collapse(item);
            Expand(item);
        }
        EXPECT_EQ(TreeItemListsAlive(), CountItemsWithData(nullptr));
        EXPECT_EQ(CountItemsWithData(nullptr), CountTreeItems(nullptr));
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    // Every item's list was freed when the tree went away.
    EXPECT_EQ(TreeItemListsAlive(), 0);
    TearDown();
    RemoveTree(top);
}

TEST(BrowserTree, AFolderWithoutSubFoldersCollapsesAgainAndKeepsNoChildren) {
    Watchdog dog(60, "BrowserTree.Empty");
    const std::string top = FreshFolder("tree_empty");
    CreateDirectoryA((top + "\\leaf").c_str(), nullptr);
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        HTREEITEM item = FindFolder(nullptr, top);
        ASSERT_NE(item, nullptr);
        Expand(item);
        std::vector<HTREEITEM> kids = Children(item);
        ASSERT_EQ(kids.size(), 1u);
        HTREEITEM leaf = kids[0];
        Expand(leaf);
        EXPECT_TRUE(Children(leaf).empty());
        EXPECT_FALSE(ItemOf(leaf).state & TVIS_EXPANDED);
        // Something to show later: the same item opens with it.
        CreateDirectoryA((top + "\\leaf\\later").c_str(), nullptr);
        Expand(leaf);
        kids = Children(leaf);
        ASSERT_EQ(kids.size(), 1u);
        EXPECT_EQ(TextOf(kids[0]), "later");
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
    RemoveTree(top);
}

// ---- a folder of pictures ----

struct PictureFolder {
    std::string path;
    PictureFolder() {
        path = FreshFolder("pictures");
        WriteBmp(path + "\\tall.bmp", 100, 200, kRed, kGreen);
        WriteBmp(path + "\\wide.bmp", 200, 100, kRed, kGreen);
        WriteBmp(path + "\\square.BMP", 128, 128, kBlue, kRed);
        WriteBmp(path + "\\palette.bmp", 64, 32, kGreen, kBlue, 8);
        WriteBmp(path + "\\renamed.jpeg", 8, 8, kRed, kRed); // listed, read by its content
        WriteBytes(path + "\\broken.bmp", {'B', 'M', 1, 2, 3});
        WriteBytes(path + "\\notes.txt", {'h', 'i'});
        CreateDirectoryA((path + "\\x.jpg").c_str(), nullptr);
    }
    ~PictureFolder() { RemoveTree(path); }
};

// Thumbnails of the folder above: grey frame, white ground, the picture
// fitted (upper half, lower half) where it belongs.
void ExpectFolderThumbnails(const std::vector<std::string>& names) {
    int i = IndexOf(names, "tall.bmp"); // 100 x 200: 36 x 72 at (22, 0)
    ASSERT_GE(i, 0);
    ExpectThumbnail(ItemImage(i), "tall.bmp",
                    {{10, 36, kWhite},
                     {70, 36, kWhite},
                     {40, 10, kRed.ref()},
                     {40, 60, kGreen.ref()},
                     {23, 10, kRed.ref()}});
    i = IndexOf(names, "wide.bmp"); // 200 x 100: 80 x 40 at (0, 16)
    ExpectThumbnail(ItemImage(i), "wide.bmp",
                    {{40, 8, kWhite},
                     {40, 62, kWhite},
                     {40, 20, kRed.ref()},
                     {40, 50, kGreen.ref()},
                     {2, 20, kRed.ref()}});
    i = IndexOf(names, "square.BMP"); // 72 x 72 at (4, 0)
    ExpectThumbnail(ItemImage(i), "square.BMP",
                    {{2, 36, kWhite}, {77, 36, kWhite}, {5, 5, kBlue.ref()}, {74, 66, kRed.ref()}});
    i = IndexOf(names, "palette.bmp"); // 8 bits, 64 x 32: 80 x 40 at (0, 16)
    ExpectThumbnail(ItemImage(i), "palette.bmp",
                    {{40, 8, kWhite}, {40, 20, kGreen.ref()}, {40, 50, kBlue.ref()}});
    i = IndexOf(names, "renamed.jpeg"); // a BMP: 72 x 72 at (4, 0)
    ExpectThumbnail(ItemImage(i), "renamed.jpeg", {{2, 36, kWhite}, {40, 36, kRed.ref()}});
    // A folder named like a picture and a file that does not decode stay blank.
    for (const char* blank : {"x.jpg", "broken.bmp"}) {
        i = IndexOf(names, blank);
        ASSERT_GE(i, 0) << blank;
        EXPECT_FALSE(Thumbnail(ItemImage(i)).Framed()) << blank;
    }
}

TEST(BrowserScan, SelectingAFolderInTheTreeListsItsPicturesWithFramedThumbnails) {
    Watchdog dog(60, "BrowserScan.Select");
    PictureFolder folder;
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        HTREEITEM item = FindFolder(nullptr, folder.path);
        ASSERT_NE(item, nullptr);
        SendMessageA(Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
        ASSERT_TRUE(WaitForLoader());
        ASSERT_TRUE(PumpUntil([] { return ItemCount() == g_app.NameCount; }, 2000));

        char cwd[MAX_PATH] = "";
        GetCurrentDirectoryA(sizeof cwd, cwd);
        EXPECT_EQ(Lower(cwd), Lower(folder.path));
        EXPECT_EQ(Lower(g_app.FolderPath), Lower(folder.path + "\\"));

        const std::vector<std::string> want = PicturesInSearchOrder(folder.path);
        ASSERT_EQ(want.size(), 7u); // x.jpg (a folder) and renamed.jpeg in, notes.txt out
        EXPECT_EQ(NameTableEntries(), want);
        EXPECT_EQ(ItemTexts(), want);
        for (int i = 0; i < ItemCount(); ++i)
            EXPECT_EQ(ItemImage(i), i);
        // Under a loaded machine the last repaints can trail the loader's end:
        // the four pictures' cells are given time to show their frames.
        const DWORD start = GetTickCount();
        PumpUntil(
            [&] {
                for (const char* name :
                     {"tall.bmp", "wide.bmp", "square.BMP", "palette.bmp", "renamed.jpeg"})
                    if (!Thumbnail(ItemImage(IndexOf(want, name))).Framed()) return false;
                return true;
            },
            5000);
        RecordProperty("thumbnails_wait_ms", static_cast<int>(GetTickCount() - start));
        ExpectFolderThumbnails(want);
        EXPECT_EQ(ImageList_GetImageCount(g_app.folderImages), 7);
        EXPECT_EQ(g_app.loadBuffers.LoaderStopFlag.load(), 0);
        EXPECT_EQ(g_app.loadBuffers.LoaderBusyFlag.load(), 0);

        // Back to the top of the tree for the picture: the desktop's folders
        // and the computer's drives, opened on the way down.
        SendMessageA(Tree(), TVM_ENSUREVISIBLE, 0,
                     reinterpret_cast<LPARAM>(Next(nullptr, TVGN_ROOT)));
        InvalidateRect(dialog, nullptr, TRUE);
        UpdateWindow(dialog);
        Pump(200);
        SaveScreenshot(dialog, "browser_thumbnails");
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
}

TEST(BrowserScan, ClickingAThumbnailLoadsItAsANewHistoryState) {
    Watchdog dog(60, "BrowserScan.Click");
    PictureFolder folder;
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        ASSERT_EQ(ScanFolder(folder.path.c_str()), 1);
        ASSERT_TRUE(WaitForLoader());
        const int square = IndexOf(ItemTexts(), "square.BMP");
        ASSERT_GE(square, 0);
        const int head = g_app.history.head;
        Select(square);
        HWND pane = GetDlgItem(dialog, IDC_PREVIEW);
        EXPECT_EQ(g_app.history.head, (head + 1) % kHistorySlots);
        const uint8_t* px = CurrentPicture(g_app.history).Pixels(); // row 127 is the top
        EXPECT_EQ(RGB(px[127 * 384 + 2], px[127 * 384 + 1], px[127 * 384]), kBlue.ref());
        EXPECT_EQ(RGB(px[2], px[1], px[0]), kRed.ref());
        // The screen as shown. Under Wine on a bare X server the first dialog
        // of a process can read back as all black, its grey face included;
        // the picture is then only checked in the history above.
        if (ScreenPixel(dialog, 5, 5) != RGB(0, 0, 0)) {
            PumpUntil([&] { return ScreenPixel(pane, 64, 120) == kRed.ref(); }, 2000);
            EXPECT_EQ(ScreenPixel(pane, 64, 10), kBlue.ref()); // upper half
            EXPECT_EQ(ScreenPixel(pane, 64, 120), kRed.ref());
        } else {
            std::printf("the screen reads black: preview pixels not checked\n");
        }
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_UNDO)));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_REDO)));
        EXPECT_EQ(g_app.loadBuffers.LoaderStopFlag.load(), 0);
        EXPECT_EQ(g_app.loadBuffers.LoaderBusyFlag.load(), 0);
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
}

TEST(BrowserScan, OnlyANewSelectionLoadsAndTheListsKeepTheirImagesUntilTearDown) {
    Watchdog dog(60, "BrowserScan.FocusOnly");
    PictureFolder folder;
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        ASSERT_EQ(ScanFolder(folder.path.c_str()), 1);
        ASSERT_TRUE(WaitForLoader());
        Select(IndexOf(ItemTexts(), "square.BMP"));
        Select(IndexOf(ItemTexts(), "tall.bmp"));
        SendMessageA(dialog, WM_COMMAND, IDC_UNDO, 0);
        const int head = g_app.history.head;
        // Focus moves off the selected item and back (Ctrl+arrow): no load.
        LVITEMA focus = {};
        focus.stateMask = LVIS_FOCUSED;
        focus.state = LVIS_FOCUSED;
        const int tall = IndexOf(ItemTexts(), "tall.bmp");
        SendMessageA(FolderList(), LVM_SETITEMSTATE, tall == 0 ? 1 : 0,
                     reinterpret_cast<LPARAM>(&focus));
        SendMessageA(FolderList(), LVM_SETITEMSTATE, tall, reinterpret_cast<LPARAM>(&focus));
        EXPECT_EQ(g_app.history.head, head);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_REDO))) << "redo kept";
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    // The list views only borrowed their image lists: they outlive the dialog
    // and TearDown releases them, once.
    EXPECT_EQ(ImageList_GetImageCount(g_app.folderImages), 7);
    TearDown();
}

TEST(BrowserScan, AFolderOf300PicturesListsTheFirst256OfTheSearch) {
    Watchdog dog(90, "BrowserScan.300");
    const std::string many = FreshFolder("many");
    for (int i = 0; i < 300; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "\\p%03d.bmp", i);
        WriteBmp(many + name, 2, 2, i % 2 ? kRed : kBlue, kGreen);
    }
    const std::string none = FreshFolder("none");
    WriteBytes(none + "\\readme.txt", {'x'});
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        ASSERT_EQ(ScanFolder(many.c_str()), 1);
        ASSERT_TRUE(WaitForLoader(60000));
        std::vector<std::string> want = PicturesInSearchOrder(many);
        ASSERT_EQ(want.size(), 300u);
        want.resize(256);
        EXPECT_EQ(g_app.NameCount, 256);
        EXPECT_EQ(NameTableEntries(), want);
        EXPECT_EQ(ItemTexts(), want);
        EXPECT_TRUE(Thumbnail(ItemImage(0)).Framed());
        EXPECT_TRUE(Thumbnail(ItemImage(255)).Framed());

        // A folder without pictures empties the list.
        ASSERT_EQ(ScanFolder(none.c_str()), 1);
        ASSERT_TRUE(WaitForLoader());
        EXPECT_EQ(g_app.NameCount, 0);
        EXPECT_EQ(ItemCount(), 0);
        EXPECT_EQ(ImageList_GetImageCount(g_app.folderImages), 0);
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
    RemoveTree(many);
    RemoveTree(none);
}

TEST(BrowserScan, AFolderThatCannotBeEnteredChangesNothing) {
    Watchdog dog(60, "BrowserScan.CannotEnter");
    PictureFolder folder;
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        ASSERT_EQ(ScanFolder(folder.path.c_str()), 1);
        ASSERT_TRUE(WaitForLoader());
        const std::vector<std::string> texts = ItemTexts();
        const std::string folderPath = g_app.FolderPath;
        const int count = g_app.NameCount;
        char cwd[MAX_PATH] = "";
        GetCurrentDirectoryA(sizeof cwd, cwd);

        // An item of the tree without a file-system path (the computer).
        HTREEITEM computer = nullptr;
        for (HTREEITEM r : Children(nullptr))
            if (PathOf(r).empty()) computer = r;
        ASSERT_NE(computer, nullptr);
        SendMessageA(Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(computer));
        ASSERT_EQ(Next(nullptr, TVGN_CARET), computer);

        EXPECT_EQ(ScanFolder((folder.path + "\\no such folder").c_str()), 0);
        // A path with no room left for a file name is not entered either.
        const std::string tooLong = "C:\\" + std::string(270, 'd');
        EXPECT_EQ(ScanFolder(tooLong.c_str()), 0);
        Pump(200);
        EXPECT_EQ(ItemTexts(), texts);
        EXPECT_EQ(g_app.FolderPath, folderPath);
        EXPECT_EQ(g_app.NameCount, count);
        char now[MAX_PATH] = "";
        GetCurrentDirectoryA(sizeof now, now);
        EXPECT_STREQ(now, cwd);
        EXPECT_EQ(g_app.loadBuffers.LoaderBusyFlag.load(), 0);
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
}

// ---- the handshake under pressure ----

// Two folders of pictures that take a while to draw.
struct BusyFolders {
    std::string a, b;
    BusyFolders() {
        a = FreshFolder("busy_a");
        b = FreshFolder("busy_b");
        for (int i = 0; i < 30; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "\\a%02d.bmp", i);
            WriteBmp(a + name, 400, 300, kRed, kGreen);
            std::snprintf(name, sizeof name, "\\b%02d.bmp", i);
            WriteBmp(b + name, 300, 400, kBlue, kRed);
        }
        WriteBmp(b + "\\b_last.bmp", 300, 400, kBlue, kRed); // 31 names: the lists differ
    }
    ~BusyFolders() {
        RemoveTree(a);
        RemoveTree(b);
    }
};

// The cells handed to the dialog thread, in the order they came.
std::vector<int> g_handedOver;

LRESULT CALLBACK RecordHandOver(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* m = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && m->message == kPlaceThumbnailMessage && m->hwnd == g_app.mainDialog)
        g_handedOver.push_back(static_cast<int>(m->wParam));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(BrowserScan, EveryCoreDecodesAndTheCellsComeInListOrder) {
    // Big pictures among small ones: the decoders finish out of order, and
    // each cell still waits for the cells before it.
    Watchdog dog(120, "BrowserScan.Cores");
    const std::string folder = FreshFolder("cores");
    for (int i = 0; i < 16; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "\\p%02d.bmp", i);
        const bool big = i % 5 == 0;
        WriteBmp(folder + name, big ? 3000 : 200, big ? 2000 : 150, kRed, big ? kBlue : kGreen);
    }
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        g_handedOver.clear();
        HHOOK hook =
            SetWindowsHookExA(WH_CALLWNDPROC, RecordHandOver, nullptr, GetCurrentThreadId());
        ASSERT_NE(hook, nullptr);
        ASSERT_EQ(ScanFolder(folder.c_str()), 1);
        ASSERT_TRUE(WaitForLoader(60000));
        UnhookWindowsHookEx(hook);
        ASSERT_EQ(g_handedOver.size(), 16u);
        for (size_t i = 0; i < g_handedOver.size(); ++i)
            EXPECT_EQ(g_handedOver[i], static_cast<int>(i));
        for (int i = 0; i < ItemCount(); ++i)
            EXPECT_TRUE(Thumbnail(ItemImage(i)).Framed()) << i;
        // One decoder per core (up to four), each of them used.
        const int cores = std::min<int>(static_cast<int>(system.dwNumberOfProcessors), 4);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(g_app.loaderWorkers[k] != nullptr, k < cores - 1) << k;
            if (g_app.loaderWorkers[k]) {
                EXPECT_GT(g_app.loaderWorkers[k]->buffers.rasterSerial, 0u) << k;
                EXPECT_EQ(g_app.loaderWorkers[k]->buffers.LoaderStopFlag.load(), 0) << k;
            }
        }
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    ::TearDown(); // the program's, not the test's
    EXPECT_TRUE(NothingAllocated());
    RemoveTree(folder);
}

TEST(BrowserStress, SwitchingFolders50TimesWhileThumbnailsLoadShowsOnlyTheLastFolder) {
    Watchdog dog(90, "BrowserStress.Switching");
    BusyFolders folders;
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        int interrupted = 0;
        for (int i = 0; i < 50; ++i) {
            const std::string& path = i % 2 ? folders.b : folders.a;
            if (!LoaderIdle()) ++interrupted;
            ASSERT_EQ(ScanFolder(path.c_str()), 1) << "switch " << i;
            EXPECT_EQ(g_app.NameCount, i % 2 ? 31 : 30) << "switch " << i;
            // Let the loader get somewhere: into the items or the thumbnails.
            Pump(i % 5 * 15);
        }
        EXPECT_GE(interrupted, 40); // the switches really met a running loader
        ASSERT_TRUE(WaitForLoader());
        const std::vector<std::string> want = PicturesInSearchOrder(folders.b);
        EXPECT_EQ(ItemTexts(), want);
        EXPECT_EQ(NameTableEntries(), want);
        for (int i = 0; i < ItemCount(); ++i)
            EXPECT_TRUE(Thumbnail(ItemImage(i)).Framed()) << want[i];
        EXPECT_EQ(g_app.loadBuffers.LoaderStopFlag.load(), 0);
        EXPECT_EQ(g_app.loadBuffers.LoaderBusyFlag.load(), 0);
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    EXPECT_EQ(g_app.loadBuffers.LoaderBusyFlag.load(), 0);
    EXPECT_EQ(g_app.loadBuffers.LoaderStopFlag.load(), 1);
    TearDown();
}

TEST(BrowserStress, AFolderChangeEmptiesTheListBeforeTheNamesChange) {
    Watchdog dog(60, "BrowserStress.Change");
    BusyFolders folders;
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        ASSERT_EQ(ScanFolder(folders.a.c_str()), 1);
        ASSERT_TRUE(WaitForLoader());
        ASSERT_EQ(ItemCount(), 30);
        // Nothing is pumped: a click queued now finds no item of folder a
        // under folder b's names.
        ASSERT_EQ(ScanFolder(folders.b.c_str()), 1);
        EXPECT_EQ(ItemCount(), 0);
        // The new loader waits on its first message to the list; stopped
        // there, it must not leave a redraw switch behind for the next one.
        Sleep(300);
        StopLoader(true);
        MSG pending;
        EXPECT_FALSE(PeekMessageA(&pending, FolderList(), WM_SETREDRAW, WM_SETREDRAW, PM_NOREMOVE));
        ASSERT_EQ(ScanFolder(folders.b.c_str()), 1);
        ASSERT_TRUE(WaitForLoader());
        EXPECT_EQ(ItemTexts(), PicturesInSearchOrder(folders.b));
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
}

TEST(BrowserStress, ClickingThumbnailsWhileTheyLoadStopsTheLoaderForGood) {
    Watchdog dog(90, "BrowserStress.Clicking");
    BusyFolders folders;
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        int stoppedWhileBusy = 0;
        for (int round = 0; round < 8; ++round) {
            // Without the last round's items, the count below is this round's.
            SendMessageA(FolderList(), LVM_DELETEALLITEMS, 0, 0);
            ASSERT_EQ(ScanFolder(folders.a.c_str()), 1);
            const int item = 3 + round;
            ASSERT_TRUE(PumpUntil([&] { return ItemCount() > item; }, 5000));
            Pump(round * 20);
            const bool wasBusy = !LoaderIdle();
            const int head = g_app.history.head;
            Select(item);
            // The click stopped the loader before decoding on this thread.
            EXPECT_EQ(g_app.loadBuffers.LoaderBusyFlag.load(), 0);
            EXPECT_EQ(g_app.loadBuffers.LoaderStopFlag.load(), 0);
            EXPECT_EQ(g_app.history.head, (head + 1) % kHistorySlots);
            // The picture decoded on this thread, whole: the loader did not
            // touch the shared buffers meanwhile. (Memory row 127 is the top.)
            const uint8_t* px = CurrentPicture(g_app.history).Pixels();
            EXPECT_EQ(RGB(px[127 * 384 + 2], px[127 * 384 + 1], px[127 * 384]), kRed.ref())
                << "round " << round;
            EXPECT_EQ(RGB(px[2], px[1], px[0]), kGreen.ref()) << "round " << round;
            if (wasBusy) {
                ++stoppedWhileBusy;
                // Not restarted: the thumbnails left blank stay blank.
                std::vector<bool> drawn;
                for (int i = 0; i < ItemCount(); ++i)
                    drawn.push_back(Thumbnail(i).Framed());
                Pump(300);
                EXPECT_TRUE(LoaderIdle());
                for (int i = 0; i < ItemCount(); ++i)
                    EXPECT_EQ(Thumbnail(i).Framed(), drawn[i]) << "image " << i;
            }
            // Deselect, so the next round's click is a new selection.
            LVITEMA none = {};
            none.stateMask = LVIS_SELECTED;
            SendMessageA(FolderList(), LVM_SETITEMSTATE, -1, reinterpret_cast<LPARAM>(&none));
        }
        EXPECT_GE(stoppedWhileBusy, 6); // the clicks really met a running loader
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
}

TEST(BrowserStress, CancelWhileThumbnailsLoadStopsTheLoaderBeforeTheDialogEnds) {
    Watchdog dog(60, "BrowserStress.Cancel");
    BusyFolders folders;
    bool busyAtCancel = false;
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        ASSERT_EQ(ScanFolder(folders.a.c_str()), 1);
        ASSERT_TRUE(PumpUntil([] { return ItemCount() == 30; }, 5000));
        Pump(50);
        busyAtCancel = !LoaderIdle();
        SendMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
    }));
    EXPECT_TRUE(busyAtCancel);
    EXPECT_FALSE(HarnessHadToClose());
    // Ended, stopped, and the stop flag left raised: nothing decodes again.
    EXPECT_EQ(g_app.loadBuffers.LoaderBusyFlag.load(), 0);
    EXPECT_EQ(g_app.loadBuffers.LoaderStopFlag.load(), 1);
    TearDown();
}

TEST(BrowserStress, ClosingWhileALargePictureDecodesEndsPromptly) {
    Watchdog dog(90, "BrowserStress.Closing");
    const std::string big = FreshFolder("big");
    WriteBmp(big + "\\big.bmp", 4000, 3000, kRed, kBlue);
    DWORD elapsed = 0;
    bool busyAtClose = false;
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        ASSERT_EQ(ScanFolder(big.c_str()), 1);
        // Phase one is done when the item is there; the decode follows.
        ASSERT_TRUE(PumpUntil([] { return ItemCount() == 1; }, 5000));
        Pump(20);
        busyAtClose = !LoaderIdle();
        const DWORD start = GetTickCount();
        SendMessageA(dialog, WM_CLOSE, 0, 0);
        elapsed = GetTickCount() - start;
    }));
    EXPECT_TRUE(busyAtClose);
    // One decoder poll, at most one 200 ms look and the 100 ms pause: well
    // under a second on a quiet machine (the figure is recorded). The bound
    // only tells a close that waits for the whole decode, or for ever, from
    // one that stops it, however loaded the machine is.
    EXPECT_LT(elapsed, 10000u);
    RecordProperty("close_ms", static_cast<int>(elapsed));
    std::printf("closing while decoding took %lu ms\n", static_cast<unsigned long>(elapsed));
    EXPECT_EQ(g_app.loadBuffers.LoaderBusyFlag.load(), 0);
    EXPECT_EQ(g_app.loadBuffers.LoaderStopFlag.load(), 1);
    // The loader was stopped inside the decode: the picture never got its
    // thumbnail.
    EXPECT_FALSE(Thumbnail(0).Framed());
    TearDown();
    RemoveTree(big);
}

// ---- the fit choices: the context menu and the settings file ----

// A profile folder of the test's own (APPDATA), empty: no settings file yet.
struct FreshProfile {
    std::string folder = FreshFolder("profile");
    char before[MAX_PATH] = "";
    FreshProfile() {
        GetEnvironmentVariableA("APPDATA", before, sizeof before);
        SetEnvironmentVariableA("APPDATA", folder.c_str());
    }
    ~FreshProfile() {
        SetEnvironmentVariableA("APPDATA", before);
        RemoveTree(folder);
    }
    std::string File() const { return folder + "\\Pixmora\\settings.ini"; }
    std::string Value(const char* section, const char* key) const {
        char text[MAX_PATH] = "";
        GetPrivateProfileStringA(section, key, "(none)", text, sizeof text, File().c_str());
        return text;
    }
};

struct MenuItemSeen {
    std::string text; // "" for a separator
    bool checked, radio, greyed;
};

// The open popup menu: its items as shown, and the keys pressed in it.
std::vector<MenuItemSeen> g_menuSeen;
std::vector<WPARAM> g_menuKeys;
std::string g_menuShot;
DWORD g_menuDeadline = 0;

void CALLBACK MenuTimer(HWND, UINT, UINT_PTR id, DWORD) {
    HWND popup = FindWindowA("#32768", nullptr);
    if (!popup || !IsWindowVisible(popup)) {
        if (GetTickCount() > g_menuDeadline) KillTimer(nullptr, id);
        return;
    }
    KillTimer(nullptr, id);
    auto menu = reinterpret_cast<HMENU>(SendMessageA(popup, MN_GETHMENU, 0, 0));
    for (int i = 0; menu && i < GetMenuItemCount(menu); ++i) {
        char text[128] = "";
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof text;
        GetMenuItemInfoA(menu, i, TRUE, &info);
        g_menuSeen.push_back({(info.fType & MFT_SEPARATOR) ? "" : text,
                              (info.fState & MFS_CHECKED) != 0, (info.fType & MFT_RADIOCHECK) != 0,
                              (info.fState & MFS_GRAYED) != 0});
    }
    UpdateWindow(popup);
    if (!g_menuShot.empty()) SaveScreenshot(GetDesktopWindow(), g_menuShot);
    for (WPARAM key : g_menuKeys) {
        PostMessageA(popup, WM_KEYDOWN, key, 0);
        PostMessageA(popup, WM_KEYUP, key, 0xC0000000);
    }
}

// Runs `open`, which brings up the folder list's context menu, records the
// menu and presses `keys` in it. Returns the items seen (none when no menu
// came up).
std::vector<MenuItemSeen> UseFolderListMenu(const std::function<void()>& open,
                                            std::vector<WPARAM> keys,
                                            const std::string& shot = "") {
    g_menuSeen.clear();
    g_menuKeys = keys;
    g_menuShot = shot;
    g_menuDeadline = GetTickCount() + 3000;
    UINT_PTR timer = SetTimer(nullptr, 0, 50, MenuTimer);
    open();
    KillTimer(nullptr, timer);
    Pump(50);
    return g_menuSeen;
}
// The same, the menu asked for as the list passes it on at a point of the
// screen.
std::vector<MenuItemSeen> UseFolderListMenu(LPARAM where, std::vector<WPARAM> keys,
                                            const std::string& shot = "") {
    return UseFolderListMenu(
        [&] {
            SendMessageA(FolderList(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(FolderList()),
                         where);
        },
        keys, shot);
}

// The middle of the item's picture, scrolled into view first.
LPARAM ScreenPointOfItem(int item) {
    SendMessageA(FolderList(), LVM_ENSUREVISIBLE, item, FALSE);
    RECT r = {};
    r.left = LVIR_ICON;
    SendMessageA(FolderList(), LVM_GETITEMRECT, item, reinterpret_cast<LPARAM>(&r));
    POINT p = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ClientToScreen(FolderList(), &p);
    return MAKELPARAM(p.x, p.y);
}

TEST(BrowserMenu, TheFitChoicesWithTheirMarksAndLoadForTheItemUnderThePointer) {
    Watchdog dog(90, "BrowserMenu.Choices");
    FreshProfile profile;
    PictureFolder folder;
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        ASSERT_EQ(ScanFolder(folder.path.c_str()), 1);
        ASSERT_TRUE(WaitForLoader());
        const int wide = IndexOf(ItemTexts(), "wide.bmp");
        ASSERT_GE(wide, 0);

        // The first start's choices; Down, Down, Enter picks the second item.
        std::vector<MenuItemSeen> seen = UseFolderListMenu(
            ScreenPointOfItem(wide), {VK_DOWN, VK_DOWN, VK_RETURN}, "folder_menu");
        ASSERT_EQ(seen.size(), 10u);
        const char* texts[] = {"Stretch to the frame",
                               "Fill the frame (cut the edges)",
                               "Fill the frame around the subject",
                               "Fit inside the frame (black bars)",
                               "",
                               "Smooth scaling",
                               "Turn photos upright",
                               "",
                               "Choose the part...\tF2",
                               "Load"};
        for (size_t i = 0; i < seen.size(); ++i)
            EXPECT_EQ(seen[i].text, texts[i]) << i;
        for (int i = 0; i < 4; ++i)
            EXPECT_TRUE(seen[i].radio) << i;
        EXPECT_TRUE(seen[0].checked);
        EXPECT_FALSE(seen[1].checked || seen[2].checked || seen[3].checked || seen[5].checked);
        EXPECT_FALSE(seen[5].radio || seen[6].radio);
        EXPECT_TRUE(seen[6].checked);
        EXPECT_FALSE(seen[8].greyed || seen[9].greyed);
        // Fill is chosen, kept for the next start and used by the next load.
        EXPECT_EQ(CurrentSettings().fit.mode, FitMode::kFill);
        EXPECT_EQ(profile.Value("Frame", "Fit"), "fill");
        Select(wide);
        const uint8_t* top = CurrentPicture(g_app.history).Row(0);
        EXPECT_EQ(RGB(top[2], top[1], top[0]),
                  kRed.ref()); // the upper half, not the white of a band

        // Smooth scaling on: its mark shows the next time.
        UseFolderListMenu(ScreenPointOfItem(wide),
                          {VK_DOWN, VK_DOWN, VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN});
        EXPECT_TRUE(CurrentSettings().fit.smooth);
        EXPECT_EQ(profile.Value("Frame", "Smooth"), "1");
        seen = UseFolderListMenu(ScreenPointOfItem(wide), {VK_ESCAPE});
        ASSERT_EQ(seen.size(), 10u);
        EXPECT_TRUE(seen[1].checked);
        EXPECT_FALSE(seen[0].checked || seen[2].checked);
        EXPECT_TRUE(seen[5].checked);

        // Around the subject: the fill with the subject focus, kept too; the
        // plain fill gives it back.
        seen = UseFolderListMenu(ScreenPointOfItem(wide), {VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN});
        EXPECT_EQ(CurrentSettings().fit.mode, FitMode::kFill);
        EXPECT_EQ(CurrentSettings().fit.focus, FitFocus::kSubject);
        EXPECT_EQ(profile.Value("Frame", "Focus"), "subject");
        seen = UseFolderListMenu(ScreenPointOfItem(wide), {VK_DOWN, VK_DOWN, VK_RETURN});
        EXPECT_TRUE(seen[2].checked && !seen[1].checked);
        EXPECT_EQ(CurrentSettings().fit.focus, FitFocus::kCentre);
        EXPECT_EQ(profile.Value("Frame", "Focus"), "centre");

        // "Load" loads the item under the pointer as a new state, even when
        // it is the selected one already.
        const int head = g_app.history.head;
        UseFolderListMenu(ScreenPointOfItem(wide),
                          {VK_UP, VK_RETURN}); // up from nothing: the last item
        EXPECT_EQ(g_app.history.head, (head + 1) % kHistorySlots);

        // From the keyboard (the menu key, Shift+F10) the focused item is
        // the one; away from every item "Load" is greyed.
        seen = UseFolderListMenu([] { PressKey(FolderList(), VK_APPS); }, {VK_ESCAPE});
        ASSERT_EQ(seen.size(), 10u);
        EXPECT_FALSE(seen[9].greyed);
        seen = UseFolderListMenu([] { PressKey(FolderList(), VK_F10, false, true); }, {VK_ESCAPE});
        EXPECT_EQ(seen.size(), 10u);
        RECT list;
        GetWindowRect(FolderList(), &list);
        seen = UseFolderListMenu(MAKELPARAM(list.right - 30, list.bottom - 30), {VK_ESCAPE});
        ASSERT_EQ(seen.size(), 10u);
        EXPECT_TRUE(seen[8].greyed && seen[9].greyed);
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
}

TEST(BrowserMenu, SettingsAreKeptBetweenRunsAndAMissingOrDamagedFileGivesTheDefaults) {
    Watchdog dog(120, "BrowserMenu.Settings");
    FreshProfile profile;
    PictureFolder folder;
    const std::string saveFolder = FreshFolder("save_here");
    // The first start makes the file with the defaults.
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        EXPECT_EQ(profile.Value("Frame", "Fit"), "stretch");
        EXPECT_EQ(profile.Value("Frame", "Upright"), "1");
        FitOptions fit;
        fit.mode = FitMode::kInside;
        fit.smooth = true;
        fit.upright = false;
        ChangeFitOptions(fit);
        ASSERT_EQ(ScanFolder(folder.path.c_str()), 1);
        ASSERT_TRUE(WaitForLoader());
        RememberSaveAllFolder(saveFolder.c_str());
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
    // The next start reads it all back and opens the folder again.
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        const Settings& s = CurrentSettings();
        EXPECT_EQ(s.fit.mode, FitMode::kInside);
        EXPECT_TRUE(s.fit.smooth);
        EXPECT_FALSE(s.fit.upright);
        EXPECT_EQ(Lower(PathOf(Next(nullptr, TVGN_CARET))), Lower(folder.path));
        ASSERT_TRUE(WaitForLoader());
        EXPECT_EQ(ItemTexts(), PicturesInSearchOrder(folder.path));
        // Save All's folder browser opens where the last Save All went.
        std::string selected;
        OnNextDialog(
            [&](HWND browser) {
                Pump(300);
                HWND tree = FindWindowExA(browser, nullptr, "SysTreeView32", nullptr);
                auto item =
                    reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
                char text[MAX_PATH] = "";
                TVITEMA t = {};
                t.mask = TVIF_TEXT | TVIF_HANDLE;
                t.hItem = item;
                t.pszText = text;
                t.cchTextMax = sizeof text;
                SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&t));
                selected = text;
                SendMessageA(browser, WM_COMMAND, IDCANCEL, 0);
            },
            kShellDialogMs);
        SendMessageA(dialog, WM_COMMAND, IDC_SAVE_ALL, 0);
        EXPECT_TRUE(NextDialogHandled());
        EXPECT_EQ(Lower(selected), "pixmora_browser_save_here");
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
    // A damaged file: every value falls back to its default.
    WriteBytes(profile.File(), {'[',  'F',  'r', 'a', 'm', 'e', ']', '\n', 'F', 'i', 't', '=', 0xFF,
                                0x00, '\n', 'U', 'p', 'r', 'i', 'g', 'h',  't', '=', '7', 0x1A});
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        const Settings& s = CurrentSettings();
        EXPECT_EQ(s.fit.mode, FitMode::kStretch);
        EXPECT_FALSE(s.fit.smooth);
        EXPECT_TRUE(s.fit.upright);
        EXPECT_TRUE(s.treeFolder.empty() || Lower(s.treeFolder) != Lower(folder.path));
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
    RemoveTree(saveFolder);
}

// A 128 x 128 JPEG photo stored lying on its side: left half red, right half
// blue, with an Exif orientation of 6 (turn clockwise to stand upright).
void WriteSidewaysPhoto(const std::string& path) {
    auto picture = std::make_unique<FrameImage>();
    InitFrameHeader(128, 128, picture->bytes);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            uint8_t* p = picture->Row(y) + 3 * x;
            p[0] = x < 64 ? 0 : 255;
            p[1] = 0;
            p[2] = x < 64 ? 255 : 0;
        }
    std::vector<uint8_t> jpeg(100000);
    size_t length = 0;
    ASSERT_EQ(EncodeJpeg(*picture, jpeg.data(), jpeg.size(), length), 1);
    jpeg.resize(length);
    jpeg = WithExifOrientation(jpeg, 6);
    WriteBytes(path, jpeg);
}

// Near enough for a JPEG's flat colour.
bool Near(COLORREF a, COLORREF b) {
    return std::abs(GetRValue(a) - GetRValue(b)) < 24 &&
           std::abs(GetGValue(a) - GetGValue(b)) < 24 && std::abs(GetBValue(a) - GetBValue(b)) < 24;
}

TEST(BrowserMenu, APhotoOnItsSideStandsUprightInItsThumbnailAndWhenLoaded) {
    Watchdog dog(90, "BrowserMenu.Upright");
    FreshProfile profile;
    const std::string photos = FreshFolder("upright");
    WriteSidewaysPhoto(photos + "\\phone.jpg");
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        ASSERT_EQ(ScanFolder(photos.c_str()), 1);
        ASSERT_TRUE(WaitForLoader());
        ASSERT_EQ(ItemCount(), 1);
        // Turned: red on top, blue below (72 x 72 at (4, 0)).
        Thumbnail upright(ItemImage(0));
        EXPECT_TRUE(upright.Framed());
        EXPECT_TRUE(Near(upright.At(40, 10), kRed.ref()));
        EXPECT_TRUE(Near(upright.At(40, 60), kBlue.ref()));
        EXPECT_EQ(upright.At(2, 36), kWhite);
        Select(0);
        const FrameImage& working = CurrentPicture(g_app.history);
        auto at = [&](int x, int y) {
            const uint8_t* p = working.Row(y) + 3 * x;
            return RGB(p[2], p[1], p[0]);
        };
        EXPECT_TRUE(Near(at(10, 10), kRed.ref()));
        EXPECT_TRUE(Near(at(117, 10), kRed.ref()));
        EXPECT_TRUE(Near(at(10, 117), kBlue.ref()));

        // Switched off in the menu (its sixth choice): the thumbnails are drawn
        // again as the photo is stored.
        UseFolderListMenu(ScreenPointOfItem(0),
                          {VK_DOWN, VK_DOWN, VK_DOWN, VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN});
        EXPECT_FALSE(CurrentSettings().fit.upright);
        ASSERT_TRUE(WaitForLoader());
        ASSERT_EQ(ItemCount(), 1);
        // Drawn anew: wide now, red on the left, blue on the right.
        ASSERT_TRUE(
            PumpUntil([] { return Near(Thumbnail(ItemImage(0)).At(10, 36), kRed.ref()); }, 5000))
            << std::hex << Thumbnail(ItemImage(0)).At(10, 36);
        Thumbnail stored(ItemImage(0));
        EXPECT_TRUE(Near(stored.At(70, 36), kBlue.ref())) << std::hex << stored.At(70, 36);
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
    RemoveTree(photos);
}

// ---- the time a folder of photos takes ----

// Fills the thumbnails of the folder named by PIXMORA_THUMB_FOLDER (a folder
// of camera photos; bench/thumbnail_note.md says how it is made) and reports
// the time from the scan to the last thumbnail. Skipped without the folder.
TEST(BrowserBench, ThumbnailsOfAFolderOfPhotos) {
    const char* where = std::getenv("PIXMORA_THUMB_FOLDER");
    if (!where || !*where) GTEST_SKIP() << "PIXMORA_THUMB_FOLDER is not set";
    const std::string folder = where;
    Watchdog dog(600, "BrowserBench.Thumbnails");
    ASSERT_TRUE(RunMainDialog([&](HWND dialog) {
        ASSERT_TRUE(WaitForLoader());
        // Wall time, and the CPU time of the whole process (both threads).
        auto cpuMs = [] {
            FILETIME created, ended, kernel, user;
            GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
            auto ticks = [](const FILETIME& t) {
                return static_cast<double>(static_cast<uint64_t>(t.dwHighDateTime) << 32 |
                                           t.dwLowDateTime);
            };
            return (ticks(kernel) + ticks(user)) / 10000.0;
        };
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        const double cpuStart = cpuMs();
        QueryPerformanceCounter(&start);
        ASSERT_EQ(ScanFolder(folder.c_str()), 1);
        ASSERT_TRUE(PumpUntil(LoaderIdle, 500000));
        QueryPerformanceCounter(&end);
        const double cpu = cpuMs() - cpuStart;
        const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                          static_cast<double>(frequency.QuadPart);
        ASSERT_GT(ItemCount(), 0);
        for (int i = 0; i < ItemCount(); ++i)
            EXPECT_TRUE(Thumbnail(ItemImage(i)).Framed()) << i;
        RecordProperty("fill_ms", static_cast<int>(ms));
        RecordProperty("fill_cpu_ms", static_cast<int>(cpu));
        std::printf("%d thumbnails in %.0f ms (CPU %.0f ms): %.1f pictures a second\n", ItemCount(),
                    ms, cpu, 1000.0 * ItemCount() / ms);
        SendMessageA(dialog, WM_CLOSE, 0, 0);
    }));
    TearDown();
}

} // namespace
