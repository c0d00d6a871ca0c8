// SPDX-License-Identifier: MIT
#include "batch_queue.h"

#include <algorithm>
#include <utility>

namespace qelsim {

void BatchQueue::push(Batch batch)
{
    if (count_ == slots_.size())
        grow();
    slots_[(head_ + count_) % slots_.size()] = std::move(batch);
    ++count_;
}

Batch BatchQueue::pop()
{
    Batch oldest = std::move(slots_[head_]);
    head_ = (head_ + 1) % slots_.size();
    --count_;
    return oldest;
}

void BatchQueue::grow()
{
    std::vector<Batch> larger(std::max<size_t>(4, slots_.size() * 2));
    for (size_t i = 0; i < count_; ++i)
        larger[i] = std::move(slots_[(head_ + i) % slots_.size()]);
    slots_ = std::move(larger);
    head_ = 0;
}

} // namespace qelsim
