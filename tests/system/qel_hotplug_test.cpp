// SPDX-License-Identifier: MIT
// Displays plugged in and pulled out while the real Xorg runs: clients that
// listen to RandR hear of it at once, without anyone polling, in every
// server generation; a plugged display can be lit beside the panel, or on a
// board that started without any; a display pulled out while lit leaves
// its CRTC configured and the other display updating.
#include "artifacts.h"
#include "displays.h"
#include "eventually.h"
#include "xcb_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include <poll.h>
#include <xcb/randr.h>

using namespace qeltest;

namespace {

// A panel, and an HDMI connector with nothing plugged in or with a monitor.
std::string panelAndHdmi(const char *hdmiStatus, const char *hdmiModes)
{
    return std::string("[device]\n[crtc]\n[crtc]\n"
                       "[connector]\ntype = eDP\ntype_id = 1\nmodes = 1024x768@60 800x600@60\n"
                       "[connector]\ntype = HDMI-A\ntype_id = 1\nstatus = ") +
           hdmiStatus + "\nmodes = " + hdmiModes + "\n";
}

// A client that selected RandR's screen and output change events on the
// root window. It asks only for the current resources, which make the
// server probe nothing.
class RandrListener {
public:
    explicit RandrListener(const std::string &display) : client_(display)
    {
        xcb_connection_t *c = client_.connection();
        free(xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
        firstEvent_ = xcb_get_extension_data(c, &xcb_randr_id)->first_event;
        xcb_randr_select_input(c, client_.root(),
                               XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE |
                                   XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
        client_.sync();
    }

    xcb_randr_output_t output(const std::string &name)
    {
        xcb_connection_t *c = client_.connection();
        auto *resources = xcb_randr_get_screen_resources_current_reply(
            c, xcb_randr_get_screen_resources_current(c, client_.root()), nullptr);
        xcb_randr_output_t found = XCB_NONE;
        const xcb_randr_output_t *outputs =
            xcb_randr_get_screen_resources_current_outputs(resources);
        for (int i = 0; found == XCB_NONE && i < resources->num_outputs; ++i) {
            auto *info = xcb_randr_get_output_info_reply(
                c, xcb_randr_get_output_info(c, outputs[i], resources->config_timestamp), nullptr);
            const char *text = reinterpret_cast<const char *>(xcb_randr_get_output_info_name(info));
            if (name == std::string(text, xcb_randr_get_output_info_name_length(info)))
                found = outputs[i];
            free(info);
        }
        free(resources);
        return found;
    }

    // Waits until the output's change to that connection state and a
    // screen change have both been announced.
    bool awaitChange(xcb_randr_output_t output, uint8_t connection)
    {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(10) * defaultPaths().slowdown;
        bool outputChanged = false, screenChanged = false;
        while (!(outputChanged && screenChanged)) {
            std::unique_ptr<xcb_generic_event_t, decltype(&free)> event(nextEvent(deadline), free);
            if (!event)
                return false;
            const uint8_t type = event->response_type & 0x7f;
            screenChanged |= type == firstEvent_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY;
            if (type == firstEvent_ + XCB_RANDR_NOTIFY) {
                auto *notify = reinterpret_cast<xcb_randr_notify_event_t *>(event.get());
                outputChanged |= notify->subCode == XCB_RANDR_NOTIFY_OUTPUT_CHANGE &&
                                 notify->u.oc.output == output &&
                                 notify->u.oc.connection == connection;
            }
        }
        return true;
    }

private:
    xcb_generic_event_t *nextEvent(std::chrono::steady_clock::time_point deadline)
    {
        xcb_connection_t *c = client_.connection();
        for (;;) {
            if (xcb_generic_event_t *event = xcb_poll_for_event(c))
                return event;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || xcb_connection_has_error(c))
                return nullptr;
            pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
            poll(&fd, 1, static_cast<int>(left.count()));
        }
    }

    XcbClient client_;
    uint8_t firstEvent_ = 0;
};

class Hotplug : public SessionTest {
protected:
    void startWith(const std::string &description)
    {
        start(Testbed().simDescription(description));
        if (!HasFatalFailure())
            listen();
    }

    void listen() { listener = std::make_unique<RandrListener>(session->display()); }

    // The simulator's plug or unplug, which reaches the server's listeners.
    void connector(int index, const std::string &state)
    {
        SimReply reply = session->sim().command("connector " + std::to_string(index) + " " + state);
        EXPECT_NE(reply.values()["listeners"], "0") << "no uevent listener in the server";
    }

    std::string xrandr(const std::vector<std::string> &args = {})
    {
        std::vector<std::string> argv{"xrandr"};
        argv.insert(argv.end(), args.begin(), args.end());
        CommandResult result = session->run(argv);
        EXPECT_TRUE(result.succeeded()) << result.describe();
        return result.out;
    }

    long counter(const std::string &name) const { return session->sim().counter(name); }

    std::unique_ptr<RandrListener> listener;
};

TEST_F(Hotplug, ListeningClientsHearOfAPlugAndAnUnplugWithoutPolling)
{
    startWith(panelAndHdmi("disconnected", "1280x1024@60 1024x768@60"));
    ASSERT_FALSE(HasFatalFailure());
    xcb_randr_output_t hdmi = listener->output("HDMI-A-1");
    ASSERT_NE(hdmi, XCB_NONE);

    connector(1, "connected");
    EXPECT_TRUE(listener->awaitChange(hdmi, XCB_RANDR_CONNECTION_CONNECTED));
    std::string listed = xrandr();
    EXPECT_NE(listed.find("HDMI-A-1 connected"), std::string::npos) << listed;
    EXPECT_NE(listed.find("1280x1024"), std::string::npos) << listed;
    EXPECT_NE(session->log().find("Hotplug: output HDMI-A-1 connected"), std::string::npos);

    connector(1, "disconnected");
    EXPECT_TRUE(listener->awaitChange(hdmi, XCB_RANDR_CONNECTION_DISCONNECTED));
    listed = xrandr();
    EXPECT_NE(listed.find("HDMI-A-1 disconnected"), std::string::npos) << listed;
    EXPECT_EQ(listed.find("1280x1024"), std::string::npos) << listed;
}

// A display plugged in while the server's VT is away is not announced
// then (another session has the displays), but at once when the VT comes
// back, without any client asking.
TEST_F(Hotplug, ADisplayPluggedWhileTheVtIsAwayIsAnnouncedOnTheReturn)
{
    startWith(panelAndHdmi("disconnected", "1280x1024@60"));
    ASSERT_FALSE(HasFatalFailure());
    xcb_randr_output_t hdmi = listener->output("HDMI-A-1");
    const int serverVt = session->sim().vt().server;
    ASSERT_NE(serverVt, 0);

    session->switchVt(1);
    connector(1, "connected");
    session->switchVt(serverVt);
    EXPECT_TRUE(listener->awaitChange(hdmi, XCB_RANDR_CONNECTION_CONNECTED));
    std::string listed = xrandr();
    EXPECT_NE(listed.find("HDMI-A-1 connected"), std::string::npos) << listed;
}

// Each generation of the server listens anew: the one that ended leaves
// nothing behind that an event could reach.
TEST_F(Hotplug, AfterARegenerationPlugsAreStillHeard)
{
    start(Testbed().simDescription(panelAndHdmi("disconnected", "1280x1024@60")).reset(true));
    ASSERT_FALSE(HasFatalFailure());
    const SimControl &sim = session->sim();
    long created = sim.counter("ioctl_MODE_CREATE_DUMB");
    // The last client leaving makes the server regenerate.
    XcbClient(session->display()).sync();
    ASSERT_TRUE(eventually([&] { return sim.counter("ioctl_MODE_CREATE_DUMB") > created; },
                           std::chrono::seconds(30)));

    listen();
    connector(1, "connected");
    EXPECT_TRUE(
        listener->awaitChange(listener->output("HDMI-A-1"), XCB_RANDR_CONNECTION_CONNECTED));
}

// The monitor is larger than the panel, and beside it the screen is wider
// than the GE addresses: the screen grows for both.
TEST_F(Hotplug, APluggedDisplayIsLitByXrandrAutoAndCanBePlacedBesideThePanel)
{
    startWith(panelAndHdmi("disconnected", "1280x1024@60 1024x768@60"));
    ASSERT_FALSE(HasFatalFailure());
    connector(1, "connected");
    ASSERT_TRUE(
        listener->awaitChange(listener->output("HDMI-A-1"), XCB_RANDR_CONNECTION_CONNECTED));

    xrandr({"--auto"});
    ASSERT_EQ(litDisplays(*session).size(), 2u);
    drawAcrossDisplays(*session, 1);
    expectEveryDisplayShowsTheScreen(*session);

    xrandr({"--output", "HDMI-A-1", "--right-of", "eDP-1"});
    std::vector<Placement> lit = litDisplays(*session);
    ASSERT_EQ(lit.size(), 2u);
    EXPECT_EQ(lit[1].x, 1024);
    drawAcrossDisplays(*session, 2);
    expectEveryDisplayShowsTheScreen(*session);
}

// A board whose only connector has nothing plugged in starts with a screen
// of its own, and lights the display plugged in later.
TEST_F(Hotplug, ABoardStartedWithoutADisplayLightsTheOnePluggedInLater)
{
    startWith("[device]\n[crtc]\n[connector]\ntype = HDMI-A\ntype_id = 1\n"
              "status = disconnected\nmodes = 1280x1024@60\n");
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_TRUE(litDisplays(*session).empty());
    connector(0, "connected");
    ASSERT_TRUE(
        listener->awaitChange(listener->output("HDMI-A-1"), XCB_RANDR_CONNECTION_CONNECTED));

    xrandr({"--auto"});
    ASSERT_EQ(litDisplays(*session).size(), 1u);
    drawAcrossDisplays(*session, 5);
    expectEveryDisplayShowsTheScreen(*session);
}

// The panel's display goes while both are lit: the panel's output keeps
// its CRTC, which keeps showing the screen, and the monitor goes on
// flipping; once a client reconfigures, the monitor is the one display.
TEST_F(Hotplug, PullingOutALitDisplayLeavesTheOtherUpdating)
{
    startWith(panelAndHdmi("connected", "1024x768@60"));
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(litDisplays(*session).size(), 2u);

    connector(0, "disconnected");
    ASSERT_TRUE(
        listener->awaitChange(listener->output("eDP-1"), XCB_RANDR_CONNECTION_DISCONNECTED));
    EXPECT_EQ(litDisplays(*session).size(), 2u);
    long monitorFlips = counter("flips_completed_crtc1");
    drawAcrossDisplays(*session, 3);
    expectEveryDisplayShowsTheScreen(*session);
    EXPECT_GT(counter("flips_completed_crtc1"), monitorFlips);

    xrandr({"--auto"});
    ASSERT_EQ(litDisplays(*session).size(), 1u);
    drawAcrossDisplays(*session, 4);
    expectEveryDisplayShowsTheScreen(*session);
}

} // namespace
