// SPDX-License-Identifier: MIT
// The device description: what a simulated device consists of, read from the
// text format documented in README.md.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qelsim {

struct ModeRequest {
    uint32_t width = 0, height = 0, refresh = 60;
};

struct CrtcDescription {
    uint32_t gammaSize = 256;
    // The largest image the CRTC's cursor plane shows; 0x0: no cursor plane.
    uint32_t cursorWidth = 64, cursorHeight = 64;
    // Where the CRTC's vblank counter starts, as after a long uptime (a
    // count near 2^32 shows how clients take the 32-bit wrap).
    uint64_t vblankCount = 0;
};

struct ConnectorDescription {
    uint32_t type = 14; // eDP
    uint32_t typeId = 1;
    uint32_t status = 1; // connected
    uint32_t mmWidth = 154, mmHeight = 86;
    std::vector<ModeRequest> modes{{1024, 768, 60}};
    bool edid = true;
};

struct DeviceDescription {
    // The kernel driver's name, as DRM_IOCTL_VERSION reports it; the X
    // server matches OutputClass sections against it.
    std::string driver = "tx3120";
    std::vector<std::string> nodes{"/dev/dri/card0"};
    uint32_t minWidth = 0, minHeight = 0;
    uint32_t maxWidth = 4096, maxHeight = 4096;
    uint32_t pitchAlign = 64;
    bool manualVblank = false;
    bool threadedGe = false;
    unsigned geDelayUs = 0;
    std::vector<CrtcDescription> crtcs;
    std::vector<ConnectorDescription> connectors;
};

// The description used when none is given: one CRTC driving a connected
// 1024x768 eDP panel.
DeviceDescription defaultDescription();

// Parses TEXT; on a malformed line returns false and says why in ERROR.
// A text without any [crtc] or [connector] section gets the default
// device's; otherwise the sections listed are all there is.
bool parseDescription(const std::string &text, DeviceDescription &out, std::string &error);

// A space-separated list of modes, WIDTHxHEIGHT[@REFRESH] each (60 Hz when
// not given); false when a word is not a mode.
bool parseModes(const std::string &text, std::vector<ModeRequest> &modes);

// Connector type number for a libdrm type name ("eDP", "HDMI-A") or a number.
bool connectorTypeFromName(const std::string &name, uint32_t &type);

} // namespace qelsim
