// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the test. enter() makes it the current
// directory until the end of the test.
#ifndef VENDRA_TESTS_SUPPORT_SCRATCHDIRECTORY_H
#define VENDRA_TESTS_SUPPORT_SCRATCHDIRECTORY_H

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>

class ScratchDirectory {
  public:
    ScratchDirectory() {
        std::random_device seed;
        std::mt19937_64 pick(seed());
        const auto base = std::filesystem::temp_directory_path();
        do {
            path_ = base / ("vendra-test-" + std::to_string(pick()));
        } while (!std::filesystem::create_directory(path_));
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        if (!previous_.empty()) {
            std::filesystem::current_path(previous_, ignored);
        }
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    void enter() {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }

  private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

inline std::string readWholeFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeWholeFile(const std::filesystem::path& file, const std::string& content) {
    std::ofstream(file, std::ios::binary) << content;
}

#endif
