#include "codecs/input_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

std::string InputFileProblem(const char* path) {
    if (!path || !*path) return std::strerror(ENOENT);
    struct stat st;
    if (stat(path, &st) != 0) return std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    errno = 0;
    FILE* f = std::fopen(path, "rb");
    if (!f) return std::strerror(errno ? errno : EACCES);
    std::fclose(f);
    return "";
}
