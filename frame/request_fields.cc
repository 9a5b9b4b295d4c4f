#include "frame/request_fields.h"

namespace qlok {

void AppendLine(std::u16string& page_buffer, std::u16string_view line) {
  page_buffer.append(line);
  page_buffer.append(u"\r\n");
}

}  // namespace qlok
