// Entry names as users see them. An archive stores each name as bytes in the
// Japanese Windows code page (932); everything the tools show or write uses
// UTF-8. One embedded table does the work, so that every system decodes a
// name alike, whatever its own locale or iconv says.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace host {

// Decodes code page 932 bytes to UTF-8. A byte that starts no character, or
// a lead byte whose pair has no character, becomes the visible escape "%XX"
// (two upper-case hex digits; a lead byte escaped this way leaves the byte
// after it to be decoded on its own); a '%' of the name itself becomes
// "%25". So no name is ever lost: Utf8ToName gives the bytes back.
std::string NameToUtf8(std::string_view raw);

// The inverse: UTF-8 to code page 932 bytes, turning "%XX" back into the
// byte XX. nullopt when the text is not valid UTF-8 or holds a character
// that the code page cannot express.
std::optional<std::string> Utf8ToName(std::string_view utf8);

}  // namespace host
