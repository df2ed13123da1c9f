// How a failure reaches the user: each layer attaches the subject it knows
// to the one error type, and only the console turns subject and reason into
// a line, naming each subject once and escaping what a terminal would obey.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "console.h"
#include "input_file.h"
#include "tool_error.h"

namespace {

using files::ToolError;

TEST(Told, NamesEachSubjectOnceAndTheReasonLast) {
    struct Case {
        ToolError error;
        std::string subject;
        std::string told;
    };
    const Case cases[] = {
        // The file the line is about already: not named again.
        {ToolError("cannot open: no such file or directory").About("a.dat"), "a.dat",
         "cannot open: no such file or directory"},
        // Another file than the line's subject, or no subject: quoted.
        {ToolError("the manifest is damaged").About("rt4/zorv-manifest.json"), "rt4",
         "'rt4/zorv-manifest.json': the manifest is damaged"},
        {ToolError("damaged WAVE file").About("SE01.wav"), "", "'SE01.wav': damaged WAVE file"},
        // An entry under its archive.
        {ToolError("read error").About("broken.dat").InEntry("LOST.BIN"), "broken.dat", "LOST.BIN: read error"},
        {ToolError("GetFile failed: read error", files::ErrorKind::PluginRefused, 5).InEntry("SE01.PW"), "x.dat",
         "SE01.PW: GetFile failed: read error"},
        // No subject known: the reason alone.
        {ToolError("not a ZORVAN archive"), "notes.txt", "not a ZORVAN archive"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cli::Told(c.error, c.subject), c.told);
        // Code that has only a std::exception sees the reason alone.
        EXPECT_EQ(std::string(static_cast<const std::exception&>(c.error).what()), c.error.Reason());
    }
    EXPECT_EQ(cli::Told(std::runtime_error("out of memory"), "a.dat"), "out of memory");
    // An outer layer's name for the file replaces the inner one's.
    EXPECT_EQ(ToolError("r").About("/tmp/x/SE01.wav").About("SE01.wav").Path(), "SE01.wav");
}

TEST(Told, TheFileAccessNamesTheFileItFailedOn) {
    const std::string missing = "/nonexistent-folder/MISSING.DAT";
    try {
        files::InputFile file(missing);
        FAIL() << "opened";
    } catch (const ToolError& error) {
        EXPECT_EQ(error.Path(), missing);
        EXPECT_EQ(error.Reason(), "cannot open: no such file or directory");
        EXPECT_EQ(error.Kind(), files::ErrorKind::Failed);
        EXPECT_EQ(cli::Told(error, missing), error.Reason());
    }
    // A path that is no regular file: named the same way.
    try {
        files::InputFile file("/dev/null");
        FAIL() << "a device is no regular file";
    } catch (const ToolError& error) {
        EXPECT_EQ(error.Path(), "/dev/null");
        EXPECT_EQ(error.Reason(), "cannot open: a device, not a regular file");
    }
}

TEST(Told, TheConsoleEscapesEveryPartOfTheLine) {
    cli::Console console(cli::Verbosity::Normal, cli::ProgressMode::Never);
    // A file name holding an 8-bit escape introducer and a bell, an entry
    // holding a line feed: none reaches the terminal as it is.
    const ToolError error = ToolError("read error").About("in\x9B" "2J.dat").InEntry("A\nB");
    testing::internal::CaptureStderr();
    console.Error("out\a.dat", error);
    console.Error("in\x9B" "2J.dat", error);
    const std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_EQ(shown,
              "zorv: out%07.dat: 'in%9B2J.dat': A%0AB: read error\n"
              "zorv: in%9B2J.dat: A%0AB: read error\n");
}

}  // namespace
