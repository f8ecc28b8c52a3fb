#pragma once

#include <plist/plist.h>

#include <memory>

namespace corvane::plistnode {

// Small helpers over libplist 2.2, whose getters hand out malloc'ed copies.

struct Deleter
{
    void operator()(void *node) const { plist_free(node); }
};
// Owns a parsed tree.
using Handle = std::unique_ptr<void, Deleter>;

inline bool isType(plist_t node, plist_type type)
{
    return node && plist_get_node_type(node) == type;
}

} // namespace corvane::plistnode
