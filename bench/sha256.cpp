// Prints the file's digest as MediaFingerprint computes it, like "sha256sum FILE" does,
// so bench/sha256.sh can time both on the same file.
#include <cstdio>
#include <exception>

#include "Model/MediaFingerprint.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    try {
        talvian::Cancellation token;
        std::printf("%s\n", talvian::MediaFingerprint::sha256(argv[1], token).c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
