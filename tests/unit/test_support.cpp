#include "tests/unit/test_support.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

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

// A folder no earlier run left behind: under Wine process ids repeat, and a
// test that makes "x.jpg" in its scratch folder would find the last one's.
std::string ScratchDir() {
    static int counter = 0;
    // Gone when the tests end: left in Wine's Temp folder they pile up
    // run after run, and the shell's folder browser of the GUI tests slows
    // down listing them.
    static std::vector<std::string> made;
    if (counter == 0)
        std::atexit([] {
            std::error_code ec;
            for (const std::string& dir : made)
                std::filesystem::remove_all(dir, ec);
        });
#ifdef _WIN32
    const char* tmp = std::getenv("TEMP");
    const std::string base =
        std::string(tmp ? tmp : ".") + "\\pixmora_test_" + std::to_string(_getpid()) + "_";
    auto makeFolder = [](const std::string& dir) { return _mkdir(dir.c_str()); };
#else
    const std::string base = "/tmp/pixmora_test_" + std::to_string(getpid()) + "_";
    auto makeFolder = [](const std::string& dir) { return mkdir(dir.c_str(), 0755); };
#endif
    for (;;) {
        std::string dir = base + std::to_string(counter++);
        if (makeFolder(dir) == 0) {
            made.push_back(dir);
            return dir;
        }
        if (errno != EEXIST) return dir;
    }
}

std::string WriteScratchFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = NativePath(ScratchDir() + "/" + name);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}

bool ReadPpm(const std::string& path, Ppm& ppm) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    in >> magic;
    if (magic != "P6") return false;
    int values[3] = {};
    for (int& v : values) {
        in >> std::ws;
        while (in.peek() == '#') {
            std::string comment;
            std::getline(in, comment);
            in >> std::ws;
        }
        in >> v;
    }
    in.get(); // the one white-space byte before the samples
    if (!in || values[0] <= 0 || values[1] <= 0 || values[2] != 255) return false;
    ppm.width = values[0];
    ppm.height = values[1];
    ppm.rgb.resize(static_cast<size_t>(ppm.width) * ppm.height * 3);
    in.read(reinterpret_cast<char*>(ppm.rgb.data()), static_cast<std::streamsize>(ppm.rgb.size()));
    return in.gcount() == static_cast<std::streamsize>(ppm.rgb.size());
}

std::vector<std::vector<std::string>> ReadCorpusManifest(const std::string& format) {
    std::vector<std::vector<std::string>> rows;
    const std::string corpus = CorpusDir();
    if (corpus.empty()) return rows;
    std::ifstream in(NativePath(corpus + "/" + format + "/MANIFEST.tsv"));
    std::string line;
    std::getline(in, line); // column names
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> cells;
        std::stringstream ss(line);
        for (std::string cell; std::getline(ss, cell, '\t');)
            cells.push_back(cell);
        if (cells.size() >= 9) rows.push_back(cells);
    }
    return rows;
}

std::vector<std::string> RegressionFiles(const std::string& format) {
    std::vector<std::string> files;
    const std::string dir =
        NativePath(std::string(PIXMORA_SOURCE_DIR) + "/tests/data/" + format + "/regressions");
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error))
        if (entry.is_regular_file()) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

uint32_t Fnv1a(const uint8_t* p, size_t n) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 16777619u;
    return h;
}

uint64_t Fnv1a64(const uint8_t* p, size_t n, uint64_t h) {
    for (size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 1099511628211ull;
    return h;
}
