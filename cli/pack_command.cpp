// zorv pack: PNG and plain bitmap files into packed pictures.
#include "archive_contents.h"
#include "commands.h"
#include "input_file.h"
#include "output_files.h"
#include "packed_picture.h"

namespace cli {

namespace {

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

}  // namespace

int RunPack(const PackOptions& options, Console& console) {
    writer::PackOptions pack;
    pack.signature = options.signature == "E1" ? writer::PackedSignature::E1 : writer::PackedSignature::B1;
    pack.depth = static_cast<uint16_t>(options.depth);
    pack.parse = options.fast ? writer::LzssParse::Greedy : writer::LzssParse::Optimal;
    pack.check = PicturePluginCheck();
    return MakeEach(options.pictures, options.output, options.existing, console,
                    [&](const std::string& path, OutputFiles& outputs, Tally& tally) {
        const std::vector<uint8_t> input = files::ReadWholeFile(path, kLargestPicture);
        if (writer::LooksLikePng(input.data(), input.size()) || writer::LooksLikePlainBitmap(input.data(), input.size()))
            tally.Usable();
        const writer::PackedPicture packed = writer::PackPicture(input.data(), input.size(), pack);
        for (const std::string& note : packed.notes) console.Note(path + ": " + note);
        const std::string shown = outputs.Write(PackedName(path), packed.file.data(), packed.file.size());
        if (!shown.empty()) console.Written(shown);
    });
}

}  // namespace cli
