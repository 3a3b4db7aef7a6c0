// Helpers shared by the core tests (and the benchmarks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The public decoder corpus beside the project (../shared/corpus), or "" when
// it is absent (a fresh clone): tests that need it skip.
std::string CorpusDir();
// A path usable by fopen on this platform (Unix paths get the Z: drive under Wine).
std::string NativePath(const std::string& unixPath);
// A fresh scratch directory for files written by a test.
std::string ScratchDir();

// Writes `bytes` as ScratchDir()/name (a fresh folder each call); the path, native.
std::string WriteScratchFile(const std::string& name, const std::vector<uint8_t>& bytes);

// The whole file; empty when it cannot be read.
std::vector<uint8_t> ReadFile(const std::string& path);

// A binary PPM (P6, 255 levels): the corpus' reference decodes.
struct Ppm {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb; // top row first, red-green-blue
};
bool ReadPpm(const std::string& path, Ppm& ppm);

// The rows of <corpus>/<format>/MANIFEST.tsv, each as its tab-separated
// cells (file, bytes, ..., expectation, ref: nine at least), without the
// line of column names. Empty without the corpus.
std::vector<std::vector<std::string>> ReadCorpusManifest(const std::string& format);

// The files the fuzzer of one format once tripped over, committed in
// tests/data/<format>/regressions/ (the fuzzers' seeds too), sorted by name.
std::vector<std::string> RegressionFiles(const std::string& format);

// FNV-1a, to pin exact output bytes across targets. The 64-bit form goes on
// from `h`, so a picture can be hashed row by row.
uint32_t Fnv1a(const uint8_t* p, size_t n);
constexpr uint64_t kFnv1a64Basis = 1469598103934665603ull;
uint64_t Fnv1a64(const uint8_t* p, size_t n, uint64_t h = kFnv1a64Basis);
