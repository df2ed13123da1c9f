// UTF-8 one character at a time, as every tool reads it (files/utf8_text.h),
// under host/'s own name.
#pragma once

#include "utf8_text.h"

namespace host {
namespace utf8 = files::utf8;
}  // namespace host
