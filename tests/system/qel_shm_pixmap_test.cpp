// SPDX-License-Identifier: MIT
// Shared-memory pixmaps with acceleration on (qel's defaults): MIT-SHM offers
// them, and a pixmap in a client's shared memory takes the server's drawing,
// which the client reads in its own memory.
#include "artifacts.h"
#include "xcb_client.h"

#include <gtest/gtest.h>

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace qeltest;

namespace {

// A System V shared memory segment, removed once the test is done with it.
class SharedMemory {
public:
    explicit SharedMemory(size_t size) : id_(shmget(IPC_PRIVATE, size, IPC_CREAT | 0600))
    {
        if (id_ >= 0)
            address_ = shmat(id_, nullptr, 0);
    }
    ~SharedMemory()
    {
        if (address_ != reinterpret_cast<void *>(-1))
            shmdt(address_);
        if (id_ >= 0)
            shmctl(id_, IPC_RMID, nullptr);
    }
    bool valid() const { return id_ >= 0 && address_ != reinterpret_cast<void *>(-1); }
    int id() const { return id_; }
    uint32_t *words() const { return static_cast<uint32_t *>(address_); }

private:
    int id_;
    void *address_ = reinterpret_cast<void *>(-1);
};

class QelShmPixmap : public SessionTest {
protected:
    void SetUp() override { start(Testbed().panel(1024, 768)); }
};

TEST_F(QelShmPixmap, TheServerDrawsIntoAPixmapInTheClientsMemory)
{
    constexpr int kWidth = 64, kHeight = 48;
    XcbClient x(session->display());
    xcb_connection_t *c = x.connection();

    xcb_shm_query_version_reply_t *version =
        xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr);
    ASSERT_NE(version, nullptr);
    EXPECT_TRUE(version->shared_pixmaps);
    EXPECT_EQ(version->pixmap_format, XCB_IMAGE_FORMAT_Z_PIXMAP);
    free(version);

    SharedMemory memory(kWidth * kHeight * 4);
    ASSERT_TRUE(memory.valid());
    std::memset(memory.words(), 0x5a, kWidth * kHeight * 4);
    uint32_t segment = xcb_generate_id(c);
    xcb_shm_attach(c, segment, static_cast<uint32_t>(memory.id()), 0);
    uint32_t pixmap = xcb_generate_id(c);
    xcb_generic_error_t *error = xcb_request_check(
        c, xcb_shm_create_pixmap_checked(c, pixmap, x.root(), kWidth, kHeight, 24, segment, 0));
    ASSERT_EQ(error, nullptr) << "ShmCreatePixmap failed with error " << int(error->error_code);

    // A fill by software into the pixmap, then a copy of what the GE
    // filled on the screen.
    x.fill({100, 100, 32, 32}, 0x123456);
    uint32_t gc = xcb_generate_id(c);
    uint32_t colour = 0xabcdef;
    xcb_create_gc(c, gc, pixmap, XCB_GC_FOREGROUND, &colour);
    xcb_rectangle_t all{0, 0, kWidth, kHeight};
    xcb_poly_fill_rectangle(c, pixmap, gc, 1, &all);
    xcb_copy_area(c, x.root(), pixmap, gc, 100, 100, 16, 8, 32, 32);
    x.sync();

    auto at = [&](int px, int py) { return memory.words()[py * kWidth + px] & 0xffffff; };
    EXPECT_EQ(at(0, 0), 0xabcdefu);
    EXPECT_EQ(at(15, 39), 0xabcdefu);
    EXPECT_EQ(at(16, 8), 0x123456u);
    EXPECT_EQ(at(47, 39), 0x123456u);
    EXPECT_EQ(at(48, 40), 0xabcdefu);
    EXPECT_EQ(at(kWidth - 1, kHeight - 1), 0xabcdefu);

    xcb_free_gc(c, gc);
    xcb_free_pixmap(c, pixmap);
    xcb_shm_detach(c, segment);
    x.sync();
}

} // namespace
