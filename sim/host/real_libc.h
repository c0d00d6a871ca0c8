// SPDX-License-Identifier: MIT
// The next definition of an interposed call (normally the C library's, or
// umockdev's when it is preloaded after us), found with dlsym(RTLD_NEXT) so
// that the simulator never calls itself.
#pragma once

#include <dlfcn.h>

namespace qelsim::real {

template <typename Fn> Fn next(const char *name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

} // namespace qelsim::real

// Declares `fn`, the next definition of NAME with the type of the function
// being defined. Resolved on first use: interposed calls can arrive before
// any static constructor of this library has run.
#define QELSIM_NEXT(name) static const auto fn = qelsim::real::next<decltype(&::name)>(#name)
