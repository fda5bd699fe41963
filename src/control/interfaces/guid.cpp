#include "control/interfaces/guid.hpp"

#include <cstdio>

namespace vintrel::control {

std::string Guid::to_string() const {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1, unsigned{data2},
                unsigned{data3}, unsigned{data4[0]}, unsigned{data4[1]}, unsigned{data4[2]}, unsigned{data4[3]},
                unsigned{data4[4]}, unsigned{data4[5]}, unsigned{data4[6]}, unsigned{data4[7]});
  return text;
}

}  // namespace vintrel::control
