// SPDX-License-Identifier: MIT
// The Backlight output property on the real Xorg over a sysfs backlight
// class that umockdev shows the server as /sys/class/backlight: which device
// qel binds, what xrandr sees of it, which values reach the brightness file,
// and what happens across a server regeneration.
#include "artifacts.h"
#include "eventually.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using namespace qeltest;

namespace {

// Two CRTCs, a panel and a second connected output, and a disconnected one.
const char *const threeOutputs = R"([device]
[crtc]
[crtc]
[connector]
type = eDP
type_id = 1
status = connected
modes = 1024x768@60
[connector]
type = HDMI-A
type_id = 1
status = connected
modes = 1024x768@60
[connector]
type = DP
type_id = 1
status = disconnected
)";

struct Backlight {
    long value = 0;
    long min = 0, max = 0;
};

// The Backlight property of each output that xrandr --prop lists; outputs
// without one map to nullopt.
std::map<std::string, std::optional<Backlight>> backlightsOf(const std::string &prop)
{
    std::map<std::string, std::optional<Backlight>> outputs;
    std::regex header(R"(^(\S+) (connected|disconnected|unknown connection))");
    std::regex value(R"(^\tBacklight: (-?\d+)\s*$)");
    std::regex range(R"(^\t\trange: \((-?\d+), (-?\d+)\)\s*$)");
    std::istringstream lines(prop);
    std::string line, current;
    bool inBacklight = false;
    std::smatch m;
    while (std::getline(lines, line)) {
        if (std::regex_search(line, m, header)) {
            current = m[1];
            outputs[current] = std::nullopt;
            inBacklight = false;
        } else if (!current.empty() && std::regex_search(line, m, value)) {
            outputs[current] = Backlight{std::stol(m[1]), 0, -1};
            inBacklight = true;
        } else if (inBacklight && std::regex_search(line, m, range)) {
            outputs[current]->min = std::stol(m[1]);
            outputs[current]->max = std::stol(m[2]);
            inBacklight = false;
        } else if (line.rfind("\t", 0) == 0 && line.rfind("\t\t", 0) != 0) {
            inBacklight = false;
        }
    }
    return outputs;
}

class QelBacklight : public SessionTest {
protected:
    void startWith(const std::vector<BacklightDevice> &devices, bool regenerate = false)
    {
        Testbed testbed;
        testbed.simDescription(threeOutputs).option("Accel", "off").reset(regenerate);
        for (const auto &device : devices)
            testbed.backlight(device);
        start(testbed);
    }

    std::string devicePath(const std::string &name, const std::string &file) const
    {
        return session->runDir() + "/testbed/sys/devices/platform/backlight-" + name +
               "/backlight/" + name + "/" + file;
    }

    // The class directory's entries in the order readdir gives them, which
    // is the order the server reads them in.
    std::vector<std::string> classEntries() const
    {
        std::vector<std::string> names;
        DIR *dir = opendir((session->runDir() + "/testbed/sys/class/backlight").c_str());
        if (!dir)
            return names;
        while (dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.')
                names.push_back(entry->d_name);
        closedir(dir);
        return names;
    }

    std::map<std::string, std::optional<Backlight>> query()
    {
        CommandResult prop = session->run({"xrandr", "--prop"});
        EXPECT_TRUE(prop.succeeded()) << prop.describe();
        lastQuery = prop.out;
        return backlightsOf(prop.out);
    }

    CommandResult setBacklight(const std::string &output, const std::string &value)
    {
        return session->run({"xrandr", "--output", output, "--set", "Backlight", value});
    }

    std::string lastQuery;
};

BacklightDevice device(const std::string &name, std::optional<std::string> max,
                       std::optional<std::string> brightness)
{
    return BacklightDevice{name, std::move(max), std::move(brightness)};
}

// Besides "." and "..", a device whose maximum is 0 and one without a
// max_brightness file are passed over for the one usable device, whatever
// the order of the entries.
TEST_F(QelBacklight, EveryOutputBindsTheUsableDevice)
{
    startWith({device("zero", "0\n", "0\n"), device("nomax", std::nullopt, "3\n"),
               device("panel", "255\n", "7\n")});
    ASSERT_FALSE(HasFatalFailure());

    auto outputs = query();
    ASSERT_EQ(outputs.size(), 3u) << lastQuery;
    for (const auto &[name, backlight] : outputs) {
        ASSERT_TRUE(backlight.has_value()) << name << ":\n" << lastQuery;
        EXPECT_EQ(backlight->value, 7) << name;
        EXPECT_EQ(backlight->min, 0) << name;
        EXPECT_EQ(backlight->max, 255) << name;
    }
}

TEST_F(QelBacklight, TheFirstUsableEntryInDirectoryOrderWins)
{
    startWith({device("alpha", "100\n", "10\n"), device("beta", "200\n", "20\n"),
               device("gamma", "300\n", "30\n")});
    ASSERT_FALSE(HasFatalFailure());
    std::vector<std::string> order = classEntries();
    ASSERT_EQ(order.size(), 3u);
    const std::map<std::string, long> maxOf{{"alpha", 100}, {"beta", 200}, {"gamma", 300}};

    auto outputs = query();
    ASSERT_TRUE(outputs["eDP-1"].has_value()) << lastQuery;
    EXPECT_EQ(outputs["eDP-1"]->max, maxOf.at(order.front()))
        << "directory order: " << order.front() << " first";
    EXPECT_EQ(outputs["eDP-1"]->value, maxOf.at(order.front()) / 10);
}

TEST_F(QelBacklight, LevelsInRangeReachTheFileAndOthersAreRefused)
{
    // A sysfs attribute takes each write whole; this plain file of two bytes
    // holds exactly what a two-byte write puts there.
    startWith({device("panel", "255\n", "7\n")});
    ASSERT_FALSE(HasFatalFailure());
    const std::string brightness = devicePath("panel", "brightness");

    CommandResult set = setBacklight("eDP-1", "50");
    ASSERT_TRUE(set.succeeded()) << set.describe();
    EXPECT_EQ(readFile(brightness), "50");
    EXPECT_EQ(query()["eDP-1"]->value, 50) << lastQuery;

    for (const char *refused : {"256", "-1"}) {
        CommandResult bad = setBacklight("eDP-1", refused);
        EXPECT_FALSE(bad.succeeded()) << refused << ": " << bad.describe();
        EXPECT_NE(bad.err.find("BadValue"), std::string::npos) << bad.describe();
        EXPECT_EQ(readFile(brightness), "50") << refused;
    }

    // The second output drives the same device.
    writeFile(brightness, "");
    set = setBacklight("HDMI-A-1", "255");
    ASSERT_TRUE(set.succeeded()) << set.describe();
    EXPECT_EQ(readFile(brightness), "255");
}

TEST_F(QelBacklight, ChangesBehindTheServersBackShowOnTheNextQuery)
{
    startWith({device("panel", "255\n", "7\n")});
    ASSERT_FALSE(HasFatalFailure());

    writeFile(devicePath("panel", "brightness"), "123\n");
    auto outputs = query();
    EXPECT_EQ(outputs["eDP-1"]->value, 123) << lastQuery;
    EXPECT_EQ(outputs["HDMI-A-1"]->value, 123) << lastQuery;
}

TEST_F(QelBacklight, OtherPropertiesAreTheServersToStore)
{
    startWith({device("panel", "255\n", "7\n")});
    ASSERT_FALSE(HasFatalFailure());

    CommandResult set = session->run({"xrandr", "--output", "eDP-1", "--set", "non-desktop", "1"});
    ASSERT_TRUE(set.succeeded()) << set.describe();
    query();
    EXPECT_TRUE(
        std::regex_search(lastQuery, std::regex(R"(eDP-1[^\n]*\n(\t[^\n]*\n)*\tnon-desktop: 1)")))
        << lastQuery;
    EXPECT_EQ(readFile(devicePath("panel", "brightness")), "7\n");
}

TEST_F(QelBacklight, WithoutTheClassDirectoryNoOutputHasTheProperty)
{
    startWith({});
    ASSERT_FALSE(HasFatalFailure());

    auto outputs = query();
    ASSERT_EQ(outputs.size(), 3u) << lastQuery;
    for (const auto &[name, backlight] : outputs)
        EXPECT_FALSE(backlight.has_value()) << name;
    EXPECT_FALSE(setBacklight("eDP-1", "5").succeeded());
}

TEST_F(QelBacklight, WithoutAUsableDeviceNoOutputHasTheProperty)
{
    startWith({device("zero", "0\n", "0\n"), device("nomax", std::nullopt, "3\n"),
               device("negative", "-5\n", "1\n"), device("empty", "", "1\n")});
    ASSERT_FALSE(HasFatalFailure());

    for (const auto &[name, backlight] : query())
        EXPECT_FALSE(backlight.has_value()) << name << ":\n" << lastQuery;
}

// The longest device name whose path still fits the driver's 128-byte field:
// "/sys/class/backlight/" + 91 characters + "/max_brightness" is 127.
TEST_F(QelBacklight, ANameThatFillsThePathFieldIsStillUsed)
{
    startWith({device(std::string(91, 'b'), "64\n", "8\n")});
    ASSERT_FALSE(HasFatalFailure());

    auto outputs = query();
    ASSERT_TRUE(outputs["eDP-1"].has_value()) << lastQuery;
    EXPECT_EQ(outputs["eDP-1"]->max, 64);
    ASSERT_TRUE(setBacklight("eDP-1", "40").succeeded());
    EXPECT_EQ(readFile(devicePath(std::string(91, 'b'), "brightness")), "40");
}

TEST_F(QelBacklight, NamesTooLongForThePathFieldArePassedOver)
{
    startWith({device(std::string(92, 'c'), "64\n", "8\n")});
    ASSERT_FALSE(HasFatalFailure());

    for (const auto &[name, backlight] : query())
        EXPECT_FALSE(backlight.has_value()) << name << ":\n" << lastQuery;
}

// The device chosen in the first generation stays: the next generation
// creates the property again from the stored device with the level the
// file holds then, even though the directory would no longer offer it.
TEST_F(QelBacklight, RegenerationBringsThePropertyBackWithoutChoosingAgain)
{
    startWith({device("panel", "255\n", "7\n")}, true);
    ASSERT_FALSE(HasFatalFailure());
    const SimControl &sim = session->sim();
    ASSERT_TRUE(eventually([&] { return sim.crtcs().at(0).active; }));
    sim.settle(3);

    writeFile(devicePath("panel", "max_brightness"), "0\n");
    writeFile(devicePath("panel", "brightness"), "77\n");
    long created = sim.counter("ioctl_MODE_CREATE_DUMB");
    auto first = query(); // the last client leaving ends the generation
    EXPECT_EQ(first["eDP-1"]->value, 77) << lastQuery;

    ASSERT_TRUE(eventually(
        [&] {
            return sim.counter("ioctl_MODE_CREATE_DUMB") > created &&
                   sim.counter("live_framebuffers") == 1 && sim.crtcs().at(0).active;
        },
        std::chrono::seconds(30)))
        << "no new generation";

    auto second = query();
    ASSERT_EQ(second.size(), 3u) << lastQuery;
    for (const auto &[name, backlight] : second) {
        ASSERT_TRUE(backlight.has_value()) << name << ":\n" << lastQuery;
        EXPECT_EQ(backlight->value, 77) << name;
        EXPECT_EQ(backlight->max, 255) << name;
    }
}

} // namespace
