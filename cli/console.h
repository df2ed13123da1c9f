// How zorv talks to its user: data on stdout, messages on stderr, and a
// progress line on stderr that every other output clears first.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "time_left.h"

namespace cli {

enum ExitCode { kAllDone = 0, kSomeFailed = 1, kNothingDone = 2, kUsageError = 3 };

enum class Verbosity { Quiet, Normal, Verbose };
enum class ProgressMode { Auto, Always, Never };

// Entries (or files) and bytes done of a known total, with rate and time
// left (or, with no total, what is done so far); redrawn at most ten
// times a second.
class ProgressLine {
public:
    ProgressLine(bool enabled, std::FILE* out) : enabled_(enabled), out_(out) {}
    void Start(uint64_t items, uint64_t bytes);
    void Advance(uint64_t items, uint64_t bytes);
    // What is being worked on, shown at the end of the line.
    void SetLabel(const std::string& label);
    // Redraws if a tenth of a second has passed since the last drawing.
    void Tick();
    // Erases the line; the next Tick draws it again.
    void Clear();
    // Erases the line for good.
    void Finish();
    bool Enabled() const { return enabled_; }

private:
    void Draw();

    bool enabled_;
    std::FILE* out_;
    bool active_ = false;
    bool shown_ = false;
    uint64_t totalItems_ = 0, totalBytes_ = 0, doneItems_ = 0, doneBytes_ = 0;
    TimeLeft timeLeft_;
    std::string label_;
    std::chrono::steady_clock::time_point started_, lastDrawn_, lastAdvanced_;
    size_t drawnWidth_ = 0;
};

class Console {
public:
    Console(Verbosity verbosity, ProgressMode progress);

    // A line of data on stdout, or raw bytes (NUL-separated names).
    void DataLine(const std::string& line);
    void DataBytes(const std::string& bytes);
    // "zorv: SUBJECT: MESSAGE" on stderr; errors always, warnings and notes
    // unless quiet. The subject may be empty.
    void Error(const std::string& subject, const std::string& message);
    // A failure, told as Told() tells it.
    void Error(const std::string& subject, const std::exception& error);
    void Warning(const std::string& subject, const std::string& message);
    void Note(const std::string& message);
    // With -v: a file written, on stdout.
    void Written(const std::string& path);

    bool Verbose() const { return verbosity_ == Verbosity::Verbose; }
    ProgressLine& Progress() { return progress_; }

private:
    Verbosity verbosity_;
    ProgressLine progress_;
};

// What a failure says after the subject it is shown under: the file the
// error is about, quoted, unless it is that subject; the archive entry it
// is about; then its reason. Any other exception says only its what().
// The one place an error's subject and reason become text.
std::string Told(const std::exception& error, const std::string& subject);

// Text safe to show on a terminal: control characters (C0, DEL and C1),
// which a name may hold, and every byte that is not part of well-formed
// UTF-8 (a path in another encoding; 0x9B alone starts an escape sequence
// on some terminals) become visible "%XX" escapes of their bytes, as
// undecodable bytes do in names.
std::string Printable(const std::string& text);

// The arguments as UTF-8 (on Windows read from the wide command line), with
// stdout and stderr set to pass bytes unchanged.
std::vector<std::string> PrepareConsole(int argc, char** argv);

}  // namespace cli
