#include "tests/unit/test_support.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include <cstdlib>

std::string NativePath(const std::string& unixPath) {
#ifdef _WIN32
    std::string p = unixPath;
    if (!p.empty() && p[0] == '/') p = "Z:" + p;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
#else
    return unixPath;
#endif
}

std::string CorpusDir() {
    std::string dir = NativePath(std::string(PIXMORA_SOURCE_DIR) + "/../shared/corpus");
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) return "";
    return dir;
}

std::string ScratchDir() {
    static int counter = 0;
#ifdef _WIN32
    const char* tmp = std::getenv("TEMP");
    std::string dir = std::string(tmp ? tmp : ".") + "\\pixmora_test_" + std::to_string(_getpid()) +
                      "_" + std::to_string(counter++);
    _mkdir(dir.c_str());
#else
    std::string dir =
        "/tmp/pixmora_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    mkdir(dir.c_str(), 0755);
#endif
    return dir;
}
