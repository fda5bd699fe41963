#include "com/unknown.hpp"

namespace vintrel::com {

namespace {
std::atomic<long> live{0};
}  // namespace

void module_add_ref() noexcept { ++live; }
void module_release() noexcept { --live; }
long module_refs() noexcept { return live.load(); }

}  // namespace vintrel::com
