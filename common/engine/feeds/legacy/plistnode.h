#pragma once

#include <plist/plist.h>

#include <QString>

#include <cstdlib>
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

// Calls f(key, value) for each entry of a dictionary node, in its order.
template<typename F>
void forEachEntry(plist_t dictionary, F &&f)
{
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(dictionary, &iterator);
    if (!iterator)
        return;
    for (;;) {
        char *key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dictionary, iterator, &key, &value);
        if (!value) {
            std::free(key);
            break;
        }
        f(key ? QString::fromUtf8(key) : QString(), value);
        std::free(key);
    }
    std::free(iterator);
}

} // namespace corvane::plistnode
