// UTF-8 <-> UTF-16 for the Windows wide-character file and module calls:
// the tools keep every path and name in UTF-8 and widen it at the call.
#pragma once

#ifdef _WIN32
#include <string>

namespace files {

std::wstring Utf8ToWide(const std::string& utf8);
std::string WideToUtf8(const std::wstring& wide);

}  // namespace files
#endif
