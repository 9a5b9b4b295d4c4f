#include "search/handle_request.h"

namespace qlok {

std::u16string HandleRequest(std::u16string& posted,
                             RequestServices& services) {
  return u"";
}

}  // namespace qlok
