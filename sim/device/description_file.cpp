// SPDX-License-Identifier: MIT
#include "description_file.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qelsim {

DeviceDescription loadDescriptionFromEnvironment()
{
    const char *path = std::getenv("QELSIM_CONFIG");
    if (!path || !*path)
        return defaultDescription();
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    DeviceDescription d;
    std::string error = "cannot read the file";
    if (!in || !parseDescription(text.str(), d, error)) {
        std::fprintf(stderr, "qelsim: %s: %s\n", path, error.c_str());
        std::_Exit(2);
    }
    return d;
}

} // namespace qelsim
