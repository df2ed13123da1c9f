// zorv convert: packed pictures as PNG or plain bitmap files.
#include "archive_contents.h"
#include "command_line.h"
#include "commands.h"
#include "output_files.h"
#include "picture_output.h"
#include "safe_path.h"

namespace cli {
namespace {

struct ConvertOptions {
    std::vector<std::string> pictures;
    std::string output;
    std::string format = "png";
    int pngLevel = host::kPngLevelByKind;
    ExistingPolicy existing = ExistingPolicy::Refuse;
};

int RunConvert(const ConvertOptions& options, Console& console) {
    const bool toPng = options.format == "png";
    host::PicturePlugin pictures;
    return MakeEach(options.pictures, options.output, options.existing, console,
                    [&](const std::string& path, OutputFiles& outputs, Tally& tally) {
        if (!pictures.IsSupported(path, host::PicturePlugin::ReadHead(path).data()))
            throw files::ToolError("not a ZORVAN packed picture");
        host::PictureParts parts = pictures.GetPicture(path);
        host::PictureFile result = toPng ? host::PictureToPng(parts, {options.pngLevel}) : host::PictureToBitmapFile(parts);
        const std::string name = host::ReplaceExtension(files::BaseName(path), toPng ? ".png" : ".bmp");
        const std::string shown = outputs.Write(name, result.bytes.data(), result.bytes.size());
        if (!shown.empty()) {
            console.Written(shown);
            ReportDrawing(console, tally, path, result);
        }
    });
}

}  // namespace

Command AddConvertCommand(CLI::App& app) {
    auto options = std::make_shared<ConvertOptions>();
    CLI::App* command = AddCommand(app, "convert", "Turn packed pictures into PNG or plain bitmap files");
    command->add_option("PICTURE", options->pictures, "Packed pictures")->required();
    AddOutputFileOrFolder(command, options->output);
    command->add_option("--format", options->format, "png (what a viewer draws) or bmp (the unpacked bitmap as it is)")
        ->check(CLI::IsMember({"png", "bmp"}));
    AddPngLevel(command, options->pngLevel);
    AddExistingPolicy(command, options->existing);
    return {command, [options](Console& console) { return RunConvert(*options, console); }};
}

}  // namespace cli
