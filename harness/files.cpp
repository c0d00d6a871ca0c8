// SPDX-License-Identifier: MIT
#include "files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace qeltest {

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void writeFile(const std::string &path, const std::string &contents)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void makeDirs(const std::string &path)
{
    fs::create_directories(path);
}

void makeSymlink(const std::string &target, const std::string &link)
{
    fs::create_symlink(target, link);
}

bool pathExists(const std::string &path)
{
    std::error_code ignored;
    return fs::exists(fs::symlink_status(path, ignored));
}

void copyFile(const std::string &from, const std::string &to)
{
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

TempDir::TempDir(const std::string &prefix)
{
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        throw std::runtime_error("mkdtemp failed for " + pattern);
    path_ = buffer.data();
}

TempDir::~TempDir()
{
    if (keep_)
        return;
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

} // namespace qeltest
