#include "app/save_files_win.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "export/folder_files.h"

namespace {

// The NT form of an absolute path ("\??\C:\pics\0.jpg"), which a rename
// through a handle takes on every version of Windows; "" for any other path
// (relative, or with forward slashes), which is then renamed by name.
std::wstring NtPath(const std::string& path) {
    if (path.find('/') != std::string::npos) return L"";
    int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    if (n <= 1) return L"";
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], n);
    wide.resize(static_cast<size_t>(n - 1));
    if (wide.compare(0, 4, L"\\\\?\\") == 0) return L"\\??\\" + wide.substr(4);
    if (wide.compare(0, 2, L"\\\\") == 0) return L"\\??\\UNC\\" + wide.substr(2);
    if (wide.size() > 2 && wide[1] == L':' && wide[2] == L'\\') return L"\\??\\" + wide;
    return L"";
}

bool RenameOpenFile(HANDLE file, const std::string& to, bool replace) {
    const std::wstring name = NtPath(to);
    if (name.empty()) return false;
    const size_t bytes = name.size() * sizeof(WCHAR);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + bytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(bytes);
    std::copy(name.begin(), name.end(), info->FileName);
    return SetFileInformationByHandle(file, FileRenameInfo, info,
                                      static_cast<DWORD>(buffer.size())) != 0;
}

class WindowsSaveAllFiles : public SaveAllFiles {
  public:
    ~WindowsSaveAllFiles() override { Close(); }
    SaveAllFailure Write(const std::string& path, const uint8_t* bytes, size_t length) override;
    bool Link(const std::string& path, const std::string& link) override;
    bool Move(const std::string& from, const std::string& to, bool replace) override;
    bool Remove(const std::string& path) override;
    bool Flush() override;
    void Close() override;

  private:
    std::map<std::string, HANDLE> open_; // files written and still open, by their present name
};

} // namespace

SaveAllFailure WindowsSaveAllFiles::Write(const std::string& path, const uint8_t* bytes,
                                          size_t length) {
    // Others may read the new file (and the rename needs DELETE) while it is held.
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return SaveAllFailure::kCannotCreate;
    DWORD wrote = 0;
    if (length > MAXDWORD || !WriteFile(file, bytes, static_cast<DWORD>(length), &wrote, nullptr) ||
        wrote != length) {
        CloseHandle(file);
        DeleteFileA(path.c_str());
        return SaveAllFailure::kWriteFailed;
    }
    open_[path] = file;
    return SaveAllFailure::kNone;
}

bool WindowsSaveAllFiles::Link(const std::string& path, const std::string& link) {
    return CreateHardLinkA(link.c_str(), path.c_str(), nullptr) != 0;
}

bool WindowsSaveAllFiles::Move(const std::string& from, const std::string& to, bool replace) {
    auto held = open_.find(from);
    if (held == open_.end())
        return MoveFileExA(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0) != 0;
    HANDLE file = held->second;
    if (!RenameOpenFile(file, to, replace) &&
        !MoveFileExA(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0))
        return false;
    open_.erase(held);
    open_[to] = file;
    return true;
}

bool WindowsSaveAllFiles::Remove(const std::string& path) {
    auto held = open_.find(path);
    if (held != open_.end()) {
        CloseHandle(held->second);
        open_.erase(held);
    }
    return DeleteFileA(path.c_str()) != 0;
}

// FlushFileBuffers on every file still held, several at once: the disk's
// flushes are shared between the calls waiting together.
bool WindowsSaveAllFiles::Flush() {
    std::vector<HANDLE> files;
    for (auto& held : open_)
        files.push_back(held.second);
    return FlushAtOnce(files.size(), [&](size_t k) { return FlushFileBuffers(files[k]) != 0; });
}

void WindowsSaveAllFiles::Close() {
    for (auto& held : open_)
        CloseHandle(held.second);
    open_.clear();
}

std::unique_ptr<SaveAllFiles> MakeWindowsSaveAllFiles() {
    return std::unique_ptr<SaveAllFiles>(new WindowsSaveAllFiles);
}
