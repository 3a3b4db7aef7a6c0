// The recovery album in the program: an album left behind by a crash or an
// ended window is offered on the next start, restored byte for byte or
// discarded; a damaged store is reported, and what reads back is offered;
// a store that cannot be written is told once, and the album works as
// before. The last tests kill the real pixmora.exe: after three uploads, and
// with two windows open at once, each with its own album.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/app_win.h"
#include "export/folder_files.h"
#include "export/recovery.h"
#include "app/recovery_win.h"
#include "resources/resource.h"
#include "tests/gui/gui_harness.h"
#include "tests/unit/test_support.h"

namespace {

// A uniform picture whose block tail (after the pixels) holds bytes of its
// own, so "byte for byte" covers the whole 51,200-byte block.
FrameImage Marked(uint8_t r, uint8_t g, uint8_t b) {
    FrameImage f{};
    InitFrameHeader(kFrameSide, kFrameSide, f.bytes);
    for (int i = 0; i < kFramePixelBytes; i += 3) {
        f.Pixels()[i] = b;
        f.Pixels()[i + 1] = g;
        f.Pixels()[i + 2] = r;
    }
    for (int i = kFrameHeaderBytes + kFramePixelBytes; i < kFrameImageSize; ++i)
        f.bytes[i] = static_cast<uint8_t>(i * 7 + r + g * 3 + b * 5);
    return f;
}

void Click(HWND dialog, int id) {
    SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void Upload(HWND main, const FrameImage& picture) {
    DropRedo(g_app.history);
    PushState(g_app.history);
    CopyFrameImage(CurrentPicture(g_app.history), picture);
    AfterEdit();
    Click(main, IDC_UPLOAD);
}

HWND Album(HWND main) {
    return GetDlgItem(main, IDC_ALBUM_LIST);
}

int ItemCount(HWND main) {
    return static_cast<int>(SendMessageA(Album(main), LVM_GETITEMCOUNT, 0, 0));
}

std::string Label(HWND main, int i) {
    char text[32] = "";
    LVITEMA item = {};
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(Album(main), LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
    return text;
}

void SelectItem(HWND main, int i) {
    LVITEMA state = {};
    state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(Album(main), LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&state));
}

// The centre pixel of album thumbnail `image`, drawn from the image list.
COLORREF ThumbCentre(int image) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, kThumbWidth, kThumbHeight);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, canvas);
    COLORREF c = CLR_INVALID;
    if (ImageList_Draw(g_app.albumImages, image, dc, 0, 0, ILD_NORMAL))
        c = GetPixel(dc, kThumbWidth / 2, kThumbHeight / 2);
    SelectObject(dc, old);
    DeleteObject(canvas);
    DeleteDC(dc);
    return c;
}

bool SameBlock(const FrameImage& a, const FrameImage& b) {
    return std::memcmp(a.bytes, b.bytes, kFrameImageSize) == 0;
}

std::string StoresFolder() {
    return PixmoraAppDataFolder() + "\\Recovery";
}

// The folder of the one store there is (the last window's).
std::string StoreFolder() {
    std::vector<std::string> names;
    ListFolder(StoresFolder(), names);
    std::string folder;
    for (const std::string& name : names)
        if (name.rfind("window-", 0) == 0 && name.find('.') == std::string::npos) {
            EXPECT_TRUE(folder.empty()) << "more than one store";
            folder = StoresFolder() + "\\" + name;
        }
    return folder;
}

// Deletes every store the next start would read.
void ClearStore() {
    for (RecoveryStore& store : TakeLeftRecoveryStores(PixmoraAppDataFolder(), '\\'))
        RemoveRecoveryStore(store);
}

// Every file in the stores' folders (locks left out).
std::vector<std::string> StoreFiles() {
    std::vector<std::string> names, files;
    ListFolder(StoresFolder(), names);
    for (const std::string& name : names) {
        std::vector<std::string> inner;
        if (ListFolder(StoresFolder() + "\\" + name, inner)) {
            for (const std::string& file : inner)
                files.push_back(name + "\\" + file);
        } else if (name.find(".lock") == std::string::npos) {
            files.push_back(name);
        }
    }
    return files;
}

void WriteText(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f) << path;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

// Ends the dialog as a crash would: no close route runs.
void Vanish(HWND main) {
    EndDialog(main, 0);
}

// Arms the answer to the restore question; its text goes to `asked`. A
// message that follows the answer is recorded in `told` and confirmed.
void AnswerRestore(int answer, std::string& asked, std::string* told = nullptr) {
    asked.clear();
    OnNextDialog([answer, &asked, told](HWND box) {
        asked = MessageText(box);
        if (told)
            OnNextDialog([told](HWND message) {
                *told = MessageText(message);
                SendMessageA(message, WM_COMMAND, IDOK, 0);
            });
        SendMessageA(box, WM_COMMAND, answer, 0);
    });
}

// Runs the dialog with a watch for any question or message: none is expected.
void RunExpectingNoQuestion(const std::function<void(HWND)>& script) {
    std::string seen;
    OnNextDialog([&](HWND box) {
        seen = MessageText(box);
        SendMessageA(box, WM_COMMAND, IDNO, 0);
        SendMessageA(box, WM_COMMAND, IDOK, 0);
    });
    ASSERT_TRUE(RunMainDialog(script));
    TearDown();
    EXPECT_FALSE(NextDialogHandled()) << seen;
}

TEST(Recovery, AnAlbumLeftBehindIsOfferedAndYesRestoresItAsItWas) {
    ClearStore();
    const FrameImage a = Marked(200, 0, 0), b = Marked(0, 200, 0), c = Marked(0, 0, 200),
                     d = Marked(90, 90, 0);
    RunExpectingNoQuestion([&](HWND main) {
        Upload(main, a);
        Upload(main, b);
        Upload(main, c);
        SelectItem(main, 0);
        Upload(main, d); // a d b c
        SelectItem(main, 2);
        Click(main, IDC_DELETE); // a d c
        ASSERT_EQ(ItemCount(main), 3);
        Vanish(main);
    });

    std::string asked;
    AnswerRestore(IDYES, asked);
    ASSERT_TRUE(RunMainDialog([&](HWND main) {
        ASSERT_EQ(ItemCount(main), 3);
        ASSERT_EQ(AlbumCount(g_app.album), 3);
        const FrameImage* expected[] = {&a, &d, &c};
        const COLORREF centre[] = {RGB(200, 0, 0), RGB(90, 90, 0), RGB(0, 0, 200)};
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(SameBlock(AlbumPicture(g_app.album, i), *expected[i])) << i;
            EXPECT_EQ(Label(main, i), std::to_string(i + 1));
            EXPECT_EQ(ThumbCentre(i), centre[i]) << i;
        }
        EXPECT_EQ(AlbumUnsavedPictures(g_app.album), 3);
        // The restored album is kept like any other: a change, then a crash.
        Upload(main, b);
        Vanish(main);
    }));
    TearDown();
    EXPECT_EQ(asked, "Pixmora was closed with 3 album pictures that were not saved. Restore them?");

    AnswerRestore(IDYES, asked);
    ASSERT_TRUE(RunMainDialog([&](HWND main) {
        ASSERT_EQ(AlbumCount(g_app.album), 4);
        EXPECT_TRUE(SameBlock(AlbumPicture(g_app.album, 3), b));
        OnNextDialog([](HWND box) { SendMessageA(box, WM_COMMAND, IDYES, 0); });
        Click(main, IDC_DELETE_ALL);
        EXPECT_EQ(ItemCount(main), 0);
        Vanish(main);
    }));
    TearDown();
    EXPECT_EQ(asked, "Pixmora was closed with 4 album pictures that were not saved. Restore them?");
    // An emptied album leaves nothing to offer.
    RunExpectingNoQuestion(Vanish);
}

TEST(Recovery, NoDiscardsTheStoredAlbumAndAnEndedProgramOffersNothing) {
    ClearStore();
    RunExpectingNoQuestion([](HWND main) {
        Upload(main, Marked(1, 2, 3));
        Upload(main, Marked(4, 5, 6));
        Vanish(main);
    });
    std::string asked;
    AnswerRestore(IDNO, asked);
    ASSERT_TRUE(RunMainDialog([](HWND main) {
        EXPECT_EQ(ItemCount(main), 0);
        EXPECT_EQ(AlbumCount(g_app.album), 0);
        // A new album, then the user ends the program (and confirms if asked).
        Upload(main, Marked(7, 8, 9));
        OnNextDialog([](HWND box) { SendMessageA(box, WM_COMMAND, IDYES, 0); });
        SendMessageA(main, WM_CLOSE, 0, 0);
    }));
    TearDown();
    EXPECT_EQ(asked, "Pixmora was closed with 2 album pictures that were not saved. Restore them?");
    RunExpectingNoQuestion(Vanish);
    // The start found nothing to offer and emptied the store.
    for (const std::string& name : StoreFiles())
        ADD_FAILURE() << "left in the store: " << name;
}

bool IsPictureFile(const std::string& name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".pic") == 0;
}

// The picture files of the one store there is.
std::vector<std::string> StorePictures() {
    std::vector<std::string> names, pictures;
    ListFolder(StoreFolder(), names);
    for (const std::string& name : names)
        if (IsPictureFile(name)) pictures.push_back(StoreFolder() + "\\" + name);
    return pictures;
}

TEST(Recovery, ADamagedStoreIsReportedAndWhatCanBeReadComesBack) {
    ClearStore();
    const FrameImage pictures[] = {Marked(10, 0, 0), Marked(20, 0, 0), Marked(30, 0, 0)};
    RunExpectingNoQuestion([&](HWND main) {
        for (const FrameImage& p : pictures)
            Upload(main, p);
        Vanish(main);
    });
    // One picture file cut short.
    ASSERT_EQ(StorePictures().size(), 3u);
    WriteText(StorePictures()[0], "BM cut short");
    std::string asked, told;
    AnswerRestore(IDYES, asked, &told);
    ASSERT_TRUE(RunMainDialog([&](HWND main) {
        ASSERT_EQ(ItemCount(main), 2);
        // The two that were read keep their order.
        int next = 0;
        for (int i = 0; i < 2; ++i) {
            while (next < 3 && !SameBlock(AlbumPicture(g_app.album, i), pictures[next]))
                ++next;
            EXPECT_LT(next++, 3) << "album picture " << i << " is none of the stored ones";
        }
        Vanish(main);
    }));
    TearDown();
    EXPECT_EQ(asked, "Pixmora was closed with 3 album pictures that were not saved. Restore them?");
    EXPECT_EQ(told, "1 picture of the recovery album was damaged and was left out.");

    // Neither index can be read: the pictures that can are still offered.
    WriteText(StoreFolder() + "\\index-0", "not an index");
    WriteText(StoreFolder() + "\\index-1", std::string(5000, '\xff'));
    AnswerRestore(IDYES, asked, &told);
    ASSERT_TRUE(RunMainDialog([](HWND main) {
        EXPECT_EQ(ItemCount(main), 2);
        Vanish(main);
    }));
    TearDown();
    EXPECT_EQ(asked, "Pixmora was closed with 2 album pictures that were not saved. Restore them?");
    EXPECT_EQ(told, "The order of the recovery album was damaged: its pictures were restored in "
                    "the order they were stored.");

    // Nothing readable at all: said once, nothing restored, the store emptied.
    for (const std::string& picture : StorePictures())
        WriteText(picture, "BM cut short");
    WriteText(StoreFolder() + "\\index-0", "not an index");
    WriteText(StoreFolder() + "\\index-1", std::string(5000, '\xff'));
    told.clear();
    OnNextDialog([&](HWND message) {
        told = MessageText(message);
        SendMessageA(message, WM_COMMAND, IDOK, 0);
    });
    ASSERT_TRUE(RunMainDialog([](HWND main) {
        EXPECT_EQ(ItemCount(main), 0);
        Vanish(main);
    }));
    TearDown();
    EXPECT_EQ(told, "The recovery album was damaged and could not be read.");
    RunExpectingNoQuestion(Vanish);
}

// Arms a watch for the next message box: its text goes to `seen` ("" while
// none came), and it is answered OK.
void NoteNextMessage(std::string& seen) {
    seen.clear();
    OnNextDialog([&seen](HWND box) {
        seen = MessageText(box);
        SendMessageA(box, WM_COMMAND, IDOK, 0);
    });
}

const char kCannotKeep[] = "Album pictures can no longer be kept safe: cannot create the folder ";

TEST(Recovery, WithoutAUsableFolderTheUserIsToldOnceAndTheAlbumWorksAsBefore) {
    // APPDATA names a file: no folder can be made below it.
    std::string scratch = FreshTempFolder("pixmora-noappdata-");
    std::string file = scratch + "\\file";
    WriteText(file, "x");
    char saved[MAX_PATH] = "";
    GetEnvironmentVariableA("APPDATA", saved, sizeof saved);
    SetEnvironmentVariableA("APPDATA", file.c_str());
    std::string first, told, again, closing;
    NoteNextMessage(first);
    ASSERT_TRUE(RunMainDialog([&](HWND main) {
        EXPECT_FALSE(NextDialogHandled()) << first;
        NoteNextMessage(told);
        Upload(main, Marked(1, 1, 1));
        NoteNextMessage(again);
        Upload(main, Marked(2, 2, 2));
        EXPECT_EQ(ItemCount(main), 2);
        OnNextDialog([&](HWND box) {
            closing = MessageText(box);
            SendMessageA(box, WM_COMMAND, IDYES, 0);
        });
        SendMessageA(main, WM_CLOSE, 0, 0);
    }));
    TearDown();
    EXPECT_EQ(told.rfind(kCannotKeep, 0), 0u) << told;
    EXPECT_EQ(again, "") << "shown once";
    EXPECT_EQ(closing, CloseWithUnsavedQuestion(2));
    SetEnvironmentVariableA("APPDATA", saved);
    RemoveFolderTree(scratch);
}

// A write that fails in the middle of a session is shown once, and the next
// change after the cause is gone writes the whole album.
TEST(Recovery, AFailedWriteIsShownOnceAndTheNextChangeWritesTheWholeAlbum) {
    ClearStore();
    std::string told, again, after;
    RunExpectingNoQuestion([&](HWND main) {
        Upload(main, Marked(5, 0, 0));
        // The window's store replaced by a file.
        const std::string folder = StoreFolder();
        RemoveFolderTree(folder);
        WriteText(folder, "in the way");
        NoteNextMessage(told);
        Upload(main, Marked(6, 0, 0));
        NoteNextMessage(again);
        Upload(main, Marked(7, 0, 0));
        DeleteFileA(folder.c_str());
        NoteNextMessage(after);
        Upload(main, Marked(8, 0, 0));
        OnNextDialog(nullptr);
        Vanish(main);
    });
    EXPECT_EQ(told.rfind(kCannotKeep, 0), 0u) << told;
    EXPECT_EQ(again, "") << "shown once";
    EXPECT_EQ(after, "");
    std::string asked;
    AnswerRestore(IDNO, asked);
    ASSERT_TRUE(RunMainDialog(Vanish));
    TearDown();
    EXPECT_EQ(asked, "Pixmora was closed with 4 album pictures that were not saved. Restore them?");
}

// ---- The real program, killed and started again ----

// Another process's control texts are read and written through messages,
// which the system carries across; a few list-view messages need memory in
// the other process.
std::string RemoteText(HWND window) {
    char text[512] = "";
    SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

std::string RemoteMessageText(HWND box) {
    std::string text;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (ClassOf(c) == "Static") text += RemoteText(c);
    return text;
}

class Program {
  public:
    ~Program() { Kill(); }

    // pixmora.exe beside this test program, with APPDATA set to `appData`.
    bool Start(const std::string& appData) {
        char path[MAX_PATH] = "";
        GetModuleFileNameA(nullptr, path, sizeof path);
        std::string exe = path;
        exe = exe.substr(0, exe.rfind('\\') + 1) + "pixmora.exe";
        char saved[MAX_PATH] = "";
        GetEnvironmentVariableA("APPDATA", saved, sizeof saved);
        SetEnvironmentVariableA("APPDATA", appData.c_str());
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        bool ok = CreateProcessA(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &si, &process_);
        SetEnvironmentVariableA("APPDATA", saved);
        return ok;
    }

    void Kill() {
        if (!process_.hProcess) return;
        TerminateProcess(process_.hProcess, 1);
        WaitForSingleObject(process_.hProcess, 10000);
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
        process_ = PROCESS_INFORMATION{};
    }

    // The program's first visible dialog for which `accept` holds; nullptr
    // after 30 s.
    HWND WaitFor(const std::function<bool(HWND)>& accept) {
        for (DWORD end = GetTickCount() + 30000; GetTickCount() < end; Sleep(50)) {
            Search search = {process_.dwProcessId, &accept, nullptr};
            EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
            if (search.found) return search.found;
        }
        return nullptr;
    }

    HWND MainDialog() {
        return WaitFor([](HWND w) { return GetDlgItem(w, IDC_ALBUM_LIST) != nullptr; });
    }

    // Makes album item `i` the selected one (a structure in the program's memory).
    bool SelectItem(HWND list, int i) {
        LVITEMA state = {};
        state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
        void* remote = VirtualAllocEx(process_.hProcess, nullptr, sizeof state,
                                      MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!remote) return false;
        bool ok = WriteProcessMemory(process_.hProcess, remote, &state, sizeof state, nullptr) &&
                  SendMessageA(list, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(remote));
        VirtualFreeEx(process_.hProcess, remote, 0, MEM_RELEASE);
        return ok;
    }

    std::string Label(HWND list, int i) {
        struct Block {
            LVITEMA item;
            char text[32];
        } block = {};
        auto* remote = static_cast<Block*>(VirtualAllocEx(
            process_.hProcess, nullptr, sizeof block, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        if (!remote) return "";
        block.item.pszText = remote->text;
        block.item.cchTextMax = sizeof block.text;
        if (WriteProcessMemory(process_.hProcess, remote, &block, sizeof block, nullptr) &&
            SendMessageA(list, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&remote->item)))
            ReadProcessMemory(process_.hProcess, remote, &block, sizeof block, nullptr);
        VirtualFreeEx(process_.hProcess, remote, 0, MEM_RELEASE);
        block.text[sizeof block.text - 1] = 0;
        return block.text;
    }

    // Save BMP of the current picture as `path`, through the program's own dialog.
    bool SaveBmp(HWND main, const std::string& path) {
        PostMessageA(main, WM_COMMAND, IDC_SAVE_BMP, 0);
        HWND save = WaitFor([main](HWND w) { return w != main && GetDlgItem(w, 1148); });
        if (!save) return false;
        SendMessageA(GetDlgItem(save, 1148), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
        PostMessageA(save, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(save, IDOK)));
        for (DWORD end = GetTickCount() + 30000; GetTickCount() < end; Sleep(50))
            if (!IsWindow(save) && PathExists(path)) return true;
        return false;
    }

    // Opens Image Processing, lets `act` work in it, and presses its OK.
    bool Process(HWND main, const std::function<void(HWND)>& act) {
        PostMessageA(main, WM_COMMAND, IDC_PROCESS, 0);
        HWND tool =
            WaitFor([main](HWND w) { return w != main && GetDlgItem(w, IDC_PROC_NEGATIVE); });
        if (!tool) return false;
        act(tool);
        SendMessageA(tool, WM_COMMAND, IDOK, 0);
        for (DWORD end = GetTickCount() + 10000; GetTickCount() < end; Sleep(50))
            if (!IsWindow(tool)) return true;
        return false;
    }

  private:
    struct Search {
        DWORD process;
        const std::function<bool(HWND)>* accept;
        HWND found;
    };
    static BOOL CALLBACK Visit(HWND window, LPARAM data) {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == s->process && IsWindowVisible(window) && ClassOf(window) == "#32770" &&
            (*s->accept)(window)) {
            s->found = window;
            return FALSE;
        }
        return TRUE;
    }
    PROCESS_INFORMATION process_ = {};
};

TEST(RecoveryProgram, KilledAfterThreeUploadsItOffersThemBackByteForByte) {
    const std::string appData = FreshTempFolder("pixmora-crash-appdata-");
    const std::string shots = FreshTempFolder("pixmora-crash-pictures-");
    auto shot = [&](const char* stage, int i) {
        return shots + "\\" + stage + std::to_string(i) + ".bmp";
    };
    {
        Program first;
        ASSERT_TRUE(first.Start(appData));
        HWND main = first.MainDialog();
        ASSERT_TRUE(main);
        // Three different pictures: black, its negative, and that darkened.
        const std::function<void(HWND)> steps[] = {
            nullptr,
            [](HWND tool) { SendMessageA(tool, WM_COMMAND, IDC_PROC_NEGATIVE, 0); },
            [](HWND tool) {
                HWND bar = GetDlgItem(tool, IDC_PROC_BRIGHTNESS);
                SendMessageA(bar, TBM_SETPOS, TRUE, -90);
                SendMessageA(tool, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0),
                             reinterpret_cast<LPARAM>(bar));
                SendMessageA(tool, WM_COMMAND, IDC_PROC_TAKE_BRIGHTNESS, 0);
            },
        };
        for (int i = 0; i < 3; ++i) {
            if (steps[i]) {
                ASSERT_TRUE(first.Process(main, steps[i])) << i;
            }
            ASSERT_TRUE(first.SaveBmp(main, shot("before", i))) << i;
            SendMessageA(main, WM_COMMAND, IDC_UPLOAD, 0);
        }
        ASSERT_EQ(SendMessageA(GetDlgItem(main, IDC_ALBUM_LIST), LVM_GETITEMCOUNT, 0, 0), 3);
        first.Kill();
    }
    EXPECT_NE(ReadFile(shot("before", 0)), ReadFile(shot("before", 1)));
    EXPECT_NE(ReadFile(shot("before", 1)), ReadFile(shot("before", 2)));

    Program second;
    ASSERT_TRUE(second.Start(appData));
    std::string asked;
    HWND box = second.WaitFor([&](HWND w) {
        std::string text = RemoteMessageText(w);
        if (text.find("Restore") == std::string::npos) return false;
        asked = text;
        return true;
    });
    ASSERT_TRUE(box);
    EXPECT_EQ(asked, "Pixmora was closed with 3 album pictures that were not saved. Restore them?");
    PostMessageA(box, WM_COMMAND, IDYES, 0);
    HWND main = second.MainDialog();
    ASSERT_TRUE(main);
    HWND list = GetDlgItem(main, IDC_ALBUM_LIST);
    ASSERT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(second.Label(list, i), std::to_string(i + 1));
        ASSERT_TRUE(second.SelectItem(list, i));
        SendMessageA(main, WM_COMMAND, IDC_DOWNLOAD, 0);
        ASSERT_TRUE(second.SaveBmp(main, shot("after", i))) << i;
        std::vector<uint8_t> before = ReadFile(shot("before", i)),
                             after = ReadFile(shot("after", i));
        EXPECT_EQ(before.size(), 49206u);
        EXPECT_TRUE(before == after) << "album picture " << i;
    }
    second.Kill();
    RemoveFolderTree(appData);
    RemoveFolderTree(shots);
}

// Two windows of the real program at once, on one APPDATA: the second
// starts without a question and keeps its own album; killed, both albums are
// offered by the next start, each as its window left it.
TEST(RecoveryProgram, TwoWindowsKeepAnAlbumEach) {
    const std::string appData = FreshTempFolder("pixmora-two-windows-");
    auto isQuestion = [](HWND w) { return RemoteMessageText(w).find("Restore") != std::string::npos; };
    auto albumItems = [](HWND main) {
        return SendMessageA(GetDlgItem(main, IDC_ALBUM_LIST), LVM_GETITEMCOUNT, 0, 0);
    };
    {
        Program first, second;
        ASSERT_TRUE(first.Start(appData));
        HWND one = first.MainDialog();
        ASSERT_TRUE(one);
        SendMessageA(one, WM_COMMAND, IDC_UPLOAD, 0); // black
        ASSERT_TRUE(first.Process(
            one, [](HWND tool) { SendMessageA(tool, WM_COMMAND, IDC_PROC_NEGATIVE, 0); }));
        SendMessageA(one, WM_COMMAND, IDC_UPLOAD, 0); // white
        ASSERT_EQ(albumItems(one), 2);

        ASSERT_TRUE(second.Start(appData));
        HWND two = second.WaitFor(
            [&](HWND w) { return GetDlgItem(w, IDC_ALBUM_LIST) != nullptr || isQuestion(w); });
        ASSERT_TRUE(two);
        ASSERT_TRUE(GetDlgItem(two, IDC_ALBUM_LIST))
            << "the second window asked: " << RemoteMessageText(two);
        EXPECT_EQ(albumItems(two), 0);
        SendMessageA(two, WM_COMMAND, IDC_UPLOAD, 0);
        // Each window changes on; neither touches the other's store.
        SendMessageA(one, WM_COMMAND, IDC_UPLOAD, 0);
        EXPECT_EQ(albumItems(one), 3);
        EXPECT_EQ(albumItems(two), 1);
        first.Kill();
        second.Kill();
    }
    Program third;
    ASSERT_TRUE(third.Start(appData));
    std::vector<std::string> asked;
    for (int n = 0; n < 2; ++n) {
        HWND box = third.WaitFor(isQuestion);
        ASSERT_TRUE(box) << n;
        asked.push_back(RemoteMessageText(box));
        PostMessageA(box, WM_COMMAND, IDYES, 0);
        for (DWORD end = GetTickCount() + 10000; IsWindow(box) && GetTickCount() < end;)
            Sleep(20);
    }
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, (std::vector<std::string>{
                         "Pixmora was closed with 1 album picture that was not saved. Restore it?",
                         "Pixmora was closed with 3 album pictures that were not saved. Restore "
                         "them?"}));
    HWND main = third.MainDialog();
    ASSERT_TRUE(main);
    EXPECT_EQ(albumItems(main), 4);
    // The third window's own store now holds all four; the two it read are gone.
    std::vector<std::string> names;
    ListFolder(appData + "\\Pixmora\\Recovery", names);
    int stores = 0;
    for (const std::string& name : names)
        stores += name.rfind("window-", 0) == 0 && name.find('.') == std::string::npos;
    EXPECT_EQ(stores, 1);
    third.Kill();
    RemoveFolderTree(appData);
}

} // namespace
