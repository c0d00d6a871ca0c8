/* Clipping of a rectangle to the bounds of a buffer. */
#include "bo/bo.h"

/* The far edges are computed in 64 bits: x + w near INT_MAX must clip,
 * not wrap round to a small or negative value that passes the test. */
Bool
qelClipRect(const qelBo *bo, int x, int y, int *w, int *h)
{
    if (x < 0 || y < 0)
        return FALSE;
    if (x >= bo->width || y >= bo->height)
        return FALSE;
    if ((int64_t) x + *w > bo->width)
        *w = bo->width - x;
    if ((int64_t) y + *h > bo->height)
        *h = bo->height - y;
    return *w > 0 && *h > 0;
}
