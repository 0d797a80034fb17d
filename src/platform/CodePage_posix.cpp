#include <langinfo.h>

#include "platform/CodePage.hpp"

namespace platform {

CodePage SystemCodePage() { return CodePageFromCharset(nl_langinfo(CODESET)); }

}  // namespace platform
