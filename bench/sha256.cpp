// Prints the file's digest as MediaFingerprint computes it, like "sha256sum FILE" does,
// so bench/sha256.sh can time both on the same file.
#include <cstdio>

#include "Support/MediaFingerprint.h"
#include "ToolRun.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    return talvian::bench::runCancellableTool([&](const talvian::CancellationToken& token) {
        std::printf("%s\n", talvian::MediaFingerprint::sha256(argv[1], *token).c_str());
        return 0;
    });
}
