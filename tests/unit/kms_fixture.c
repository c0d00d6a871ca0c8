/* SPDX-License-Identifier: MIT */
#include "kms_fixture.h"

#include <fcntl.h>
#include <setjmp.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cmocka.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include "qelsim.h"

#define REPLY_SIZE 65536

static void
kmsFixtureAttachConfig(kmsFixture *fixture)
{
    if (xf86CrtcConfigPrivateIndex < 0)
        xf86CrtcConfigPrivateIndex = 0;
    fixture->scrn.privates = fixture->privates;
    fixture->privates[xf86CrtcConfigPrivateIndex].ptr = &fixture->config;
    fixture->config.crtc = fixture->crtcPtrs;
    fixture->config.output = fixture->outputPtrs;
    fixture->config.compat_output = -1;
}

/* The CRTC is made by the driver's own constructor, into a configuration
 * of its own, and kept in the fixture's array. */
static void
kmsFixtureAddCrtc(kmsFixture *fixture, uint32_t crtcId)
{
    int i = fixture->config.num_crtc++;
    xf86CrtcPtr crtc = &fixture->crtcs[i];
    xf86CrtcConfigRec made = {0};
    DevUnion privates[8] = {{0}};
    ScrnInfoRec scratch = {.privates = privates};

    privates[xf86CrtcConfigPrivateIndex].ptr = &made;
    assert_true(qelCrtcCreate(&scratch, &fixture->priv->kms, crtcId));
    *crtc = *made.crtc[0];
    free(made.crtc[0]);
    free(made.crtc);
    crtc->scrn = &fixture->scrn;
    crtc->enabled = TRUE;
    fixture->crtcPtrs[i] = crtc;
}

static void
kmsFixtureAddOutput(kmsFixture *fixture, uint32_t connectorId)
{
    int i = fixture->config.num_output++;
    xf86OutputPtr output = &fixture->outputs[i];
    qelOutputPriv *outputPriv = calloc(1, sizeof(*outputPriv));

    assert_non_null(outputPriv);
    outputPriv->kms = &fixture->priv->kms;
    outputPriv->connectorId = connectorId;
    output->scrn = &fixture->scrn;
    output->driver_private = outputPriv;
    output->crtc = i < fixture->config.num_crtc ? fixture->crtcPtrs[i] : NULL;
    fixture->outputPtrs[i] = output;
}

kmsFixture *
kmsFixtureCreate(const char *description)
{
    kmsFixture *fixture = calloc(1, sizeof(*fixture));

    assert_non_null(fixture);
    assert_int_equal(qelsim_configure(description), 0);
    fixture->priv = calloc(1, sizeof(*fixture->priv));
    assert_non_null(fixture->priv);
    fixture->priv->fd = open("/dev/dri/card0", O_RDWR | O_CLOEXEC);
    assert_true(fixture->priv->fd >= 0);
    fixture->priv->ownsFd = TRUE;
    fixture->priv->kms.fd = fixture->priv->fd;
    fixture->priv->kms.ownsFd = TRUE;
    fixture->priv->ge.fd = fixture->priv->fd;
    fixture->priv->present = qelPresentCreate(fixture->priv->fd, 0);
    assert_non_null(fixture->priv->present);
    fixture->priv->kms.scanout = &qelPresentScanoutFuncs;
    fixture->priv->kms.scanoutData = fixture->priv->present;
    fixture->scrn.scrnIndex = 0;
    fixture->scrn.driverPrivate = fixture->priv;
    kmsFixtureAttachConfig(fixture);
    fixture->resources = drmModeGetResources(fixture->priv->fd);
    assert_non_null(fixture->resources);
    for (int i = 0; i < fixture->resources->count_crtcs && i < FIXTURE_MAX_OBJECTS; i++)
        kmsFixtureAddCrtc(fixture, fixture->resources->crtcs[i]);
    for (int i = 0; i < fixture->resources->count_connectors && i < FIXTURE_MAX_OBJECTS; i++)
        kmsFixtureAddOutput(fixture, fixture->resources->connectors[i]);
    forgetMessages();
    return fixture;
}

void
kmsFixtureAddScanouts(kmsFixture *fixture, int width, int height, Bool tearFree)
{
    qelScreenPriv *priv = fixture->priv;

    priv->shadow = qelBoCreateScanout(priv->fd, width, height, !tearFree);
    assert_non_null(priv->shadow);
    priv->tearFree = tearFree;
    priv->ge.screenBo = priv->shadow;
    qelPresentSetScreenBuffer(priv->present, priv->shadow);
    if (!tearFree)
        return;
    /* The pairs are filled by GE copies. */
    if (!priv->ge.ops) {
        assert_true(qelGeQueueAlloc(&priv->ge));
        fixture->ownsQueue = TRUE;
    }
    priv->present->ge = &priv->ge;
    priv->present->tearFree = TRUE;
    assert_true(qelPresentCreateCrtcs(priv->present, fixture->config.num_crtc));
}

void
kmsFixtureRemoveScanouts(kmsFixture *fixture)
{
    qelScreenPriv *priv = fixture->priv;

    qelPresentDestroyCrtcs(priv->present);
    priv->present->tearFree = FALSE;
    priv->present->ge = NULL;
    qelPresentSetScreenBuffer(priv->present, NULL);
    qelBoDestroy(priv->fd, priv->shadow);
    priv->shadow = NULL;
    priv->ge.screenBo = NULL;
    if (fixture->ownsQueue) {
        qelGeQueueFree(&priv->ge);
        priv->ge.opCount = 0;
        fixture->ownsQueue = FALSE;
    }
}

uint32_t
kmsFixtureCrtcId(kmsFixture *fixture, int index)
{
    return ((qelCrtcPriv *) fixture->crtcPtrs[index]->driver_private)->crtcId;
}

qelFlipCrtc *
kmsFixtureFlipCrtc(kmsFixture *fixture, int index)
{
    qelFlipCrtc *c = qelPresentFindCrtc(fixture->priv->present, kmsFixtureCrtcId(fixture, index));

    assert_non_null(c);
    return c;
}

qelBo *
kmsFixtureFront(kmsFixture *fixture, int index)
{
    qelFlipPair *pair = &kmsFixtureFlipCrtc(fixture, index)->pair;

    return pair->scanout[pair->frontIndex];
}

qelBo *
kmsFixtureBack(kmsFixture *fixture, int index)
{
    qelFlipPair *pair = &kmsFixtureFlipCrtc(fixture, index)->pair;

    return pair->scanout[pair->frontIndex ^ 1];
}

void
kmsFixtureRequestFlip(kmsFixture *fixture, int index)
{
    qelScreenPriv *priv = fixture->priv;
    qelFlipCrtc *c = kmsFixtureFlipCrtc(fixture, index);
    qelFlipTicket *ticket = qelFlipTicketCreate(priv->present, c->crtcId);

    assert_non_null(ticket);
    assert_int_equal(drmModePageFlip(priv->fd, c->crtcId, kmsFixtureBack(fixture, index)->fbId,
                                     DRM_MODE_PAGE_FLIP_EVENT, ticket), 0);
    c->flipPending = TRUE;
    c->flipSerial = ticket->serial;
}

void
kmsFixtureDestroy(kmsFixture *fixture)
{
    qelScreenPriv *priv = fixture->priv;

    for (int i = 0; i < fixture->config.num_crtc; i++) {
        qelCrtcDestroy(fixture->crtcPtrs[i]);
        free(fixture->crtcs[i].gamma_red);
    }
    for (int i = 0; i < fixture->config.num_output; i++)
        free(fixture->outputs[i].driver_private);
    kmsFixtureRemoveScanouts(fixture);
    qelPresentFree(priv->present);
    drmModeFreeResources(fixture->resources);
    close(priv->fd);
    free(priv);
    free(fixture);
}

DisplayModeRec
kmsFixtureMode(int width, int height)
{
    static char name[] = "fixture-mode";
    DisplayModeRec mode = {
        .name = name,
        .Clock = 65000,
        .HDisplay = width,
        .HSyncStart = width + 24,
        .HSyncEnd = width + 160,
        .HTotal = width + 320,
        .VDisplay = height,
        .VSyncStart = height + 3,
        .VSyncEnd = height + 9,
        .VTotal = height + 38,
        .Flags = V_NHSYNC | V_NVSYNC,
    };

    return mode;
}

static char *
simReply(const char *request)
{
    char *reply = calloc(1, REPLY_SIZE);

    assert_non_null(reply);
    assert_int_equal(qelsim_command(request, reply, REPLY_SIZE), 0);
    return reply;
}

void
simCommandOk(const char *request)
{
    free(simReply(request));
}

/* The value of the first counter line whose key contains the text; -1 when
 * there is none. */
static long
simFindCounter(const char *text, Bool exact)
{
    char *reply = simReply("counters");
    long value = -1;

    for (char *line = strtok(reply, "\n"); line; line = strtok(NULL, "\n")) {
        char *eq = strchr(line, '=');

        if (!eq)
            continue;
        *eq = '\0';
        if (exact ? strcmp(line, text) == 0 : strstr(line, text) != NULL) {
            value = strtol(eq + 1, NULL, 10);
            break;
        }
    }
    free(reply);
    return value;
}

long
simCounter(const char *name)
{
    long value = simFindCounter(name, TRUE);

    assert_true(value >= 0);
    return value;
}

long
simIoctlCounter(const char *part)
{
    long value = simFindCounter(part, FALSE);

    return value < 0 ? 0 : value;
}

Bool
simCrtcState(int index, char *line, size_t size)
{
    char *reply = simReply("crtcs");
    char prefix[32];
    Bool found = FALSE;

    snprintf(prefix, sizeof(prefix), "crtc index=%d ", index);
    for (char *l = strtok(reply, "\n"); l; l = strtok(NULL, "\n")) {
        if (strncmp(l, prefix, strlen(prefix)) == 0) {
            snprintf(line, size, "%s", l);
            found = TRUE;
            break;
        }
    }
    free(reply);
    return found;
}

long
simCrtcField(int index, const char *key)
{
    char line[512];
    char pattern[64];
    const char *at;

    assert_true(simCrtcState(index, line, sizeof(line)));
    snprintf(pattern, sizeof(pattern), " %s=", key);
    at = strstr(line, pattern);
    assert_non_null(at);
    return strtol(at + strlen(pattern), NULL, 10);
}

void
expectNoMessage(void)
{
    assert_int_equal(fakeMessageCount(), 0);
}

void
expectOneMessage(int level, int scrnIndex, const char *text)
{
    const fakeMessage *message;

    assert_int_equal(fakeMessageCount(), 1);
    message = fakeMessageAt(0);
    assert_int_equal(message->level, level);
    assert_int_equal(message->scrnIndex, scrnIndex);
    assert_string_equal(message->text, text);
    forgetMessages();
}

void
expectOneFailure(int level, int scrnIndex, const char *prefix)
{
    const fakeMessage *message;
    size_t length = strlen(prefix);
    Bool known = FALSE;

    assert_int_equal(fakeMessageCount(), 1);
    message = fakeMessageAt(0);
    assert_int_equal(message->level, level);
    assert_int_equal(message->scrnIndex, scrnIndex);
    assert_int_equal(strncmp(message->text, prefix, length), 0);
    for (int e = 1; e < 134 && !known; e++) {
        char expected[256];

        snprintf(expected, sizeof(expected), "%s%s\n", prefix, strerror(e));
        known = strcmp(message->text, expected) == 0;
    }
    if (!known)
        fail_msg("no errno text in: %s", message->text);
    forgetMessages();
}

void
forgetMessages(void)
{
    fakeMessagesClear();
}
