#pragma once
// The free space of the disk, as script asks for it.

#include <functional>
#include <string>

#include "automation/automation.hpp"
#include "platform/file_system.hpp"

namespace vintrel::files {

/// How the free space of a volume is learnt; tests give a fixed answer.
using FreeSpaceQuery = std::function<platform::FreeSpace(const std::string& path)>;

/// The total free bytes of the root volume (platform::root_volume(): "/",
/// the system drive on Windows) as a currency value; the
/// drive asked for is not consulted. More than 922337203685477 bytes cannot
/// be a currency and fails with 6.
automation::Variant CheckFreeSpace(const std::string& thedrive, const FreeSpaceQuery& query);

}  // namespace vintrel::files
