// zorv pack: PNG and plain bitmap files into packed pictures.
#include "archive_contents.h"
#include "command_line.h"
#include "commands.h"
#include "input_file.h"
#include "output_files.h"
#include "packed_picture.h"

namespace cli {

namespace {

struct PackOptions {
    std::vector<std::string> pictures;
    std::string output;
    std::string signature = "B1";
    int depth = 0;  // 0: the picture's own
    bool fast = false;
    ExistingPolicy existing = ExistingPolicy::Refuse;
};

// Pictures are packed in memory; none a game shows comes near this.
constexpr uint64_t kLargestPicture = uint64_t{1} << 30;

bool HasBmpExtension(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name.size() - dot != 4) return false;
    std::string extension = name.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return extension == "bmp";
}

// A packed picture keeps a .bmp name as it is (the game's pictures are
// *.BMP); anything else gets .bmp in place of its extension.
std::string PackedName(const std::string& path) {
    const std::string name = files::BaseName(path);
    return HasBmpExtension(name) ? name : host::ReplaceExtension(name, ".bmp");
}

int RunPack(const PackOptions& options, Console& console) {
    writer::PackOptions pack;
    pack.signature = options.signature == "E1" ? writer::PackedSignature::E1 : writer::PackedSignature::B1;
    pack.depth = static_cast<uint16_t>(options.depth);
    pack.parse = options.fast ? writer::LzssParse::Greedy : writer::LzssParse::Optimal;
    pack.check = PicturePluginCheck();
    return MakeEach(options.pictures, options.output, options.existing, console,
                    [&](const std::string& path, OutputFiles& outputs, Tally&) {
        const std::vector<uint8_t> input = files::ReadWholeFile(path, kLargestPicture);
        const writer::PackedPicture packed = writer::PackPicture(input.data(), input.size(), pack);
        for (const std::string& note : packed.notes) console.Note(path + ": " + note);
        const std::string shown = outputs.Write(PackedName(path), packed.file.data(), packed.file.size());
        if (!shown.empty()) console.Written(shown);
    });
}

}  // namespace

Command AddPackCommand(CLI::App& app) {
    auto options = std::make_shared<PackOptions>();
    CLI::App* command = AddCommand(
        app, "pack", "Turn PNG and plain bitmap files into packed pictures",
        "A PNG with a palette becomes an 8-bit palette picture, RGB 24-bit, RGB with alpha 32-bit; with\n"
        "--depth, a picture that does not fit that depth is refused. A plain bitmap file is packed as it\n"
        "is. The packed picture keeps a .bmp name and otherwise gets .bmp in place of its extension.");
    command->add_option("PICTURE", options->pictures, "PNG or plain bitmap files")->required();
    AddOutputFileOrFolder(command, options->output);
    command->add_option("--signature", options->signature, "B1 (default) or E1")->check(CLI::IsMember({"B1", "E1"}));
    command->add_option("--depth", options->depth, "Bits per pixel to write: 1, 4, 8, 24 or 32 (default: the picture's)")
        ->check(CLI::IsMember({1, 4, 8, 24, 32}));
    command->add_flag("--fast", options->fast, "Pack with the greedy parse: faster, a little larger");
    AddExistingPolicy(command, options->existing);
    return {command, [options](Console& console) { return RunPack(*options, console); }};
}

}  // namespace cli
