/* Plain copies between buffers for the driver's own needs (TearFree's
 * per-CRTC buffers, the contents kept across a resize), queued like EXA's. */
#include "ge/reserve.h"

void
qelGeCopyRect(qelGe *ge, qelBo *src, int srcX, int srcY, qelBo *dst, int dstX,
              int dstY, int w, int h)
{
    qelGeOp *op;

    if (!qelClipRect(dst, dstX, dstY, &w, &h) || !qelClipRect(src, srcX, srcY, &w, &h))
        return;

    op = qelGeReserve(ge, dst, src);
    *op = (qelGeOp) {
        .type = TX3120_GE_OP_COPY,
        .rop = TX3120_GE_ROP_SOURCE,
        .dst_handle = dst->handle,
        .dst_pitch = dst->pitch,
        .dst_x = dstX,
        .dst_y = dstY,
        .width = w,
        .height = h,
        .fill_color = 0,
        .src_handle = src->handle,
        .src_pitch = src->pitch,
        .src_x = srcX,
        .src_y = srcY,
    };
}
