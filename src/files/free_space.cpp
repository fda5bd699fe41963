#include "files/free_space.hpp"

namespace vintrel::files {

automation::Variant CheckFreeSpace(const std::string&, const FreeSpaceQuery& query) {
  const std::uint64_t free_bytes =
      query ? query(platform::root_volume()).total_free : platform::free_space_of(platform::root_volume()).total_free;
  constexpr std::uint64_t largest_whole_currency = 922337203685477ULL;
  if (free_bytes > largest_whole_currency) automation::raise(automation::err::overflow);
  return automation::Variant(automation::Currency{static_cast<std::int64_t>(free_bytes) * 10000});
}

}  // namespace vintrel::files
