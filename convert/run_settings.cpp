#include "run_settings.h"

namespace {

struct TypeRow {
    const wchar_t* label;
    FileType type;
    const wchar_t* extension;
};

const TypeRow types[] = {{L"BMP", FileType::BMP, L".bmp"}, {L"PNG", FileType::PNG, L".png"},
                         {L"JPEG", FileType::JPEG, L".jpg"}};

}  // namespace

const std::vector<MethodLabel>& methodLabels() {
    // No label selects LCD type 2.
    static const std::vector<MethodLabel> labels = {
        {L"Nearest", {0, true}}, {L"Lanczos3", {0, false}}, {L"LCD(low)", {1, false}}, {L"LCD(mid)", {3, false}},
        {L"LCD(hi)", {4, false}}, {L"LCD(ex)", {5, false}},  {L"LCD(max)", {6, false}},
    };
    return labels;
}

bool methodForLabel(const wxString& label, Method& method) {
    for (const MethodLabel& row : methodLabels()) {
        if (label != row.label) continue;
        method = row.method;
        return true;
    }
    return false;
}

wxString labelOf(const Method& method) {
    for (const MethodLabel& row : methodLabels())
        if (row.method.lcdType == method.lcdType && row.method.nearest == method.nearest) return row.label;
    return wxString::Format(wxT("LCD type %d"), method.lcdType);
}

bool fileTypeForLabel(const wxString& label, FileType& type) {
    for (const TypeRow& row : types) {
        if (label != row.label) continue;
        type = row.type;
        return true;
    }
    return false;
}

wxString labelOf(FileType type) {
    for (const TypeRow& row : types)
        if (row.type == type) return row.label;
    return wxString();
}

wxString extensionFor(FileType type) {
    for (const TypeRow& row : types)
        if (row.type == type) return row.extension;
    return wxString();
}
