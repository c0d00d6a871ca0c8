// SPDX-License-Identifier: MIT
#include "uevent_sender.h"

#include "node_stat.h"
#include "reentry_guard.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <glob.h>
#include <optional>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace qelsim {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t monitorMagic = 0xfeedcafe;

// udev's header of a monitor message. The hashes and the tag bloom let a
// listener's socket filter drop what it did not ask for before it is
// queued; like the magic they are in network byte order.
struct MonitorHeader {
    char prefix[8];
    uint32_t magic;
    uint32_t headerSize;
    uint32_t propertiesOffset;
    uint32_t propertiesLength;
    uint32_t subsystemHash;
    uint32_t devtypeHash;
    uint32_t tagBloomHigh;
    uint32_t tagBloomLow;
};

// MurmurHash2 with the length as seed: udev's hash of the subsystem, the
// device type and each tag.
uint32_t udevHash(const std::string &text)
{
    constexpr uint32_t m = 0x5bd1e995;
    const auto *data = reinterpret_cast<const unsigned char *>(text.data());
    size_t len = text.size();
    uint32_t h = static_cast<uint32_t>(len);
    for (; len >= 4; data += 4, len -= 4) {
        uint32_t k;
        std::memcpy(&k, data, 4);
        k *= m;
        k ^= k >> 24;
        k *= m;
        h = h * m ^ k;
    }
    switch (len) {
    case 3: h ^= uint32_t{data[2]} << 16; [[fallthrough]];
    case 2: h ^= uint32_t{data[1]} << 8; [[fallthrough]];
    case 1: h ^= data[0]; h *= m;
    }
    h ^= h >> 13;
    h *= m;
    h ^= h >> 15;
    return h;
}

// Four bits per tag of a ":tag:tag:" list.
uint64_t tagBloom(const std::string &tags)
{
    uint64_t bits = 0;
    std::istringstream in(tags);
    for (std::string tag; std::getline(in, tag, ':');) {
        if (tag.empty())
            continue;
        const uint32_t hash = udevHash(tag);
        for (int shift : {0, 6, 12, 18})
            bits |= uint64_t{1} << ((hash >> shift) & 63);
    }
    return bits;
}

using Properties = std::vector<std::pair<std::string, std::string>>;

struct Node {
    std::string devpath;   // below /sys, starting with "/devices/"
    Properties properties; // udev's, from the node's uevent file
};

// The node's entry in the testbed's sysfs, found as libudev finds a device
// from its number: /sys/dev/char/MAJOR:MINOR links to it.
std::optional<Node> findNode(const std::string &root, uint32_t minor)
{
    std::error_code error;
    const fs::path sys = fs::canonical(root + "/sys", error);
    const fs::path link =
        root + "/sys/dev/char/" + std::to_string(drmMajor) + ":" + std::to_string(minor);
    const fs::path device = error ? fs::path() : fs::canonical(link, error);
    const std::string relative = error ? "" : device.lexically_relative(sys).string();
    if (relative.empty() || relative.rfind("devices/", 0) != 0)
        return std::nullopt;
    Node node{"/" + relative, {}};
    std::ifstream uevent(device / "uevent");
    for (std::string line; std::getline(uevent, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos && eq > 0)
            node.properties.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    return node;
}

std::string valueOf(const Properties &properties, const std::string &key)
{
    for (const auto &[k, v] : properties)
        if (k == key)
            return v;
    return {};
}

// The properties as NUL-terminated KEY=VALUE strings: the kernel's first
// (with the hotplug's own), then what udev added.
std::string propertyBlock(const Node &node, uint32_t connectorId)
{
    static std::atomic<unsigned long long> seqnum{0};
    Properties all{{"ACTION", "change"},
                   {"DEVPATH", node.devpath},
                   {"SUBSYSTEM", "drm"},
                   {"HOTPLUG", "1"},
                   {"CONNECTOR", std::to_string(connectorId)},
                   {"SEQNUM", std::to_string(++seqnum)}};
    for (const auto &property : node.properties)
        if (valueOf(all, property.first).empty())
            all.push_back(property);
    std::string block;
    for (const auto &[key, value] : all)
        block += key + "=" + value + '\0';
    return block;
}

MonitorHeader headerFor(const Node &node, size_t propertiesLength)
{
    const std::string devtype = valueOf(node.properties, "DEVTYPE");
    const uint64_t bloom = tagBloom(valueOf(node.properties, "TAGS"));
    MonitorHeader h{};
    std::memcpy(h.prefix, "libudev", 8);
    h.magic = htonl(monitorMagic);
    h.headerSize = sizeof h;
    h.propertiesOffset = sizeof h;
    h.propertiesLength = static_cast<uint32_t>(propertiesLength);
    h.subsystemHash = htonl(udevHash("drm"));
    h.devtypeHash = devtype.empty() ? 0 : htonl(udevHash(devtype));
    h.tagBloomHigh = htonl(static_cast<uint32_t>(bloom >> 32));
    h.tagBloomLow = htonl(static_cast<uint32_t>(bloom));
    return h;
}

// One datagram to the listener bound at PATH; false when none is there any
// more (its monitor was closed) or its queue is full, as a netlink
// multicast would drop it.
bool sendTo(const std::string &path, const MonitorHeader &header, const std::string &properties)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    iovec parts[2] = {{const_cast<MonitorHeader *>(&header), sizeof header},
                      {const_cast<char *>(properties.data()), properties.size()}};
    msghdr message{};
    message.msg_name = &address;
    message.msg_namelen = sizeof address;
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    const bool sent = sendmsg(fd, &message, MSG_NOSIGNAL) >= 0;
    close(fd);
    return sent;
}

} // namespace

size_t sendHotplugUevent(uint32_t minor, uint32_t connectorId)
{
    ReentryGuard inside;
    const char *root = std::getenv("UMOCKDEV_DIR");
    const std::optional<Node> node = root ? findNode(root, minor) : std::nullopt;
    if (!node)
        return 0;
    const std::string properties = propertyBlock(*node, connectorId);
    const MonitorHeader header = headerFor(*node, properties.size());
    glob_t listeners{};
    size_t reached = 0;
    if (glob((std::string(root) + "/event[0-9]*").c_str(), 0, nullptr, &listeners) == 0)
        for (size_t i = 0; i < listeners.gl_pathc; ++i)
            reached += sendTo(listeners.gl_pathv[i], header, properties) ? 1 : 0;
    globfree(&listeners);
    return reached;
}

} // namespace qelsim
