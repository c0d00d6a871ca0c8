/* The per-pass flip cycle: what was drawn into the shadow since the last
 * cycle, plus what the back buffer still lacks, is copied by the GE into the
 * back scanout buffer, which a page flip then shows. */
#include "tearfree/tearfree.h"

#include <xf86drm.h>
#include <xf86drmMode.h>

#include "ge/ge.h"

static Bool
qelFlipCycleReady(ScrnInfoPtr scrn, qelScreenPriv *priv)
{
    return scrn->vtSema && priv->tearFree && priv->damage && !priv->flipPending &&
        !priv->crtcOff && priv->modeHeight > 0 &&
        RegionNotEmpty(DamageRegion(priv->damage));
}

static void
qelCopyRegion(qelScreenPriv *priv, RegionPtr region, qelBo *dst)
{
    int count = RegionNumRects(region);
    const BoxRec *box = RegionRects(region);

    for (int i = 0; i < count; i++, box++)
        qelGeCopyBox(priv, priv->shadow, dst, box->x1, box->y1,
                     box->x2 - box->x1, box->y2 - box->y1);
}

/* The flip was refused: the damage goes straight into the buffer on screen,
 * and the back buffer keeps owing it. */
static void
qelPresentWithoutFlip(qelScreenPriv *priv, RegionPtr damage, RegionPtr visible,
                      RegionPtr work)
{
    pixman_region_intersect(work, damage, visible);
    qelCopyRegion(priv, work, priv->scanout[priv->frontIndex]);
    qelGeFlush(priv);
    pixman_region_union(&priv->pendingRegion, &priv->pendingRegion, work);
}

static void
qelRunFlipCycle(qelScreenPriv *priv)
{
    RegionPtr damage = DamageRegion(priv->damage);
    /* Mode sizes beyond 16 bits are cut to the low 16, as region boxes are. */
    BoxRec box = {0, 0, (short) priv->modeWidth, (short) priv->modeHeight};
    RegionRec visible;
    RegionRec work;
    qelBo *back = priv->scanout[priv->frontIndex ^ 1];

    RegionInit(&visible, &box, 1);
    RegionNull(&work);

    pixman_region_union(&work, damage, &priv->pendingRegion);
    pixman_region_intersect(&work, &work, &visible);
    qelCopyRegion(priv, &work, back);
    qelGeFlush(priv);

    if (drmModePageFlip(priv->fd, priv->flipCrtcId, back->fbId,
                        DRM_MODE_PAGE_FLIP_EVENT, priv) == 0) {
        priv->flipPending = TRUE;
        pixman_region_copy(&priv->pendingRegion, damage);
    } else {
        qelPresentWithoutFlip(priv, damage, &visible, &work);
    }

    RegionUninit(&visible);
    RegionUninit(&work);
    DamageEmpty(priv->damage);
}

void
qelBlockHandler(ScreenPtr screen, void *timeout)
{
    ScrnInfoPtr scrn = xf86ScreenToScrn(screen);
    qelScreenPriv *priv = qelScreenPrivFromScrn(scrn);

    screen->BlockHandler = priv->savedBlockHandler;
    screen->BlockHandler(screen, timeout);
    /* A layer below may have wrapped BlockHandler again while it ran. */
    priv->savedBlockHandler = screen->BlockHandler;
    screen->BlockHandler = qelBlockHandler;

    if (qelFlipCycleReady(scrn, priv))
        qelRunFlipCycle(priv);
    else
        qelGeFlush(priv);
}
