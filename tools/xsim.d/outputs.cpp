#include "outputs.h"

#include "files.h"

#include <iostream>

namespace xsim {

void writePanel(const qeltest::Session &session, const std::string &outDir)
{
    try {
        session.sim().settle(3);
        session.sim().capture(0, outDir + "/panel.png");
    } catch (const std::exception &error) {
        std::cerr << "xsim: no panel.png: " << error.what() << "\n";
    }
}

void writeServerRecords(const std::string &runDir, const std::string &outDir)
{
    for (const char *name : {"Xorg.log", "sim-stats"}) {
        std::string from = runDir + "/" + name;
        if (qeltest::pathExists(from))
            qeltest::copyFile(from, outDir + "/" + name);
        else
            std::cerr << "xsim: the run left no " << name << "\n";
    }
}

}  // namespace xsim
