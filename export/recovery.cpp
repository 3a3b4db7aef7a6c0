#include "export/recovery.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "export/folder_files.h"

namespace {

constexpr char kStoreName[] = "Recovery"; // the store's folder inside the application-data folder
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

// On the disk before it is closed: a picture before an index names it.
bool WriteFileBytes(const std::string& path, const uint8_t* bytes, size_t length) {
    return WriteWholeFile(path, bytes, length);
}

bool WriteIndex(const RecoveryStore& store, uint32_t sequence, const std::vector<uint64_t>& order) {
    std::vector<uint8_t> b(kIndexMagic, kIndexMagic + 8);
    PutU32(b, sequence);
    PutU32(b, static_cast<uint32_t>(order.size()));
    for (uint64_t h : order)
        PutU64(b, h);
    PutU64(b, Hash64(b.data(), b.size()));
    return WriteFileBytes(IndexPath(store, sequence), b.data(), b.size());
}

// A picture file is written under a temporary name and then renamed, so its
// final name never holds part of a picture.
bool WritePicture(const RecoveryStore& store, uint64_t hash, const FrameImage& picture) {
    std::string final = PathOf(store, PictureName(hash));
    std::string temp = final.substr(0, final.size() - 4) + ".tmp";
    if (!WriteFileBytes(temp, picture.bytes, kFrameImageSize)) return false;
    std::remove(final.c_str()); // a damaged leftover of the same name
    if (std::rename(temp.c_str(), final.c_str()) == 0) return true;
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

} // namespace

void OpenRecoveryStore(RecoveryStore& store, const std::string& appDataFolder, char separator) {
    store = RecoveryStore{};
    store.separator = separator;
    store.folder = JoinPath(appDataFolder, kStoreName, separator);
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
    bool good[2];
    for (int i = 0; i < 2; ++i)
        good[i] = ReadIndex(IndexPath(store, static_cast<uint32_t>(i)), seq[i], order[i]) ==
                  IndexState::kGood;
    int newer = good[0] && (!good[1] || seq[0] > seq[1]) ? 0 : good[1] ? 1 : -1;
    if (newer < 0) return;
    store.sequence = seq[newer];
    store.current = order[newer];
    if (good[1 - newer]) store.previous = order[1 - newer];
}

RecoveryReadResult ReadRecoveryAlbum(RecoveryStore& store, AlbumStore& album) {
    RecoveryReadResult r;
    if (store.sequence == 0) {
        uint32_t s;
        std::vector<uint64_t> o;
        r.damagedIndex = ReadIndex(IndexPath(store, 0), s, o) == IndexState::kDamaged ||
                         ReadIndex(IndexPath(store, 1), s, o) == IndexState::kDamaged;
        return r;
    }
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

bool UpdateRecoveryStore(RecoveryStore& store, const AlbumStore& album) {
    std::vector<uint64_t> order;
    order.reserve(album.count);
    for (int i = 0; i < album.count; ++i)
        order.push_back(PictureHash(*album.block[i]));
    if (order == store.current && (store.sequence != 0 || order.empty())) return true;

    std::string parent = store.folder.substr(0, store.folder.size() - std::strlen(kStoreName));
    if (!MakeFolder(parent) || !MakeFolder(store.folder)) return false;
    for (int i = 0; i < album.count; ++i) {
        uint64_t hash = order[i];
        if (Contains(store.checked, hash)) continue;
        if (!WritePicture(store, hash, *album.block[i])) return false;
        store.checked.push_back(hash);
        if (!Contains(store.present, hash)) store.present.push_back(hash);
    }
    // The pictures' names too, before the index names them.
    if (!FlushFolder(store.folder) || !WriteIndex(store, store.sequence + 1, order)) return false;
    ++store.sequence;
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

void ClearRecoveryStore(RecoveryStore& store) {
    std::remove(IndexPath(store, 0).c_str());
    std::remove(IndexPath(store, 1).c_str());
    std::vector<std::string> names;
    ListFolder(store.folder, names);
    for (const std::string& name : names) {
        uint64_t hash;
        if (ParsePictureName(name, hash)) std::remove(PathOf(store, name).c_str());
    }
    // The sequence goes on, so an index that could not be deleted never wins again.
    store.current.clear();
    store.previous.clear();
    store.checked.clear();
    store.present.clear();
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
    if (result.damagedIndex) add("The recovery album was damaged and could not be read.");
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
