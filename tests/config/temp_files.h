// A private temporary directory for fixture files, removed with its contents.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TempFiles {
public:
    TempFiles() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tesk_config_XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            dir_ = pattern;
        }
    }
    ~TempFiles() {
        std::error_code ignored;
        if (!dir_.empty()) {
            std::filesystem::remove_all(dir_, ignored);
        }
    }
    TempFiles(const TempFiles&) = delete;
    TempFiles& operator=(const TempFiles&) = delete;

    bool ok() const { return !dir_.empty(); }
    const std::string& dir() const { return dir_; }

    // Writes the bytes as they are (binary) and returns the file's path.
    std::string write(const std::string& name, const std::string& content) const {
        std::string path = dir_ + "/" + name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        EXPECT_TRUE(out.good()) << path;
        return path;
    }

private:
    std::string dir_;
};
