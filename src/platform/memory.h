// Memory for a large table read at random: from 2 MiB on it is aligned to and
// advised as huge pages where the system has them, so that a lookup costs one
// cache miss and no page-table walk.
#pragma once

#include <cstddef>

namespace borvantel::platform {

// Throws std::bad_alloc when there is no memory, like operator new.
void* allocateHugePages(size_t bytes);
void freeHugePages(void* p) noexcept;

}  // namespace borvantel::platform
