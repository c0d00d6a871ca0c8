/* SPDX-License-Identifier: MIT */
/* Cost of queuing one solid fill: EXA's Solid hook in a loop on one
 * prepared destination, with the simulator as the kernel. The loop queues
 * fewer operations than one batch holds, so that the measured function
 * covers the queue path alone; the batches go to the GE outside it.
 *
 *     valgrind --tool=callgrind --toggle-collect=qelSolid bench_solid_queue
 *
 * (bench/solid-cost runs exactly that and writes the figure per operation.)
 *
 * No X server runs here: the GE record stands on its own, and the few
 * server entry points the queue path reaches are in server_stand_ins.c. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "ge/ge.h"
#include "qelsim.h"
#include "server_stand_ins.h"

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

static Bool
openGe(qelGe *ge)
{
    if (qelsim_configure(NULL) != 0)
        return FALSE;
    ge->fd = open("/dev/dri/card0", O_RDWR | O_CLOEXEC);
    return ge->fd >= 0 && qelGeQueueAlloc(ge);
}

static Bool
makeDestination(qelGe *ge, PixmapPtr pixmap)
{
    qelBo *bo = qelBoCreate(ge->fd, WIDTH, HEIGHT);

    if (!bo || !qelBoGetMap(ge->fd, bo))
        return FALSE;
    benchDestination = (qelPixmapPriv) {.bo = bo, .pitch = bo->pitch};
    pixmap->drawable.depth = 24;
    pixmap->drawable.bitsPerPixel = 32;
    pixmap->drawable.width = WIDTH;
    pixmap->drawable.height = HEIGHT;
    return TRUE;
}

int
main(void)
{
    static qelGe ge;
    static void *screenPrivates[1];
    static ScreenRec screen = {.devPrivates = (PrivatePtr) screenPrivates};
    static PixmapRec pixmap = {.drawable = {.pScreen = &screen}};
    long ops;
    char reply[4096];

    if (!openGe(&ge) || !qelGeAttach(&screen, &ge) || !makeDestination(&ge, &pixmap)) {
        fprintf(stderr, "bench_solid_queue: no simulated device\n");
        return 1;
    }
    if (!qelPrepareSolid(&pixmap, GXcopy, ~0u, 0x00336699))
        return 1;

    for (int run = 0; run < RUNS; run++) {
        queueSolidRun(&pixmap, run);
        qelGeFlush(&ge);
    }

    qelsim_command("counters", reply, sizeof(reply));
    ops = strstr(reply, "ge_ops=") ? atol(strstr(reply, "ge_ops=") + 7) : -1;
    printf("ops_measured=%d\nge_ops=%ld\n", opsMeasured, ops);

    qelBoDestroy(ge.fd, benchDestination.bo);
    qelGeQueueFree(&ge);
    close(ge.fd);
    return ops == opsMeasured ? 0 : 1;
}
