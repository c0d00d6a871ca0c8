// SPDX-License-Identifier: MIT
#include "outputs.h"

#include "files.h"

#include <iostream>

namespace xsim {

// panel.png for the first CRTC, lit or not; panel-<index>.png for every
// other CRTC that is lit.
void writePanel(const qeltest::Session &session, const std::string &outDir)
{
    try {
        session.sim().settle(3);
        for (const qeltest::SimCrtc &crtc : session.sim().crtcs()) {
            if (crtc.index == 0)
                session.sim().capture(0, outDir + "/panel.png");
            else if (crtc.active)
                session.sim().capture(crtc.index,
                                      outDir + "/panel-" + std::to_string(crtc.index) + ".png");
        }
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

} // namespace xsim
