// pixmora-cli: the picture codecs of Pixmora from the command line.
#include <cstdio>
#include <cstring>

namespace {

void PrintUsage(FILE* to) {
    std::fprintf(to,
                 "usage: pixmora-cli --version\n"
                 "       pixmora-cli --help\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("pixmora-cli %s\n", PIXMORA_VERSION);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        PrintUsage(stdout);
        return 0;
    }
    PrintUsage(stderr);
    return 2;
}
