#include "platform/memory.h"

#ifdef _WIN32
#include <malloc.h>
#else
#include <sys/mman.h>
#endif

#include <cstdlib>
#include <new>

namespace borvantel::platform {

void* allocateHugePages(size_t bytes) {
  constexpr size_t kHuge = size_t{2} << 20;
  const size_t alignment = bytes >= kHuge ? kHuge : 64;
#ifdef _WIN32
  void* p = ::_aligned_malloc((bytes + alignment - 1) / alignment * alignment, alignment);
#else
  void* p = std::aligned_alloc(alignment, (bytes + alignment - 1) / alignment * alignment);
#endif
  if (!p) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  if (bytes >= kHuge) (void)::madvise(p, (bytes + kHuge - 1) / kHuge * kHuge, MADV_HUGEPAGE);
#endif
  return p;
}

void freeHugePages(void* p) noexcept {
#ifdef _WIN32
  ::_aligned_free(p);
#else
  std::free(p);
#endif
}

}  // namespace borvantel::platform
