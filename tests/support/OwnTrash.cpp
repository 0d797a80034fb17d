#include "support/OwnTrash.hpp"

#include <stdlib.h>

#include "support/TempFolder.hpp"

namespace test_support {

const std::string& UseOwnTrash() {
  static const TempFolder data_home;
  setenv("XDG_DATA_HOME", data_home.path().c_str(), 1);
  return data_home.path();
}

}  // namespace test_support
