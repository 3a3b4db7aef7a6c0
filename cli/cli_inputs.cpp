#include "cli/cli_inputs.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "browser/scan_rules.h"
#include "cli/cli_decoders.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

std::string InFolder(const std::string& folder, const std::string& name) {
    const char last = folder.empty() ? 0 : folder.back();
    if (last == '/' || last == kSeparator) return folder + name;
    return folder + kSeparator + name;
}

} // namespace

bool NameOrder(const std::string& a, const std::string& b) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const int x = lower(static_cast<unsigned char>(a[i]));
        const int y = lower(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

bool ExpandInputs(const std::vector<std::string>& operands, std::vector<std::string>& inputs) {
    for (const std::string& in : operands) {
        std::error_code ec;
        if (!fs::is_directory(fs::path(in), ec)) {
            inputs.push_back(in);
            continue;
        }
        std::vector<std::string> names;
        try {
            for (fs::directory_iterator it(fs::path(in), ec), end; !ec && it != end;
                 it.increment(ec)) {
                std::error_code kind;
                if (!it->is_regular_file(kind)) continue;
                std::string name = it->path().filename().string();
                if (IsScannedPictureName(name.c_str())) names.push_back(name);
            }
        } catch (const std::exception&) {
            ec = std::make_error_code(std::errc::invalid_argument);
        }
        if (ec) {
            Complain("cannot read the folder " + in);
            return false;
        }
        std::sort(names.begin(), names.end(), NameOrder);
        for (const std::string& name : names)
            inputs.push_back(InFolder(in, name));
    }
    return true;
}
