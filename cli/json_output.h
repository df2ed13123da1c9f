// JSON text for stdout. Invalid UTF-8 (a path given in another encoding)
// is replaced, never a reason to fail.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace cli {

inline std::string DumpJson(const nlohmann::json& value, bool pretty) {
    return value.dump(pretty ? 2 : -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace cli
