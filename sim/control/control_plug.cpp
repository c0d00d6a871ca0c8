// SPDX-License-Identifier: MIT
// The control request that plugs a display into a connector or pulls it
// out, and then announces the change as the kernel does: a hotplug uevent
// of the card.
#include "connector_plug.h"
#include "control_reply.h"
#include "uevent_sender.h"

namespace qelsim {
namespace {

const char usage[] = "usage: connector <index> <connected|disconnected> [modes...]";

// The modes after the state; a display pulled out offers none.
bool parsePlugModes(const Words &w, std::vector<ModeRequest> &modes)
{
    std::string text;
    for (size_t i = 3; i < w.size(); ++i)
        text += w[i] + " ";
    return parseModes(text, modes) && (w[2] == "connected" || modes.empty());
}

} // namespace

bool controlPlug(const Words &w, Reply &reply, bool &known)
{
    known = w[0] == "connector";
    unsigned index;
    std::vector<ModeRequest> modes;
    if (!known)
        return false;
    if (w.size() < 3 || !parseCount(w[1], index) ||
        (w[2] != "connected" && w[2] != "disconnected") || !parsePlugModes(w, modes))
        return reply.fail(usage);
    Device &d = Device::instance();
    uint32_t connectorId;
    {
        std::lock_guard lock(d.mutex);
        if (index >= d.connectors.size())
            return reply.fail("no connector " + w[1]);
        if (w[2] == "connected")
            plugConnector(d, index, modes);
        else
            unplugConnector(d, index);
        connectorId = d.connectors[index].id;
    }
    // Sent once the new state can be read: a listener asks at once. The
    // first node is the card, on which the kernel announces it.
    const size_t reached = sendHotplugUevent(0, connectorId);
    reply.lines.push_back("uevent listeners=" + std::to_string(reached));
    return true;
}

} // namespace qelsim
