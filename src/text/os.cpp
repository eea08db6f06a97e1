#include "text/os.h"

namespace borvantel::text {
namespace {
Os defaultOs;
Os* current = &defaultOs;
}  // namespace

Os& os() { return *current; }

ScopedOs::ScopedOs(Os& replacement) : previous_(current) { current = &replacement; }
ScopedOs::~ScopedOs() { current = previous_; }

}  // namespace borvantel::text
