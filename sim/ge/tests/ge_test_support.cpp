// SPDX-License-Identifier: MIT
#include "ge_test_support.h"

#include <cstring>

namespace qelsim::test {
namespace {

uint32_t load(const std::vector<uint8_t> &image, uint32_t pitch, uint32_t x, uint32_t y)
{
    uint32_t v;
    std::memcpy(&v, image.data() + size_t{y} * pitch + size_t{x} * 4, sizeof v);
    return v;
}

void store(std::vector<uint8_t> &image, uint32_t pitch, uint32_t x, uint32_t y, uint32_t v)
{
    std::memcpy(image.data() + size_t{y} * pitch + size_t{x} * 4, &v, sizeof v);
}

} // namespace

uapi::GeOp fillOp(uint32_t handle, uint32_t pitch, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                  uint32_t color, uint32_t rop)
{
    return uapi::GeOp{TX3120_GE_OP_SOLID, rop, handle, pitch, x, y, w, h, color, 0, 0, 0, 0};
}

uapi::GeOp copyOp(uint32_t dstHandle, uint32_t dstPitch, uint32_t dstX, uint32_t dstY, uint32_t w,
                  uint32_t h, uint32_t srcHandle, uint32_t srcPitch, uint32_t srcX, uint32_t srcY,
                  uint32_t rop)
{
    return uapi::GeOp{TX3120_GE_OP_COPY, rop,      dstHandle, dstPitch, dstX, dstY, w, h, 0,
                      srcHandle,         srcPitch, srcX,      srcY};
}

uapi::GeSubmitArgs argsFor(const std::vector<uapi::GeOp> &ops)
{
    uapi::GeSubmitArgs args{};
    args.ops = reinterpret_cast<uintptr_t>(ops.data());
    args.count = static_cast<uint32_t>(ops.size());
    return args;
}

int submitOps(GeEngine &engine, const std::vector<uapi::GeOp> &ops, uint32_t *seqno)
{
    uapi::GeSubmitArgs args = argsFor(ops);
    int result = engine.submit(&args);
    if (seqno)
        *seqno = args.seqno;
    return result;
}

int waitSeqno(GeEngine &engine, uint32_t seqno, uint32_t timeoutUs)
{
    uapi::GeWaitArgs args{seqno, timeoutUs};
    return engine.wait(&args);
}

uint32_t rop3(uint32_t rop, uint32_t p, uint32_t s, uint32_t d)
{
    uint32_t out = 0;
    for (unsigned bit = 0; bit < 32; ++bit) {
        unsigned row = ((p >> bit) & 1) << 2 | ((s >> bit) & 1) << 1 | ((d >> bit) & 1);
        out |= ((rop >> row) & 1) << bit;
    }
    return out;
}

ReferenceModel::ReferenceModel(const BufferStore &store, std::vector<uint32_t> handles)
{
    for (uint32_t h : handles)
        images_[h] = store.bytes(h);
}

void ReferenceModel::apply(const uapi::GeOp &op)
{
    std::vector<uint8_t> &dst = images_.at(op.dst_handle);
    const std::vector<uint8_t> source =
        op.type == TX3120_GE_OP_COPY ? images_.at(op.src_handle) : std::vector<uint8_t>{};
    for (uint32_t y = 0; y < op.height; ++y) {
        for (uint32_t x = 0; x < op.width; ++x) {
            uint32_t d = load(dst, op.dst_pitch, op.dst_x + x, op.dst_y + y);
            uint32_t s =
                source.empty() ? 0 : load(source, op.src_pitch, op.src_x + x, op.src_y + y);
            uint32_t p = op.type == TX3120_GE_OP_SOLID ? op.fill_color : 0;
            store(dst, op.dst_pitch, op.dst_x + x, op.dst_y + y, rop3(op.rop, p, s, d));
        }
    }
}

} // namespace qelsim::test
