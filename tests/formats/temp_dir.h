// A scratch directory per test, removed afterwards.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tesk_formats_XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) != nullptr) {
            path_ = buffer.data();
        }
    }
    ~TempDir() {
        std::error_code error;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, error);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    // Writes `size` bytes of a counting pattern and returns the full path.
    std::string write(const std::string& name, size_t size) const {
        std::string full = file(name);
        std::ofstream out(full, std::ios::binary);
        for (size_t i = 0; i < size; ++i) {
            out.put(static_cast<char>(i & 0xFF));
        }
        return full;
    }

private:
    std::string path_;
};
