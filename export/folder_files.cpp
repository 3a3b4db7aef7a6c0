#include "export/folder_files.h"

#include <dirent.h>

#include <cerrno>
#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#else
#include <unistd.h>
#endif

bool ListFolder(const std::string& folder, std::vector<std::string>& names) {
    names.clear();
    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    return true;
}

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PathExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool MakeFolder(const std::string& path) {
    // The C runtime of Windows does not find "C:\\dir\\" with stat; "C:\\" keeps its backslash.
    std::string folder = path;
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\') &&
           !(folder.size() == 3 && folder[1] == ':'))
        folder.pop_back();
#ifdef _WIN32
    const int made = _mkdir(folder.c_str());
#else
    const int made = mkdir(folder.c_str(), 0755);
#endif
    const int error = made == 0 ? 0 : errno;
    struct stat st;
    if (stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    // The reason is the making's ("Permission denied"), not the look's.
    errno = error ? error : ENOTDIR;
    return false;
}

bool MakeNewFolder(const std::string& path) {
#ifdef _WIN32
    return _mkdir(path.c_str()) == 0;
#else
    return mkdir(path.c_str(), 0755) == 0;
#endif
}

bool RemoveEmptyFolder(const std::string& path) {
#ifdef _WIN32
    return _rmdir(path.c_str()) == 0;
#else
    return rmdir(path.c_str()) == 0;
#endif
}

std::string JoinPath(const std::string& folder, const std::string& name, char separator) {
    if (!folder.empty() && (folder.back() == '/' || folder.back() == separator))
        return folder + name;
    return folder + separator + name;
}

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}
