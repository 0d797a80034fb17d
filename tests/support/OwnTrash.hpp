// A trash of the test program's own, so that nothing a test removes reaches
// the real trash of whoever runs the tests.
#pragma once

#include <string>

namespace test_support {

/// Points the desktop's data folder (XDG_DATA_HOME), and so its trash, at a
/// temporary folder that lives as long as the test program. Call it before
/// anything is moved to the trash: the desktop library reads the variable
/// once per process. Calling it again does nothing. Returns the data folder
/// (ending with "/"): the trash is its folder Trash.
const std::string& UseOwnTrash();

}  // namespace test_support
