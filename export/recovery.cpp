#include "export/recovery.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "export/folder_files.h"

namespace {

constexpr char kStoreName[] = "Recovery"; // the stores' folder inside the application-data folder
constexpr char kWindowPrefix[] = "window-";
constexpr char kLockSuffix[] = ".lock";
constexpr char kOldStoreLock[] = "album.lock"; // for the store of an earlier version
// Store numbers tried for a new store (one per window open at once, and
// stores of ended windows not yet taken).
constexpr int kMostStores = 1000;
constexpr char kIndexMagic[8] = {'P', 'X', 'M', 'A', 'L', 'B', 'M', '1'};
constexpr size_t kIndexHead = 16; // magic, sequence, count
// An index lists at most this many pictures; anything longer is not ours.
constexpr uint32_t kMostIndexEntries = 1u << 20;

uint64_t Rotl(uint64_t x, int r) {
    return (x << r) | (x >> (64 - r));
}

// A 64-bit hash of `length` bytes: four independent lanes over 8-byte words
// (so a 51,200-byte picture costs a few microseconds), then a final mix.
// Little-endian words on every target the program runs on.
uint64_t Hash64(const uint8_t* p, size_t length) {
    const uint64_t k1 = 0x9E3779B185EBCA87ull, k2 = 0xC2B2AE3D27D4EB4Full;
    uint64_t lane[4] = {k1 + k2, k2, 0, 0 - k1};
    size_t i = 0;
    for (; i + 32 <= length; i += 32)
        for (int j = 0; j < 4; ++j) {
            uint64_t w;
            std::memcpy(&w, p + i + 8 * j, 8);
            lane[j] = Rotl(lane[j] + w * k2, 31) * k1;
        }
    uint64_t h = Rotl(lane[0], 1) + Rotl(lane[1], 7) + Rotl(lane[2], 12) + Rotl(lane[3], 18);
    h += length;
    for (; i < length; ++i)
        h = Rotl(h ^ (p[i] * k1), 11) * k2;
    h ^= h >> 33;
    h *= k2;
    h ^= h >> 29;
    h *= 0x165667B19E3779F9ull;
    h ^= h >> 32;
    return h;
}

uint64_t PictureHash(const FrameImage& picture) {
    return Hash64(picture.bytes, kFrameImageSize);
}

std::string PictureName(uint64_t hash) {
    char name[24];
    std::snprintf(name, sizeof name, "%08x%08x.pic", static_cast<unsigned>(hash >> 32),
                  static_cast<unsigned>(hash));
    return name;
}

// "0123456789abcdef.pic" -> its hash; false for every other name.
bool ParsePictureName(const std::string& name, uint64_t& hash) {
    if (name.size() != 20 || name.compare(16, 4, ".pic") != 0) return false;
    hash = 0;
    for (int i = 0; i < 16; ++i) {
        char c = name[i];
        int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (v < 0) return false;
        hash = hash << 4 | static_cast<uint64_t>(v);
    }
    return true;
}

bool Contains(const std::vector<uint64_t>& list, uint64_t hash) {
    return std::find(list.begin(), list.end(), hash) != list.end();
}

void Forget(std::vector<uint64_t>& list, uint64_t hash) {
    list.erase(std::remove(list.begin(), list.end(), hash), list.end());
}

std::string PathOf(const RecoveryStore& store, const std::string& name) {
    return JoinPath(store.folder, name, store.separator);
}

std::string IndexPath(const RecoveryStore& store, uint32_t sequence) {
    return PathOf(store, sequence % 2 ? "index-1" : "index-0");
}

bool IsIndexName(const std::string& name) {
    return name == "index-0" || name == "index-1";
}

// "window-12" -> 12 (also "window-12.lock"); false for every other name.
bool ParseWindowName(const std::string& name, int& number) {
    const size_t prefix = sizeof kWindowPrefix - 1;
    if (name.compare(0, prefix, kWindowPrefix) != 0) return false;
    std::string digits = name.substr(prefix);
    const size_t suffix = sizeof kLockSuffix - 1;
    if (digits.size() > suffix && digits.compare(digits.size() - suffix, suffix, kLockSuffix) == 0)
        digits.resize(digits.size() - suffix);
    if (digits.empty() || digits.size() > 6 || digits[0] == '0') return false;
    number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + (c - '0');
    }
    return true;
}

std::string Failure(const std::string& what, const std::string& path) {
    const int error = errno;
    return what + " " + path + (error ? std::string(": ") + std::strerror(error) : "");
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint64_t GetU64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

void PutU64(std::vector<uint8_t>& out, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Reads a whole file of at most `limit` bytes; false when it cannot be read or is larger.
bool ReadSmallFile(const std::string& path, size_t limit, std::vector<uint8_t>& bytes) {
    bytes.clear();
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    uint8_t buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && bytes.size() <= limit)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return bytes.size() <= limit;
}

enum class IndexState { kMissing, kDamaged, kGood };

IndexState ReadIndex(const std::string& path, uint32_t& sequence, std::vector<uint64_t>& order) {
    std::vector<uint8_t> b;
    if (!ReadSmallFile(path, kIndexHead + 8ull * kMostIndexEntries + 8, b))
        return PathExists(path) ? IndexState::kDamaged : IndexState::kMissing;
    if (b.size() < kIndexHead + 8 || std::memcmp(b.data(), kIndexMagic, 8) != 0)
        return IndexState::kDamaged;
    uint32_t count = static_cast<uint32_t>(GetU64(b.data() + 8) >> 32);
    if (count > kMostIndexEntries || b.size() != kIndexHead + 8ull * count + 8)
        return IndexState::kDamaged;
    if (Hash64(b.data(), b.size() - 8) != GetU64(b.data() + b.size() - 8))
        return IndexState::kDamaged;
    sequence = static_cast<uint32_t>(GetU64(b.data() + 8));
    order.clear();
    for (uint32_t i = 0; i < count; ++i)
        order.push_back(GetU64(b.data() + kIndexHead + 8 * i));
    return IndexState::kGood;
}

// Writes a whole file and puts it on the disk; on failure nothing of it is
// left and `reason` says why.
bool WriteFileBytes(const std::string& path, const uint8_t* bytes, size_t length,
                    std::string* reason) {
    errno = 0;
    if (WriteWholeFile(path, bytes, length)) return true;
    if (reason) *reason = Failure("cannot write", path);
    return false;
}

bool WriteIndex(const RecoveryStore& store, uint32_t sequence, const std::vector<uint64_t>& order,
                std::string* reason) {
    std::vector<uint8_t> b(kIndexMagic, kIndexMagic + 8);
    PutU32(b, sequence);
    PutU32(b, static_cast<uint32_t>(order.size()));
    for (uint64_t h : order)
        PutU64(b, h);
    PutU64(b, Hash64(b.data(), b.size()));
    return WriteFileBytes(IndexPath(store, sequence), b.data(), b.size(), reason);
}

// A picture file is written under a temporary name and then renamed, so its
// final name never holds part of a picture.
bool WritePicture(const RecoveryStore& store, uint64_t hash, const FrameImage& picture,
                  std::string* reason) {
    std::string final = PathOf(store, PictureName(hash));
    std::string temp = final.substr(0, final.size() - 4) + ".tmp";
    if (!WriteFileBytes(temp, picture.bytes, kFrameImageSize, reason)) return false;
    std::remove(final.c_str()); // a damaged leftover of the same name
    errno = 0;
    if (std::rename(temp.c_str(), final.c_str()) == 0) return true;
    if (reason) *reason = Failure("cannot write", final);
    std::remove(temp.c_str());
    return false;
}

// Reads picture `hash` into `block` and checks size, bytes and header.
bool ReadPicture(const RecoveryStore& store, uint64_t hash, FrameImage& block) {
    FILE* f = std::fopen(PathOf(store, PictureName(hash)).c_str(), "rb");
    if (!f) return false;
    bool whole =
        std::fread(block.bytes, 1, kFrameImageSize, f) == kFrameImageSize && std::fgetc(f) == EOF;
    std::fclose(f);
    if (!whole || PictureHash(block) != hash) return false;
    BitmapInfoHeader h;
    std::memcpy(&h, block.bytes, sizeof h);
    return h.biSize == 40 && h.biWidth == kFrameSide && h.biHeight == kFrameSide &&
           h.biPlanes == 1 && h.biBitCount == 24 && h.biCompression == 0;
}

// The store's pictures that read back whole, in the order they were written
// (by the files' times, then by name).
std::vector<uint64_t> IntactPictures(const RecoveryStore& store) {
    std::vector<std::pair<int64_t, uint64_t>> found;
    std::unique_ptr<FrameImage> block(new (std::nothrow) FrameImage);
    if (!block) return {};
    for (uint64_t hash : store.present) {
        struct stat st;
        if (ReadPicture(store, hash, *block) &&
            stat(PathOf(store, PictureName(hash)).c_str(), &st) == 0)
            found.emplace_back(static_cast<int64_t>(st.st_mtime), hash);
    }
    std::sort(found.begin(), found.end());
    std::vector<uint64_t> order;
    for (const auto& f : found)
        order.push_back(f.second);
    return order;
}

void ForgetContents(RecoveryStore& store) {
    store.folder.clear();
    store.indexed = store.damaged = false;
    store.sequence = 0;
    store.current.clear();
    store.previous.clear();
    store.checked.clear();
    store.present.clear();
}

// Reads which indexes and pictures the store's folder holds.
void ReadStore(RecoveryStore& store) {
    std::vector<std::string> names;
    ListFolder(store.folder, names);
    for (const std::string& name : names) {
        uint64_t hash;
        if (ParsePictureName(name, hash)) store.present.push_back(hash);
        // A picture whose writing was cut short.
        if (name.size() == 20 && name.compare(16, 4, ".tmp") == 0)
            std::remove(PathOf(store, name).c_str());
    }
    uint32_t seq[2] = {0, 0};
    std::vector<uint64_t> order[2];
    IndexState state[2];
    for (int i = 0; i < 2; ++i)
        state[i] = ReadIndex(IndexPath(store, static_cast<uint32_t>(i)), seq[i], order[i]);
    const bool good[2] = {state[0] == IndexState::kGood, state[1] == IndexState::kGood};
    // Sequence numbers compared as steps on a circle: the newer is at most
    // 2^31 ahead, so counting on past 2^32 keeps the order.
    const int newer = good[0] && (!good[1] || static_cast<int32_t>(seq[0] - seq[1]) > 0) ? 0
                      : good[1]                                                          ? 1
                                                                                         : -1;
    if (newer >= 0) {
        store.indexed = true;
        store.sequence = seq[newer];
        store.current = order[newer];
        if (good[1 - newer]) store.previous = order[1 - newer];
    } else if (state[0] == IndexState::kDamaged || state[1] == IndexState::kDamaged) {
        // No order survived, but the pictures may have: offer what reads back.
        store.damaged = true;
        store.current = IntactPictures(store);
        store.checked = store.current;
    }
    // Both indexes missing: the store was emptied (or its first write cut
    // short); its pictures are not an album.
}

// Takes the lock `lock` of the store in `folder` and reads the store; false
// when a living window holds it.
bool TakeStore(RecoveryStore& store, const std::string& folder, const std::string& lock,
               char separator) {
    store.separator = separator;
    if (!store.lock.Take(lock)) return false;
    store.folder = folder;
    ReadStore(store);
    return true;
}

} // namespace

bool CreateRecoveryStore(RecoveryStore& store, const std::string& appDataFolder,
                         std::string& reason, char separator) {
    ReleaseRecoveryStore(store);
    store.separator = separator;
    const std::string root = JoinPath(appDataFolder, kStoreName, separator);
    if (!MakeFolder(appDataFolder) || !MakeFolder(root)) {
        reason = Failure("cannot create the folder", root);
        return false;
    }
    for (int n = 1; n <= kMostStores; ++n) {
        const std::string folder = JoinPath(root, kWindowPrefix + std::to_string(n), separator);
        errno = 0;
        if (!store.lock.Take(folder + kLockSuffix, true)) continue;
        if (MakeNewFolder(folder)) {
            store.folder = folder;
            return true;
        }
        // A store whose window ended after the start looked: offered next time.
        store.lock.Release();
    }
    reason = Failure("cannot create a store in", root);
    return false;
}

std::vector<RecoveryStore> TakeLeftRecoveryStores(const std::string& appDataFolder,
                                                  char separator) {
    const std::string root = JoinPath(appDataFolder, kStoreName, separator);
    std::vector<std::string> names;
    ListFolder(root, names);
    std::vector<int> numbers;
    bool oldStore = false;
    for (const std::string& name : names) {
        int number;
        uint64_t hash;
        if (ParseWindowName(name, number))
            numbers.push_back(number);
        else if (IsIndexName(name) || ParsePictureName(name, hash))
            oldStore = true;
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    std::vector<RecoveryStore> left;
    if (oldStore) {
        RecoveryStore store;
        if (TakeStore(store, root, JoinPath(root, kOldStoreLock, separator), separator))
            left.push_back(std::move(store));
    }
    for (int n : numbers) {
        const std::string folder = JoinPath(root, kWindowPrefix + std::to_string(n), separator);
        RecoveryStore store;
        if (TakeStore(store, folder, folder + kLockSuffix, separator))
            left.push_back(std::move(store));
    }
    return left;
}

RecoveryReadResult ReadRecoveryAlbum(RecoveryStore& store, AlbumStore& album) {
    RecoveryReadResult r;
    r.damagedIndex = store.damaged;
    for (uint64_t hash : store.current) {
        if (album.count >= kAlbumCapacity) {
            ++r.leftOut;
            continue;
        }
        if (ReadPicture(store, hash, *album.block[album.count])) {
            ++album.count;
            album.changed = true; // not saved with Save All
            ++r.restored;
            if (!Contains(store.checked, hash)) store.checked.push_back(hash);
        } else {
            ++r.dropped;
            Forget(store.checked, hash);
        }
    }
    return r;
}

bool UpdateRecoveryStore(RecoveryStore& store, const AlbumStore& album, std::string* reason) {
    std::vector<uint64_t> order;
    order.reserve(album.count);
    for (int i = 0; i < album.count; ++i)
        order.push_back(PictureHash(*album.block[i]));
    if (order == store.current && (store.indexed || order.empty())) return true;

    // A folder made anew (someone deleted it) holds none of the pictures.
    if (!store.folder.empty() && !PathExists(store.folder)) {
        store.checked.clear();
        store.present.clear();
    }
    errno = 0;
    if (store.folder.empty() || !MakeFolder(store.folder)) {
        if (reason) *reason = Failure("cannot create the folder", store.folder);
        return false;
    }
    bool wrote = false;
    for (int i = 0; i < album.count; ++i) {
        uint64_t hash = order[i];
        if (Contains(store.checked, hash)) continue;
        if (!WritePicture(store, hash, *album.block[i], reason)) return false;
        wrote = true;
        store.checked.push_back(hash);
        if (!Contains(store.present, hash)) store.present.push_back(hash);
    }
    // The new pictures' names on the disk before an index names them.
    if (wrote) FlushFolderToDisk(store.folder);
    if (!WriteIndex(store, store.sequence + 1, order, reason)) return false;
    ++store.sequence;
    store.indexed = true;
    store.previous.swap(store.current);
    store.current.swap(order);

    // Pictures neither of the two indexes on disk needs.
    std::vector<uint64_t> kept;
    for (uint64_t hash : store.present) {
        if (Contains(store.current, hash) || Contains(store.previous, hash) ||
            std::remove(PathOf(store, PictureName(hash)).c_str()) != 0) {
            kept.push_back(hash);
        } else {
            Forget(store.checked, hash);
        }
    }
    store.present.swap(kept);
    return true;
}

void RemoveRecoveryStore(RecoveryStore& store) {
    if (store.lock.held() && !store.folder.empty()) {
        std::remove(IndexPath(store, 0).c_str());
        std::remove(IndexPath(store, 1).c_str());
        std::vector<std::string> names;
        ListFolder(store.folder, names);
        for (const std::string& name : names) {
            uint64_t hash;
            if (ParsePictureName(name, hash)) std::remove(PathOf(store, name).c_str());
        }
        // A window's own folder goes when nothing else is in it; the folder
        // of an earlier version's store holds the others.
        int number;
        const size_t slash = store.folder.find_last_of(std::string("/") + store.separator);
        if (ParseWindowName(store.folder.substr(slash + 1), number))
            RemoveEmptyFolder(store.folder);
    }
    ReleaseRecoveryStore(store);
}

void ReleaseRecoveryStore(RecoveryStore& store) {
    store.lock.Release();
    ForgetContents(store);
}

std::string RecoveryRestoreQuestion(int count) {
    if (count == 1)
        return "Pixmora was closed with 1 album picture that was not saved. Restore it?";
    return "Pixmora was closed with " + std::to_string(count) +
           " album pictures that were not saved. Restore them?";
}

std::string RecoveryReadMessage(const RecoveryReadResult& result) {
    std::string text;
    auto add = [&](const std::string& sentence) { text += (text.empty() ? "" : " ") + sentence; };
    if (result.damagedIndex)
        add(result.restored > 0 ? "The order of the recovery album was damaged: its pictures were "
                                  "restored in the order they were stored."
                                : "The recovery album was damaged and could not be read.");
    if (result.dropped > 0)
        add(std::to_string(result.dropped) +
            (result.dropped == 1 ? " picture of the recovery album was damaged and was left out."
                                 : " pictures of the recovery album were damaged and were left "
                                   "out."));
    if (result.leftOut > 0)
        add(std::to_string(result.leftOut) + (result.leftOut == 1 ? " picture" : " pictures") +
            " did not fit into the album (" + std::to_string(kAlbumCapacity) + " pictures) and " +
            (result.leftOut == 1 ? "was" : "were") + " left out.");
    return text;
}

std::string RecoveryWriteFailedMessage(const std::string& reason) {
    return "Album pictures can no longer be kept safe: " + reason + ".";
}
