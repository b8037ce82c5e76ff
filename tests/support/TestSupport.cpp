#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace talvian::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "talvian-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code error;
    // Tests make folders read-only on purpose; give write access back before removing.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_directory(error))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, error);
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 error);
    std::filesystem::remove_all(path_, error);
}

TemporaryFolderScope::TemporaryFolderScope() {
    if (const char* old = ::getenv("TMPDIR")) previous_ = old;
    ::setenv("TMPDIR", dir_.path().c_str(), 1);
}

TemporaryFolderScope::~TemporaryFolderScope() {
    if (previous_)
        ::setenv("TMPDIR", previous_->c_str(), 1);
    else
        ::unsetenv("TMPDIR");
}

std::vector<std::filesystem::path> TemporaryFolderScope::entries() const {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) found.push_back(entry.path());
    return found;
}

std::uintmax_t TemporaryFolderScope::bytes() const {
    std::uintmax_t total = 0;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(dir_.path(), error), end; !error && it != end;
         it.increment(error)) {
        std::error_code sizeError;
        if (it->is_regular_file(sizeError)) {
            const auto size = it->file_size(sizeError);
            if (!sizeError) total += size;
        }
    }
    return total;
}

int shell(const std::string& command) {
    int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted.push_back(c);
    }
    return quoted + "'";
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream out;
    out << file.rdbuf();
    return out.str();
}

void makeMedia(const std::string& arguments, const std::filesystem::path& output) {
    int status = shell("ffmpeg -nostdin -v error -y " + arguments + " " + shellQuote(output.string()));
    ASSERT_EQ(status, 0) << "ffmpeg failed: " << arguments;
}

}  // namespace talvian::test
