// The registry calls (registry.cpp): the handles they hand out.
#ifndef WINSIM_REGISTRY_H
#define WINSIM_REGISTRY_H

#include <cstddef>

namespace winsim {

// Registry key handles of this attachment not closed yet (predefined roots
// are no handles).
size_t OpenKeyCount();

}  // namespace winsim

#endif  // WINSIM_REGISTRY_H
