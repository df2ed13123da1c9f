#include "console.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include "wide_text.h"
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "tool_error.h"
#include "utf8.h"

namespace cli {
namespace {

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

size_t TerminalWidth() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
#else
    struct winsize size;
    if (ioctl(fileno(stderr), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
    return 80;
}

std::string Bytes(uint64_t n) {
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(n);
    int unit = 0;
    while (value >= 1024 && unit < 4) value /= 1024, ++unit;
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text;
}

std::string Duration(double seconds) {
    long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// Cuts a UTF-8 text to at most `columns`, never inside a character, and
// returns the columns it takes: every non-ASCII character counts as two
// (most of what a code page 932 name holds is double width).
size_t CutToColumns(std::string& text, size_t columns) {
    size_t used = 0, at = 0;
    while (at < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[at]);
        size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
        size_t width = c < 0x80 ? 1 : 2;
        if (used + width > columns) break;
        used += width;
        at += length;
    }
    if (at < text.size()) text.resize(at);
    return used;
}

}  // namespace

std::string Printable(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const size_t start = at;
        const std::optional<uint32_t> c = host::utf8::Read(text, at);
        const bool control = c && (*c < 0x20 || *c == 0x7F || (*c >= 0x80 && *c < 0xA0));
        if (c && !control) {
            shown.append(text, start, at - start);
            continue;
        }
        // Every byte of a control character; a byte that begins no
        // well-formed character alone.
        if (!c) at = start + 1;
        for (size_t i = start; i < at; ++i) {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned char>(text[i]));
            shown += escape;
        }
    }
    return shown;
}

std::string Told(const std::exception& error, const std::string& subject) {
    const auto* told = dynamic_cast<const files::ToolError*>(&error);
    if (!told) return error.what();
    std::string text;
    if (!told->Path().empty() && told->Path() != subject) text += "'" + told->Path() + "': ";
    if (!told->Entry().empty()) text += told->Entry() + ": ";
    return text + told->Reason();
}

// ---- progress line ------------------------------------------------------------------

void ProgressLine::Start(uint64_t items, uint64_t bytes) {
    totalItems_ = items;
    totalBytes_ = bytes;
    doneItems_ = doneBytes_ = 0;
    timeLeft_ = TimeLeft();
    active_ = enabled_;
    started_ = std::chrono::steady_clock::now();
    lastDrawn_ = lastAdvanced_ = started_;  // nothing flashes by for work that takes no time
}

void ProgressLine::Advance(uint64_t items, uint64_t bytes) {
    doneItems_ += items;
    doneBytes_ += bytes;
    if (!active_) return;
    const auto now = std::chrono::steady_clock::now();
    timeLeft_.Add(std::chrono::duration<double>(now - lastAdvanced_).count(), items, bytes);
    lastAdvanced_ = now;
}

// Extraction labels every entry: no work for a line that is never drawn.
void ProgressLine::SetLabel(const std::string& label) {
    if (enabled_) label_ = Printable(label);
}

void ProgressLine::Tick() {
    if (!active_) return;
    auto now = std::chrono::steady_clock::now();
    if (now - lastDrawn_ < std::chrono::milliseconds(100)) return;
    lastDrawn_ = now;
    Draw();
}

void ProgressLine::Draw() {
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    double rate = seconds > 0 ? static_cast<double>(doneBytes_) / seconds : 0;
    // Without a total (files still being counted), what is done so far.
    std::string line = std::to_string(doneItems_);
    if (totalItems_ > 0) line += "/" + std::to_string(totalItems_);
    if (totalBytes_ > 0) line += ", " + Bytes(doneBytes_) + " of " + Bytes(totalBytes_);
    else if (doneBytes_ > 0) line += ", " + Bytes(doneBytes_);
    if (seconds >= 0.5) {
        if (totalBytes_ > 0 && rate > 0) line += ", " + Bytes(static_cast<uint64_t>(rate)) + "/s";
        const uint64_t itemsLeft = totalItems_ > doneItems_ ? totalItems_ - doneItems_ : 0;
        const uint64_t bytesLeft = totalBytes_ > doneBytes_ ? totalBytes_ - doneBytes_ : 0;
        const std::optional<double> left = timeLeft_.Predict(itemsLeft, bytesLeft);
        if (left && (itemsLeft > 0 || bytesLeft > 0)) line += ", " + Duration(*left) + " left";
    }
    if (!label_.empty()) line += "  " + label_;
    // One column short of the width, so the line never wraps.
    size_t width = TerminalWidth();
    const size_t columns = CutToColumns(line, width > 1 ? width - 1 : 1);
    std::string padding(drawnWidth_ > columns ? drawnWidth_ - columns : 0, ' ');
    std::fprintf(out_, "\r%s%s\r%s", line.c_str(), padding.c_str(), line.c_str());
    std::fflush(out_);
    drawnWidth_ = columns;
    shown_ = true;
}

void ProgressLine::Clear() {
    if (!shown_) return;
    std::fprintf(out_, "\r%s\r", std::string(drawnWidth_, ' ').c_str());
    std::fflush(out_);
    shown_ = false;
    drawnWidth_ = 0;
    // Drawn again at the next tick, whatever the time.
    lastDrawn_ = std::chrono::steady_clock::time_point();
}

void ProgressLine::Finish() {
    Clear();
    active_ = false;
    label_.clear();
}

// ---- messages ---------------------------------------------------------------------

Console::Console(Verbosity verbosity, ProgressMode progress)
    : verbosity_(verbosity),
      progress_(progress == ProgressMode::Always ||
                    (progress == ProgressMode::Auto && verbosity != Verbosity::Quiet && IsTerminal(stderr)),
                stderr) {}

void Console::DataLine(const std::string& line) { DataBytes(line + "\n"); }

void Console::DataBytes(const std::string& bytes) {
    progress_.Clear();
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void Console::Error(const std::string& subject, const std::string& message) {
    progress_.Clear();
    std::fflush(stdout);
    std::fprintf(stderr, "zorv: %s%s%s\n", Printable(subject).c_str(), subject.empty() ? "" : ": ",
                 Printable(message).c_str());
}

void Console::Error(const std::string& subject, const std::exception& error) { Error(subject, Told(error, subject)); }

void Console::Warning(const std::string& subject, const std::string& message) {
    if (verbosity_ != Verbosity::Quiet) Error(subject, "warning: " + message);
}

void Console::Note(const std::string& message) {
    if (verbosity_ == Verbosity::Quiet) return;
    progress_.Clear();
    std::fflush(stdout);
    std::fprintf(stderr, "zorv: %s\n", Printable(message).c_str());
}

void Console::Written(const std::string& path) {
    if (verbosity_ == Verbosity::Verbose) DataLine(Printable(path));
}

// ---- start-up ---------------------------------------------------------------------

std::vector<std::string> PrepareConsole(int argc, char** argv) {
#ifdef _WIN32
    // Bytes out as they are: no CR before each LF, UTF-8 text on a console.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // The console keeps its code page after we end: give it back.
    static const UINT originalCodePage = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    std::atexit([] { SetConsoleOutputCP(originalCodePage); });
    (void)argc;
    (void)argv;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(files::WideToUtf8(wide[i]));
    LocalFree(wide);
    return args;
#else
    return std::vector<std::string>(argv, argv + argc);
#endif
}

}  // namespace cli
