// SPDX-License-Identifier: MIT
// Small file-system helpers the harness builds its run directories with.
#pragma once

#include <string>

namespace qeltest {

std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &contents);
void makeDirs(const std::string &path);
void makeSymlink(const std::string &target, const std::string &link);
bool pathExists(const std::string &path);
void copyFile(const std::string &from, const std::string &to);

// A private directory (mkdtemp) removed with its contents on destruction
// unless kept, so that a failed run leaves its evidence behind.
class TempDir {
public:
    explicit TempDir(const std::string &prefix = "qel-system");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }
    void keep() { keep_ = true; }

private:
    std::string path_;
    bool keep_ = false;
};

} // namespace qeltest
