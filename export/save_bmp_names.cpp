#include "export/save_bmp_names.h"

#include <cstring>

bool HasBmpExtension(const std::string& path) {
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.size() - dot - 1 != 3) return false;
    // ASCII upper-casing: no other character of any code page upper-cases to B, M or P.
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    return upper(path[dot + 1]) == 'B' && upper(path[dot + 2]) == 'M' &&
           upper(path[dot + 3]) == 'P';
}

std::string WithBmpExtension(const std::string& path) {
    return HasBmpExtension(path) ? path : path + ".BMP";
}

int ApplyBmpExtension(char* name, size_t capacity) {
    const void* end = std::memchr(name, 0, capacity);
    if (!end) return 0; // not even terminated: leave it alone
    size_t length = static_cast<size_t>(static_cast<const char*>(end) - name);
    std::string named = WithBmpExtension(std::string(name, length));
    if (named.size() + 1 > capacity) return 0;
    std::memcpy(name, named.c_str(), named.size() + 1);
    return 1;
}
