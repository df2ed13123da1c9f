// zorv convert: packed pictures as PNG or plain bitmap files.
#include "archive_contents.h"
#include "commands.h"
#include "output_files.h"
#include "picture_output.h"
#include "safe_path.h"

namespace cli {

int RunConvert(const ConvertOptions& options, Console& console) {
    const bool toPng = options.format == "png";
    host::PicturePlugin pictures;
    return MakeEach(options.pictures, options.output, options.existing, console,
                    [&](const std::string& path, OutputFiles& outputs, Tally& tally) {
        if (!pictures.IsSupported(path, host::PicturePlugin::ReadHead(path).data())) throw host::HostError("not a ZORVAN packed picture");
        tally.Usable();
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

}  // namespace cli
