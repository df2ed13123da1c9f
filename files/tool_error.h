// The one error the tools throw (files/, host/, writer/, cli/): why
// something failed, and what it failed on, kept apart. The reason is a
// message for the user without the program's name or the subject, e.g.
// "cannot open: no such file or directory"; the subject (a file, and in an
// archive an entry) is attached by the layer that knows it. Only the
// command line's console puts them together into text.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace files {

// For the few callers that must tell failures apart.
enum class ErrorKind : uint8_t {
    Failed,         // an input, an output or the system stood in the way
    PluginRefused,  // a plug-in answered other than Ok: PluginResult() holds its answer
    DoesNotFit,     // a sound picture that the depth asked for cannot hold
};

class ToolError : public std::exception {
public:
    explicit ToolError(std::string reason, ErrorKind kind = ErrorKind::Failed, int32_t pluginResult = 0)
        : reason_(std::move(reason)), kind_(kind), pluginResult_(pluginResult) {}

    // The file it failed on, as the user names it. An outer layer's name
    // replaces an inner one's: it knows how the user sees the file (the
    // name in a folder, say, rather than the path it was opened by).
    ToolError& About(std::string path) {
        path_ = std::move(path);
        return *this;
    }
    // The archive entry it failed on, by its decoded name.
    ToolError& InEntry(std::string name) {
        entry_ = std::move(name);
        return *this;
    }

    const std::string& Reason() const { return reason_; }
    const std::string& Path() const { return path_; }    // empty when not known
    const std::string& Entry() const { return entry_; }  // empty when none
    ErrorKind Kind() const { return kind_; }
    int32_t PluginResult() const { return pluginResult_; }

    // The reason alone, for code that only has a std::exception (and names
    // the subject itself, as the browser glue does).
    const char* what() const noexcept override { return reason_.c_str(); }

private:
    std::string reason_;
    std::string path_;
    std::string entry_;
    ErrorKind kind_;
    int32_t pluginResult_;
};

// The text the system gives for the last error of a file call, lower-case
// first letter, in the same words on every system for the common cases.
std::string LastSystemError();

}  // namespace files
