// Selecting entries by name: shell-style patterns, ignoring letter case.
#pragma once

#include <string_view>

namespace host {

// Whether the UTF-8 name matches the UTF-8 pattern: '*' matches any run of
// characters ('\' and '/' included), '?' one character, "[abc]", "[a-z]"
// one of a set ("[!...]" or "[^...]" none of it); any other character
// matches itself. Letter case is ignored for the Latin, full-width Latin,
// Greek and Cyrillic letters a code page 932 name can hold. A '[' without
// its ']' matches itself.
bool GlobMatch(std::string_view pattern, std::string_view name);

}  // namespace host
