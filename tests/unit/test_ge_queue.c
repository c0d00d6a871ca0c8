/* SPDX-License-Identifier: MIT */
/* The GE operation queue against the simulated GE: batching rules, the
 * wire format the kernel receives, which buffers a batch reads and writes,
 * which CPU accesses wait for it, and the handling of refused submissions
 * and waits. */
#include <errno.h>
#include <fcntl.h>
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cmocka.h>

#include "ge/ge.h"
#include "kms_fixture.h"
#include "ge/reserve.h"
#include "qelsim.h"

#define REPLY_SIZE 262144

typedef struct queueFixture {
    kmsFixture *kms;
    qelScreenPriv *priv;
    qelBo *a;
    qelBo *b;
    qelBo *c;
} queueFixture;

static qelBo *
mappedBo(qelScreenPriv *priv, int width, int height)
{
    qelBo *bo = qelBoCreate(priv->fd, width, height);

    assert_non_null(bo);
    assert_non_null(qelBoGetMap(priv->fd, bo));
    return bo;
}

static int
setUp(void **state)
{
    queueFixture *f = calloc(1, sizeof(*f));

    assert_non_null(f);
    f->kms = kmsFixtureCreate(NULL);
    f->priv = f->kms->priv;
    assert_true(qelGeQueueAlloc(&f->priv->ge));
    f->a = mappedBo(f->priv, 1024, 64);
    f->b = mappedBo(f->priv, 1024, 64);
    f->c = mappedBo(f->priv, 64, 64);
    simCommandOk("ge-log clear");
    simCommandOk("ge-log on");
    forgetMessages();
    *state = f;
    return 0;
}

static int
tearDown(void **state)
{
    queueFixture *f = *state;

    simCommandOk("ge-log off");
    simCommandOk("ge-mode sync");
    qelBoDestroy(f->priv->fd, f->a);
    qelBoDestroy(f->priv->fd, f->b);
    qelBoDestroy(f->priv->fd, f->c);
    qelGeQueueFree(&f->priv->ge);
    kmsFixtureDestroy(f->kms);
    free(f);
    return 0;
}

static void
expectMessageAt(int index, int level, const char *text)
{
    assert_int_equal(fakeMessageAt(index)->level, level);
    assert_string_equal(fakeMessageAt(index)->text, text);
}

static void
queueFill(qelScreenPriv *priv, qelBo *dst, int x, int y, int w, int h, uint32_t color)
{
    qelGeOp *op = qelGeReserve(&priv->ge, dst, NULL, (uint32_t) (w * h));

    *op = (qelGeOp) {
        .type = TX3120_GE_OP_SOLID, .rop = TX3120_GE_ROP_PATTERN, .dst_handle = dst->handle,
        .dst_pitch = dst->pitch, .dst_x = x, .dst_y = y, .width = w, .height = h,
        .fill_color = color,
    };
}

static uint32_t
pixel(const qelBo *bo, int x, int y)
{
    return *(const uint32_t *) ((const char *) bo->map + (size_t) y * bo->pitch + x * 4);
}

/* The submit log of the simulated GE, one line per GE_SUBMIT it received. */
static char *
submitLog(void)
{
    static char reply[REPLY_SIZE];

    assert_int_equal(qelsim_command("ge-log", reply, sizeof(reply)), 0);
    return reply;
}

static int
submitCount(void)
{
    int n = 0;

    for (const char *p = submitLog(); (p = strstr(p, "submit count=")); p++)
        n++;
    return n;
}

static void
kernel_receives_the_records_word_for_word(void **state)
{
    queueFixture *f = *state;
    char expected[512];

    queueFill(f->priv, f->a, 2, 3, 10, 5, 0x00FF0000);
    qelGeCopyRect(&f->priv->ge, f->b, 8, 8, f->a, 8, 8, 4, 4);
    qelGeCopyRect(&f->priv->ge, f->b, 0, 0, f->a, 0, 0, 1, 1);
    qelGeFlush(&f->priv->ge);

    snprintf(expected, sizeof(expected),
             "submit count=3 reserved0=0 seqno=0 reserved1=0 "
             "ops=[1,240,%u,4096,2,3,10,5,16711680,0,0,0,0] "
             "[2,204,%u,4096,8,8,4,4,0,%u,4096,8,8] "
             "[2,204,%u,4096,0,0,1,1,0,%u,4096,0,0]",
             f->a->handle, f->a->handle, f->b->handle, f->a->handle, f->b->handle);
    assert_non_null(strstr(submitLog(), expected));
    assert_int_equal(pixel(f->a, 2, 3), 0x00FF0000);
    assert_int_equal(pixel(f->a, 11, 7), 0x00FF0000);
    assert_int_equal(pixel(f->a, 12, 7), 0);
}

static void
a_full_queue_goes_out_in_batches_of_1024(void **state)
{
    queueFixture *f = *state;

    for (int i = 0; i < 1025; i++)
        queueFill(f->priv, f->a, i % 1024, 0, 1, 1, 0x10);
    assert_int_equal(submitCount(), 1);
    assert_int_equal(f->priv->ge.opCount, 1);
    qelGeFlush(&f->priv->ge);
    assert_int_equal(submitCount(), 2);
    assert_non_null(strstr(submitLog(), "submit count=1024 "));
    assert_non_null(strstr(submitLog(), "submit count=1 "));
}

static void
a_batch_has_one_destination_and_one_source(void **state)
{
    queueFixture *f = *state;

    /* Fills and a copy into one destination share a batch; the copy's
     * source is adopted. */
    queueFill(f->priv, f->a, 0, 0, 4, 4, 1);
    qelGeCopyRect(&f->priv->ge, f->b, 4, 4, f->a, 4, 4, 4, 4);
    queueFill(f->priv, f->a, 8, 8, 4, 4, 1);
    assert_ptr_equal(f->priv->ge.batchSrc, f->b);
    assert_int_equal(submitCount(), 0);

    /* Another source breaks the batch... */
    qelGeCopyRect(&f->priv->ge, f->c, 0, 0, f->a, 0, 0, 4, 4);
    assert_int_equal(submitCount(), 1);
    assert_int_equal(f->priv->ge.opCount, 1);
    assert_ptr_equal(f->priv->ge.batchSrc, f->c);

    /* ...and so does another destination. */
    queueFill(f->priv, f->b, 0, 0, 4, 4, 1);
    assert_int_equal(submitCount(), 2);
    assert_ptr_equal(f->priv->ge.batchDst, f->b);
    assert_null(f->priv->ge.batchSrc);
    qelGeFlush(&f->priv->ge);
    assert_int_equal(f->priv->ge.opCount, 0);
    assert_null(f->priv->ge.batchDst);
}

static void
a_submission_marks_its_destination_written_and_its_source_read(void **state)
{
    queueFixture *f = *state;

    qelGeCopyRect(&f->priv->ge, f->b, 0, 0, f->a, 0, 0, 4, 4);
    qelGeFlush(&f->priv->ge);
    assert_int_equal(f->priv->ge.submitted.serial, 1);
    assert_int_not_equal(f->priv->ge.submitted.seqno, 0);
    assert_memory_equal(&f->a->geWrite, &f->priv->ge.submitted, sizeof(qelGeBatchRef));
    assert_memory_equal(&f->b->geRead, &f->priv->ge.submitted, sizeof(qelGeBatchRef));
    assert_int_equal(f->a->geRead.serial, 0);
    assert_int_equal(f->b->geWrite.serial, 0);
    assert_int_equal(f->c->geWrite.serial, 0);

    queueFill(f->priv, f->c, 0, 0, 1, 1, 1);
    qelGeFlush(&f->priv->ge);
    assert_int_equal(f->c->geWrite.serial, 2);
    assert_int_not_equal(f->c->geWrite.seqno, f->a->geWrite.seqno);
}

static void
interrupted_and_busy_submissions_are_retried(void **state)
{
    queueFixture *f = *state;
    long waits = simIoctlCounter("GE_WAIT");

    simCommandOk("fault submit_eintr 3");
    queueFill(f->priv, f->a, 0, 0, 2, 2, 0x55);
    qelGeFlush(&f->priv->ge);
    assert_int_equal(pixel(f->a, 1, 1), 0x55);
    assert_int_equal(simIoctlCounter("GE_WAIT"), waits);

    simCommandOk("fault submit_eagain 2");
    queueFill(f->priv, f->a, 0, 0, 2, 2, 0x66);
    qelGeFlush(&f->priv->ge);
    assert_int_equal(pixel(f->a, 1, 1), 0x66);
    /* One wait for room after each refusal. */
    assert_int_equal(simIoctlCounter("GE_WAIT"), waits + 2);
    assert_non_null(strstr(submitLog(), "seqno=0"));
    expectNoMessage();
}

/* A refused batch is not lost: the CPU draws it, after the GE's earlier
 * work on the buffers, and the refusal is said once per kind of error. */
static void
a_refused_batch_is_drawn_by_the_cpu(void **state)
{
    queueFixture *f = *state;
    char expected[256];
    qelGeBatchRef submitted;

    simCommandOk("ge-mode thread 20000");
    queueFill(f->priv, f->b, 0, 0, 8, 8, 0x11);
    qelGeCopyRect(&f->priv->ge, f->b, 0, 0, f->a, 0, 0, 8, 8);
    qelGeFlush(&f->priv->ge);
    submitted = f->priv->ge.submitted;

    simCommandOk("fault submit_einval 2");
    queueFill(f->priv, f->a, 3, 4, 5, 6, 0x77);
    queueFill(f->priv, f->a, 0, 0, 1, 1, 0x77);
    qelGeFlush(&f->priv->ge);
    snprintf(expected, sizeof(expected),
             "GE refused a batch of 2 ops: Invalid argument [op0 t=1 rop=0xf0 dst=%u "
             "pitch=4096 @3,4 5x6 src=0 pitch=0 @0,0]; the CPU draws it\n", f->a->handle);
    expectOneMessage(X_WARNING, 0, expected);
    assert_int_equal(f->priv->ge.opCount, 0);
    assert_memory_equal(&f->priv->ge.submitted, &submitted, sizeof(submitted));
    assert_int_equal(pixel(f->a, 3, 4), 0x77);
    assert_int_equal(pixel(f->a, 1, 1), 0x11);
    assert_int_equal(pixel(f->a, 0, 0), 0x77);

    /* The same refusal again: drawn, not said again. */
    qelGeCopyRect(&f->priv->ge, f->a, 0, 0, f->a, 1, 1, 8, 8);
    qelGeFlush(&f->priv->ge);
    expectNoMessage();
    assert_int_equal(pixel(f->a, 1, 1), 0x77);
    assert_int_equal(pixel(f->a, 2, 2), 0x11);

    /* The GE takes the next batch. */
    queueFill(f->priv, f->a, 3, 4, 1, 1, 0x78);
    qelGeFlush(&f->priv->ge);
    assert_int_equal(f->priv->ge.submitted.serial, submitted.serial + 1);
    qelGeSyncCpu(&f->priv->ge, f->a, QEL_CPU_READ);
    assert_int_equal(pixel(f->a, 3, 4), 0x78);
}

/* A kernel that keeps answering EINTR is asked a bounded number of times;
 * sixteen refused batches in a row give the GE up for the generation, and
 * from then on the CPU draws what is queued without asking the kernel. */
static void
a_ge_that_keeps_refusing_is_given_up(void **state)
{
    queueFixture *f = *state;
    long submits = simIoctlCounter("GE_SUBMIT");

    simCommandOk("fault submit_eintr 1000000");
    queueFill(f->priv, f->a, 0, 0, 2, 2, 0x21);
    qelGeFlush(&f->priv->ge);
    assert_int_equal(pixel(f->a, 1, 1), 0x21);
    assert_int_equal(simIoctlCounter("GE_SUBMIT"), submits + 100);
    assert_int_equal(fakeMessageCount(), 1);
    forgetMessages();

    simCommandOk("fault submit_eintr 0");
    simCommandOk("fault submit_einval 1000000");
    for (int i = 0; i < 15; i++) {
        queueFill(f->priv, f->a, 0, 0, 2, 2, (uint32_t) i);
        qelGeFlush(&f->priv->ge);
    }
    assert_true(f->priv->ge.givenUp);
    assert_int_equal(fakeMessageCount(), 2);
    expectMessageAt(1, X_ERROR, "GE refused every batch of late; drawing without it from now on\n");
    forgetMessages();

    submits = simIoctlCounter("GE_SUBMIT");
    queueFill(f->priv, f->a, 0, 0, 2, 2, 0x22);
    qelGeFlush(&f->priv->ge);
    assert_int_equal(simIoctlCounter("GE_SUBMIT"), submits);
    assert_int_equal(pixel(f->a, 1, 1), 0x22);
    simCommandOk("fault submit_einval 0");
}

static void
cpu_access_waits_only_for_unfinished_work_it_conflicts_with(void **state)
{
    queueFixture *f = *state;
    long waits;

    simCommandOk("ge-mode thread 20000");
    qelGeCopyRect(&f->priv->ge, f->b, 0, 0, f->a, 0, 0, 16, 16);
    waits = simIoctlCounter("GE_WAIT");

    /* Neither a buffer the queue does not name, nor reading its source,
     * sends the queue or waits. */
    qelGeSyncCpu(&f->priv->ge, f->c, QEL_CPU_WRITE);
    qelGeSyncCpu(&f->priv->ge, f->b, QEL_CPU_READ);
    assert_int_equal(f->priv->ge.opCount, 1);
    assert_int_equal(simIoctlCounter("GE_WAIT"), waits);

    /* Writing the source must wait until the GE has read it. */
    qelGeSyncCpu(&f->priv->ge, f->b, QEL_CPU_WRITE);
    assert_int_equal(f->priv->ge.opCount, 0);
    assert_int_equal(simIoctlCounter("GE_WAIT"), waits + 1);
    /* That batch also wrote a: known done, not waited for again. */
    qelGeSyncCpu(&f->priv->ge, f->a, QEL_CPU_WRITE);
    assert_int_equal(simIoctlCounter("GE_WAIT"), waits + 1);

    /* Batches finish in order: once a's later one is done, so is c's. */
    queueFill(f->priv, f->c, 0, 0, 16, 16, 0x123456);
    queueFill(f->priv, f->a, 0, 0, 16, 16, 0xABCDEF);
    qelGeFlush(&f->priv->ge);
    qelGeSyncCpu(&f->priv->ge, f->a, QEL_CPU_READ);
    assert_int_equal(pixel(f->a, 15, 15), 0xABCDEF);
    qelGeSyncCpu(&f->priv->ge, f->c, QEL_CPU_WRITE);
    assert_int_equal(pixel(f->c, 15, 15), 0x123456);
    assert_int_equal(simIoctlCounter("GE_WAIT"), waits + 2);
}

/* A failed wait is tried again until the GE answers, and said once; a GE
 * that never answers is taken as hung and given up, and the CPU goes on. */
static void
a_failed_wait_is_tried_again_until_the_ge_answers(void **state)
{
    queueFixture *f = *state;
    char expected[128];
    long waits;

    queueFill(f->priv, f->a, 0, 0, 1, 1, 1);
    qelGeFlush(&f->priv->ge);
    waits = simIoctlCounter("GE_WAIT");

    simCommandOk("fault wait 3");
    qelGeWaitBo(&f->priv->ge, f->a);
    assert_int_equal(simIoctlCounter("GE_WAIT"), waits + 4);
    snprintf(expected, sizeof(expected), "GE wait for seqno %u failed: %s; trying again\n",
             f->a->geWrite.seqno, strerror(ETIMEDOUT));
    expectOneMessage(X_WARNING, 0, expected);
    qelGeWaitBo(&f->priv->ge, f->a);
    assert_int_equal(simIoctlCounter("GE_WAIT"), waits + 4);

    queueFill(f->priv, f->a, 0, 0, 1, 1, 2);
    qelGeFlush(&f->priv->ge);
    simCommandOk("fault wait 1000000");
    qelGeWaitBo(&f->priv->ge, f->a);
    assert_true(f->priv->ge.givenUp);
    assert_int_equal(fakeMessageCount(), 2);
    expectMessageAt(1, X_ERROR,
                    "GE cannot be confirmed idle (hung); drawing without it from now on\n");
    simCommandOk("fault wait 0");
}

static void
copies_outside_either_buffer_are_clipped_or_dropped(void **state)
{
    queueFixture *f = *state;

    qelGeCopyRect(&f->priv->ge, f->b, -1, 0, f->a, -1, 0, 10, 10);
    qelGeCopyRect(&f->priv->ge, f->b, 0, 64, f->a, 0, 64, 10, 10);
    assert_int_equal(f->priv->ge.opCount, 0);

    /* c is 64 x 64: the copy is cut to what lies in both buffers, each at
     * its own origin. */
    qelGeCopyRect(&f->priv->ge, f->c, 60, 60, f->a, 60, 60, 100, 100);
    qelGeCopyRect(&f->priv->ge, f->c, 62, 0, f->a, 0, 61, 100, 100);
    assert_int_equal(f->priv->ge.opCount, 2);
    assert_int_equal(f->priv->ge.ops[0].width, 4);
    assert_int_equal(f->priv->ge.ops[0].height, 4);
    assert_int_equal(f->priv->ge.ops[1].width, 2);
    assert_int_equal(f->priv->ge.ops[1].height, 3);
    assert_int_equal(f->priv->ge.ops[1].src_x, 62);
    assert_int_equal(f->priv->ge.ops[1].dst_y, 61);
    qelGeFlush(&f->priv->ge);
    assert_int_equal(simCounter("ge_rejected_ops"), 0);
}

int
main(void)
{
    const struct CMUnitTest tests[] = {
        cmocka_unit_test_setup_teardown(kernel_receives_the_records_word_for_word, setUp, tearDown),
        cmocka_unit_test_setup_teardown(a_full_queue_goes_out_in_batches_of_1024, setUp, tearDown),
        cmocka_unit_test_setup_teardown(a_batch_has_one_destination_and_one_source, setUp, tearDown),
        cmocka_unit_test_setup_teardown(a_submission_marks_its_destination_written_and_its_source_read, setUp, tearDown),
        cmocka_unit_test_setup_teardown(interrupted_and_busy_submissions_are_retried, setUp, tearDown),
        cmocka_unit_test_setup_teardown(a_refused_batch_is_drawn_by_the_cpu, setUp, tearDown),
        cmocka_unit_test_setup_teardown(a_ge_that_keeps_refusing_is_given_up, setUp, tearDown),
        cmocka_unit_test_setup_teardown(cpu_access_waits_only_for_unfinished_work_it_conflicts_with, setUp, tearDown),
        cmocka_unit_test_setup_teardown(a_failed_wait_is_tried_again_until_the_ge_answers, setUp, tearDown),
        cmocka_unit_test_setup_teardown(copies_outside_either_buffer_are_clipped_or_dropped, setUp, tearDown),
    };

    return cmocka_run_group_tests(tests, NULL, NULL);
}
