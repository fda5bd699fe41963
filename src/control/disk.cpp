#include "control/user_control1.hpp"
#include "files/free_space.hpp"

namespace vintrel::control {

Variant UserControl1::CheckFreeSpace(const std::string& thedrive) {
  return files::CheckFreeSpace(thedrive, freeSpaceQuery);
}

}  // namespace vintrel::control
