#include "app/ULiveconst.h"

namespace app {

std::string CloseQuestionText() {
  std::string text;
  for (std::string_view line : kCloseQuestionLines) {
    if (!text.empty()) text += '\r';
    text += line;
  }
  return text;
}

}  // namespace app
