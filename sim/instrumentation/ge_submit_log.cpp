// SPDX-License-Identifier: MIT
#include "ge_submit_log.h"

#include <cstring>

namespace qelsim {
namespace {

constexpr unsigned opWordCount = sizeof(uapi::GeOp) / sizeof(uint32_t);

std::string opWords(const uapi::GeOp &op)
{
    uint32_t words[opWordCount];
    std::memcpy(words, &op, sizeof words);
    std::string out = "[";
    for (unsigned i = 0; i < opWordCount; ++i) {
        if (i)
            out += ',';
        out += std::to_string(words[i]);
    }
    return out + "]";
}

} // namespace

std::string formatSubmitLine(const uapi::GeSubmitArgs &args, const std::vector<uapi::GeOp> &ops,
                             bool opsRead)
{
    std::string line = "submit count=" + std::to_string(args.count) +
                       " reserved0=" + std::to_string(args.reserved0) +
                       " seqno=" + std::to_string(args.seqno) +
                       " reserved1=" + std::to_string(args.reserved1) + " ops=";
    if (!opsRead)
        return line + "unread";
    for (size_t i = 0; i < ops.size(); ++i) {
        if (i)
            line += ' ';
        line += opWords(ops[i]);
    }
    return line;
}

} // namespace qelsim
