/* Cost of queuing one solid fill: EXA's Solid hook in a loop on one
 * prepared destination, with the simulator as the kernel. The loop queues
 * fewer operations than one batch holds, so that the measured function
 * covers the queue path alone; the batches go to the GE outside it.
 *
 *     valgrind --tool=callgrind --toggle-collect=qelSolid bench_solid_queue
 *
 * (bench/solid-cost runs exactly that and writes the figure per operation.) */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "fake_screen.h"
#include "ge/ge.h"
#include "micmap.h"
#include "qelsim.h"

#define RUNS 50
#define OPS_PER_RUN 1000
#define WIDTH 1024
#define HEIGHT 768

/* What the measurement divides by; printed for the script. */
static const int opsMeasured = RUNS * OPS_PER_RUN;

/* Fills of 40 x 40: large enough for the GE (smaller ones the CPU does at
 * once, past the queue). */
#define FILL_SIZE 40

__attribute__((noinline)) void
queueSolidRun(PixmapPtr pixmap, int run)
{
    for (int i = 0; i < OPS_PER_RUN; i++) {
        int x = (i * 37 + run) % (WIDTH - FILL_SIZE);
        int y = (i * 11) % (HEIGHT - FILL_SIZE);

        qelSolid(pixmap, x, y, x + FILL_SIZE, y + FILL_SIZE);
    }
}

static qelScreenPriv *
openDevice(ScrnInfoRec *scrn)
{
    qelScreenPriv *priv = calloc(1, sizeof(*priv));

    if (!priv || qelsim_configure(NULL) != 0)
        return NULL;
    priv->fd = open("/dev/dri/card0", O_RDWR | O_CLOEXEC);
    priv->accel = TRUE;
    /* No screen buffer here: every pixmap gets its own. */
    priv->screenBoClaimed = TRUE;
    priv->opCapacity = GE_MAX_OPS;
    priv->ops = calloc(GE_MAX_OPS, sizeof(qelGeOp));
    if (priv->fd < 0 || !priv->ops)
        return NULL;
    scrn->driverPrivate = priv;
    scrn->depth = 24;
    scrn->virtualX = WIDTH;
    scrn->virtualY = HEIGHT;
    return priv;
}

int
main(void)
{
    static ScrnInfoRec scrn;
    qelScreenPriv *priv = openDevice(&scrn);
    ScreenPtr screen;
    PixmapPtr pixmap;
    void *pixPriv;
    int pitch = 0;
    long ops;
    char reply[4096];

    if (!priv) {
        fprintf(stderr, "bench_solid_queue: no simulated device\n");
        return 1;
    }
    screen = fakeScreenCreate(&scrn);
    if (!miSetVisualTypes(24, TrueColorMask, 8, TrueColor) ||
        !fbScreenInit(screen, NULL, WIDTH, HEIGHT, 96, 96, WIDTH, 32))
        return 1;
    pixmap = screen->CreatePixmap(screen, 0, 0, 24, 0);
    pixPriv = qelCreatePixmap2(screen, WIDTH, HEIGHT, 24, 0, 32, &pitch);
    if (!pixPriv)
        return 1;
    fakeExaSetPixmapPriv(pixmap, pixPriv);
    if (!qelModifyPixmapHeader(pixmap, WIDTH, HEIGHT, 24, 32, pitch, NULL) ||
        !qelPrepareSolid(pixmap, GXcopy, ~0u, 0x00336699))
        return 1;

    for (int run = 0; run < RUNS; run++) {
        queueSolidRun(pixmap, run);
        qelGeFlush(priv);
    }

    qelsim_command("counters", reply, sizeof(reply));
    ops = strstr(reply, "ge_ops=") ? atol(strstr(reply, "ge_ops=") + 7) : -1;
    printf("ops_measured=%d\nge_ops=%ld\n", opsMeasured, ops);

    qelDestroyPixmap(screen, pixPriv);
    fakeExaSetPixmapPriv(pixmap, NULL);
    screen->DestroyPixmap(pixmap);
    fakeReset();
    free(priv->ops);
    close(priv->fd);
    free(priv);
    return ops == opsMeasured ? 0 : 1;
}
