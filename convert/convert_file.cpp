#include "convert_file.h"

#include "image.h"
#include "jpeg_quality.h"
#include "output_path.h"
#include "write_image.h"

#include <memory>

namespace {

struct MethodRow {
    const wchar_t* label;
    int lcdType;
};

// In the order the labels are compared; no label selects LCD type 2.
const MethodRow methods[] = {
    {L"Nearest", 0}, {L"Lanczos3", 0}, {L"LCD(low)", 1}, {L"LCD(mid)", 3},
    {L"LCD(hi)", 4}, {L"LCD(ex)", 5},  {L"LCD(max)", 6},
};

OutputNaming namingFor(const RunSettings& settings) {
    OutputNaming naming;
    naming.sameFolder = settings.sameFolder;
    naming.suffix = settings.suffix;
    naming.saveDir = settings.saveDir;
    naming.extension = extensionForType(settings.typeLabel);
    return naming;
}

void resize(Image& image, const RunSettings& settings) {
    Method method;
    if (methodForLabel(settings.methodLabel, method)) image.lcdSetting(method.lcdType);
    if (method.nearest)
        image.resizeNearest(settings.width, settings.height, settings.keepRatio, settings.percent);
    else
        image.resize(settings.width, settings.height, settings.keepRatio, settings.percent);
}

// Forgets the tracked image however the conversion leaves.
struct Tracking {
    const ConversionHooks& hooks;
    Tracking(const ConversionHooks& hooks, Image* image) : hooks(hooks) {
        if (hooks.track) hooks.track(image);
    }
    ~Tracking() {
        if (hooks.track) hooks.track(nullptr);
    }
};

bool abandoned(const ConversionHooks& hooks) { return hooks.abandoned && hooks.abandoned(); }

FileOutcome failed(const wxString& output, const wxString& reason) { return {FileOutcome::Failed, output, reason}; }

}  // namespace

bool methodForLabel(const wxString& label, Method& method) {
    for (const MethodRow& row : methods) {
        if (label == row.label) {
            method.lcdType = row.lcdType;
            method.nearest = label == wxT("Nearest");
            return true;
        }
    }
    return false;
}

FileOutcome convertFile(const wxString& source, const RunSettings& settings, const ConversionHooks& hooks) {
    const OutputPath output = outputPathFor(source, namingFor(settings));
    if (output.path.empty()) return failed(output.path, output.error);

    Image image(source, 0, wxBITMAP_TYPE_ANY, -1);
    if (image.isEmpty()) return failed(output.path, wxT("not a readable image"));
    {
        Tracking tracking(hooks, &image);
        resize(image, settings);
    }
    if (abandoned(hooks)) return {FileOutcome::Abandoned, output.path, wxT("abandoned")};

    std::unique_ptr<wxImage> result(image.createImage());
    if (!result) return failed(output.path, wxT("out of memory"));
    if (settings.typeLabel == wxT("JPEG")) {
        // Once abandoned, every try "fits", which ends the walk at once.
        auto sizeAt = [&](int quality) { return abandoned(hooks) ? 0 : jpegSize(*result, quality); };
        int quality = fitJpegQuality(limitBytes(settings.limitText), settings.quality, sizeAt);
        result->SetOption(wxIMAGE_OPTION_QUALITY, quality);
    }
    wxString reason = writeImageFile(*result, output.path, hooks.abandoned);
    if (reason.empty()) return {FileOutcome::Written, output.path, wxString()};
    if (abandoned(hooks)) return {FileOutcome::Abandoned, output.path, reason};
    return failed(output.path, reason);
}
