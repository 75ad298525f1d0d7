// SPDX-License-Identifier: MIT
#include "batch_options.h"

#include "log_capture.h"
#include "output_path.h"

#include <wx/cmdline.h>
#include <wx/filename.h>
#include <wx/msgout.h>

#include <algorithm>
#include <climits>
#include <map>

namespace {

const wxCmdLineEntryDesc options[] = {
    {wxCMD_LINE_OPTION, nullptr, "size", "target box WxH", wxCMD_LINE_VAL_STRING, 0},
    {wxCMD_LINE_SWITCH, nullptr, "only-reduce", "never enlarge", wxCMD_LINE_VAL_NONE, 0},
    {wxCMD_LINE_SWITCH, nullptr, "pixels", "--size in pixels", wxCMD_LINE_VAL_NONE, 0},
    {wxCMD_LINE_SWITCH, nullptr, "percent", "--size in percent", wxCMD_LINE_VAL_NONE, 0},
    {wxCMD_LINE_SWITCH, nullptr, "fit", "keep the aspect ratio", wxCMD_LINE_VAL_NONE, 0},
    {wxCMD_LINE_SWITCH, nullptr, "stretch", "fill the box", wxCMD_LINE_VAL_NONE, 0},
    {wxCMD_LINE_OPTION, nullptr, "method", "method", wxCMD_LINE_VAL_STRING, 0},
    {wxCMD_LINE_SWITCH, nullptr, "linear", "average in linear light", wxCMD_LINE_VAL_NONE, 0},
    {wxCMD_LINE_SWITCH, nullptr, "no-linear", "average code values", wxCMD_LINE_VAL_NONE, 0},
    {wxCMD_LINE_OPTION, nullptr, "type", "output type", wxCMD_LINE_VAL_STRING, 0},
    {wxCMD_LINE_OPTION, nullptr, "quality", "JPEG quality", wxCMD_LINE_VAL_STRING, 0},
    {wxCMD_LINE_OPTION, nullptr, "limit", "JPEG size limit in KB", wxCMD_LINE_VAL_STRING, 0},
    {wxCMD_LINE_OPTION, nullptr, "min-quality", "lowest quality under a limit", wxCMD_LINE_VAL_STRING, 0},
    {wxCMD_LINE_SWITCH, nullptr, "progressive", "progressive JPEG", wxCMD_LINE_VAL_NONE, 0},
    {wxCMD_LINE_SWITCH, nullptr, "baseline", "baseline JPEG", wxCMD_LINE_VAL_NONE, 0},
    {wxCMD_LINE_OPTION, nullptr, "suffix", "beside the sources", wxCMD_LINE_VAL_STRING, 0},
    {wxCMD_LINE_OPTION, nullptr, "out", "into a folder", wxCMD_LINE_VAL_STRING, 0},
    {wxCMD_LINE_SWITCH, nullptr, "keep-tree", "keep sub-folders", wxCMD_LINE_VAL_NONE, 0},
    {wxCMD_LINE_SWITCH, nullptr, "keep-dates", "keep file dates", wxCMD_LINE_VAL_NONE, 0},
    {wxCMD_LINE_OPTION, nullptr, "metadata", "keep, all or none", wxCMD_LINE_VAL_STRING, 0},
    {wxCMD_LINE_SWITCH, nullptr, "help", "help", wxCMD_LINE_VAL_NONE, 0},
    {wxCMD_LINE_SWITCH, nullptr, "version", "version", wxCMD_LINE_VAL_NONE, 0},
    {wxCMD_LINE_PARAM, nullptr, nullptr, "file or folder", wxCMD_LINE_VAL_STRING,
     wxCMD_LINE_PARAM_OPTIONAL | wxCMD_LINE_PARAM_MULTIPLE},
    wxCMD_LINE_DESC_END};

// The parser's own complaints, kept to be told the program's way.
class Captured : public wxMessageOutput {
public:
    Captured() : previous(wxMessageOutput::Set(this)) {}
    ~Captured() override { wxMessageOutput::Set(previous); }
    wxString text;

protected:
    void Output(const wxString& message) override { text += message; }

private:
    wxMessageOutput* previous;
};

bool isPlain(std::string::const_iterator begin, std::string::const_iterator end) {
    return std::all_of(begin, end, [](char c) { return c > 0 && c < 0x7f; });
}

// Where the value of "--option=value" starts when the option is plain; else 0.
size_t plainOptionValue(const std::string& raw) {
    const size_t equals = raw.rfind("--", 0) == 0 ? raw.find('=') : std::string::npos;
    if (equals == std::string::npos || !isPlain(raw.begin(), raw.begin() + equals)) return 0;
    return equals + 1;
}

// The toolkit drops or garbles arguments it cannot convert, and fails a
// check on an empty one; it gets stand-ins for those, and the values come
// back from the bytes as file names.
class RawArguments {
public:
    explicit RawArguments(const std::vector<std::string>& arguments) : given{"pixloom-batch"} {
        for (size_t i = 0; i < arguments.size(); ++i) {
            const std::string& raw = arguments[i];
            if (!raw.empty() && isPlain(raw.begin(), raw.end())) {
                given.push_back(raw);
                continue;
            }
            // "--out=写真": the option stays, its value is stood in for. The
            // whole argument comes back too: after "--" it is a file name.
            const size_t value = plainOptionValue(raw);
            const std::string standIn = "@pixloom-argument-" + std::to_string(i) + "@";
            standIns[wxString::FromAscii(standIn.c_str())] = wxString(raw.c_str() + value, *wxConvFileName);
            given.push_back(raw.substr(0, value) + standIn);
            standIns.emplace(wxString::FromAscii(given.back().c_str()), wxString(raw.c_str(), *wxConvFileName));
        }
        for (std::string& argument : given) pointers.push_back(argument.data());
    }
    int count() const { return static_cast<int>(given.size()); }
    char** vector() { return pointers.data(); }
    wxString restore(const wxString& value) const {
        auto found = standIns.find(value);
        return found == standIns.end() ? value : found->second;
    }

private:
    std::vector<std::string> given;
    std::vector<char*> pointers;
    std::map<wxString, wxString> standIns;
};

bool readNumber(const wxString& text, long low, long high, long& value) {
    return text.ToLong(&value, 10) && value >= low && value <= high;
}

bool readSize(const wxString& text, TargetBox& box) {
    const wxString size = text.Lower();  // "1920X1080" too
    long width, height;
    if (size.Freq(wxT('x')) != 1 || !readNumber(size.BeforeFirst(wxT('x')), 1, 65535, width) ||
        !readNumber(size.AfterFirst(wxT('x')), 1, 65535, height))
        return false;
    box = {static_cast<int>(width), static_cast<int>(height)};
    return true;
}

bool readMethod(const wxString& text, Method& method) {
    for (const MethodInfo& row : methods()) {
        if (text.CmpNoCase(row.label) != 0 && text.CmpNoCase(row.name) != 0) continue;
        method = row.method;
        return true;
    }
    return false;
}

bool readType(const wxString& text, FileType& type) {
    for (const FileTypeInfo& row : fileTypes()) {
        // The extension names the type too ("jpg").
        if (text.CmpNoCase(row.name) != 0 && text.CmpNoCase(row.label) != 0 && text.CmpNoCase(row.extension + 1) != 0)
            continue;
        type = row.type;
        return true;
    }
    return false;
}

bool readMetadata(const wxString& text, MetadataMode& mode) {
    const std::pair<const wchar_t*, MetadataMode> modes[] = {
        {L"keep", MetadataMode::Keep}, {L"all", MetadataMode::All}, {L"none", MetadataMode::None}};
    for (const auto& [name, value] : modes) {
        if (text.CmpNoCase(name) != 0) continue;
        mode = value;
        return true;
    }
    return false;
}

// "a, b, c", from a table's names.
template <class Rows>
wxString namesOf(const Rows& rows) {
    wxString names;
    for (const auto& row : rows) names += (names.empty() ? wxT("") : wxT(", ")) + wxString(row.name);
    return names;
}

bool bad(wxString& error, const wxString& message) {
    error = message;
    return false;
}

bool readChoices(const wxCmdLineParser& parser, RunSettings& settings, wxString& error) {
    if (parser.Found(wxT("pixels")) && parser.Found(wxT("percent")))
        return bad(error, wxT("--pixels and --percent exclude each other"));
    if (parser.Found(wxT("fit")) && parser.Found(wxT("stretch")))
        return bad(error, wxT("--fit and --stretch exclude each other"));
    if (parser.Found(wxT("only-reduce"))) settings.onlyReduce = true;
    if (parser.Found(wxT("keep-tree"))) settings.keepTree = true;
    if (parser.Found(wxT("keep-dates"))) settings.keepDates = true;
    if (parser.Found(wxT("progressive")) && parser.Found(wxT("baseline")))
        return bad(error, wxT("--progressive and --baseline exclude each other"));
    if (parser.Found(wxT("linear")) && parser.Found(wxT("no-linear")))
        return bad(error, wxT("--linear and --no-linear exclude each other"));
    if (parser.Found(wxT("pixels"))) settings.percent = false;
    if (parser.Found(wxT("percent"))) settings.percent = true;
    if (parser.Found(wxT("fit"))) settings.keepRatio = true;
    if (parser.Found(wxT("stretch"))) settings.keepRatio = false;
    if (parser.Found(wxT("progressive"))) settings.progressive = true;
    if (parser.Found(wxT("baseline"))) settings.progressive = false;
    if (parser.Found(wxT("linear"))) settings.linear = true;
    if (parser.Found(wxT("no-linear"))) settings.linear = false;
    return true;
}

// An option's value as given: a stand-in gives back its argument's bytes.
bool foundValue(const wxCmdLineParser& parser, const RawArguments& raw, const wchar_t* name, wxString& text) {
    if (!parser.Found(name, &text)) return false;
    text = raw.restore(text);
    return true;
}

// Every --size, in order: the first replaces the saved size, the others
// are written too.
bool readSizes(const wxCmdLineParser& parser, const RawArguments& raw, RunSettings& settings, wxString& error) {
    std::vector<TargetBox> boxes;
    for (const wxCmdLineArg& argument : parser.GetArguments()) {
        if (argument.GetKind() != wxCMD_LINE_OPTION || argument.GetLongName() != wxT("size")) continue;
        const wxString text = raw.restore(argument.GetStrVal());
        TargetBox box{};
        if (!readSize(text, box))
            return bad(error, wxT("--size wants WIDTHxHEIGHT, each 1 to 65535, not \"") + text + wxT("\""));
        boxes.push_back(box);
    }
    if (boxes.empty()) return true;
    settings.width = boxes.front().width, settings.height = boxes.front().height;
    settings.moreSizes.assign(boxes.begin() + 1, boxes.end());
    return true;
}

// Several sizes need names of their own: the suffix's placeholders must
// tell them apart (as far as the boxes asked for do).
bool sizesNamedApart(const RunSettings& settings, wxString& error) {
    std::vector<TargetBox> boxes{{settings.width, settings.height}};
    boxes.insert(boxes.end(), settings.moreSizes.begin(), settings.moreSizes.end());
    std::map<wxString, wxString> named;  // suffix -> box
    for (const TargetBox& box : boxes) {
        OutputNaming naming = namingFor(settings, box);
        naming.size.width = box.width, naming.size.height = box.height;
        const auto [earlier, isNew] = named.emplace(namedSuffix(naming), naming.size.box);
        if (!isNew)
            return bad(error, wxT("--size ") + earlier->second + wxT(" and ") + naming.size.box +
                                  wxT(" would write the same names: put {w}, {h} or {size} in --suffix"));
    }
    return true;
}

bool readValues(const wxCmdLineParser& parser, const RawArguments& raw, RunSettings& settings, wxString& error) {
    if (!readSizes(parser, raw, settings, error)) return false;
    wxString text;
    long number;
    auto found = [&](const wchar_t* name) { return foundValue(parser, raw, name, text); };
    if (found(L"method") && !readMethod(text, settings.method))
        return bad(error, wxT("unknown --method \"") + text + wxT("\" (") + namesOf(methods()) + wxT(")"));
    if (found(L"type") && !readType(text, settings.type))
        return bad(error, wxT("unknown --type \"") + text + wxT("\" (") + namesOf(fileTypes()) + wxT(")"));
    if (found(L"quality")) {
        if (!readNumber(text, 1, 100, number))
            return bad(error, wxT("--quality wants 1 to 100, not \"") + text + wxT("\""));
        settings.quality = static_cast<int>(number);
    }
    if (found(L"limit")) {
        if (!readNumber(text, 0, INT_MAX / 1024, number))
            return bad(error, wxT("--limit wants kilobytes, 0 for none, not \"") + text + wxT("\""));
        settings.limitBytes = static_cast<int>(number * 1024);
    }
    if (found(L"min-quality")) {
        if (!readNumber(text, 1, 100, number))
            return bad(error, wxT("--min-quality wants 1 to 100, not \"") + text + wxT("\""));
        settings.minQuality = static_cast<int>(number);
    }
    if (found(L"suffix")) {
        if (text.empty()) return bad(error, wxT("--suffix must not be empty"));
        if (parser.Found(wxT("out")) && !hasPlaceholder(text))
            return bad(error,
                       wxT("--suffix with --out needs {w}, {h} or {size} (else outputs take the source's name)"));
        settings.sameFolder = true, settings.suffix = text;
    }
    if (found(L"metadata") && !readMetadata(text, settings.metadata))
        return bad(error, wxT("--metadata wants keep, all or none, not \"") + text + wxT("\""));
    if (found(L"out")) {
        if (!wxDirExists(text)) return bad(error, wxT("--out: no such folder: ") + text);
        settings.sameFolder = false, settings.saveDir = text;
    }
    if (settings.keepTree && settings.sameFolder) return bad(error, wxT("--keep-tree wants --out DIR"));
    return sizesNamedApart(settings, error);
}

}  // namespace

bool parseBatchArguments(const std::vector<std::string>& arguments, const RunSettings& defaults, BatchRequest& request,
                         wxString& error) {
    RawArguments raw(arguments);
    wxCmdLineParser parser(raw.count(), raw.vector());
    parser.SetDesc(options);
    parser.SetSwitchChars(wxT("-"));
    {
        // A check the parser fails ("--" and a blank) is a usage error too.
        Captured complaints;
        LogCapture checks;
        if (parser.Parse(false) != 0 || checks.sawError())
            return bad(error, complaints.text.empty() ? checks.first() : complaints.text.Trim());
    }
    request.settings = defaults;
    request.help = parser.Found(wxT("help"));
    request.version = parser.Found(wxT("version"));
    if (request.help || request.version) return true;
    if (!readChoices(parser, request.settings, error) || !readValues(parser, raw, request.settings, error))
        return false;
    for (size_t i = 0; i < parser.GetParamCount(); ++i) request.inputs.Add(raw.restore(parser.GetParam(i)));
    if (request.inputs.empty()) return bad(error, wxT("no files or folders given"));
    return true;
}

wxString batchUsage() {
    wxString types;
    for (const FileTypeInfo& row : fileTypes()) types += (types.empty() ? wxT("") : wxT("|")) + wxString(row.name);
    wxString lossy;
    for (const FileTypeInfo& row : fileTypes())
        if (row.lossy) lossy += (lossy.empty() ? wxT("") : wxT(", ")) + wxString(row.label);
    return wxT("usage: pixloom-batch [OPTIONS] FILE_OR_FOLDER...\n"
               "Reduces image files as the pixloom window does, starting from its saved settings.\n\n"
               "  --size WxH             target box, e.g. 1920x1080; given again, each source is also\n"
               "                         written in that size, in order (the names must differ: --suffix)\n"
               "  --only-reduce          a picture already inside the box keeps its size (never enlarged)\n"
               "  --pixels | --percent   units of --size\n"
               "  --fit | --stretch      keep the aspect ratio inside the box, or fill it\n"
               "  --method NAME          ") +
           namesOf(methods()) +
           wxT("\n"
               "                         (or the window's labels: Nearest ... LCD(max), any case)\n"
               "  --linear | --no-linear average in linear light (a fine black-and-white pattern keeps its\n"
               "                         brightness), or on sRGB code values as most programs do\n"
               "  --type ") +
           types + wxString(' ', std::max<int>(1, 15 - static_cast<int>(types.length()))) +
           wxT("output type\n"
               "  --quality 1-100        quality of ") +
           lossy +
           wxT(", the highest tried under a limit\n"
               "  --limit KB             size limit of ") +
           lossy +
           wxT(" files, 0 for none\n"
               "  --min-quality 1-100    under a limit, a picture that needs a lower quality is written\n"
               "                         smaller instead (10 % a step); 1 for no such step\n"
               "  --progressive | --baseline\n"
               "                         JPEG coding: progressive is smaller, baseline every reader opens\n"
               "  --suffix TEXT          write beside each source: name + TEXT + extension; in TEXT {w}\n"
               "                         and {h} are the output's width and height, {size} the box\n"
               "                         (1920x1080, or 50%)\n"
               "  --out DIR              write into DIR: name + extension, or name + TEXT + extension\n"
               "                         when --suffix TEXT holds {w}, {h} or {size}\n"
               "  --keep-tree            with --out: a folder's files go to DIR/FOLDER/SUB/FOLDERS\n"
               "  --keep-dates           each output gets its source's modification and access times\n"
               "  --metadata MODE        the source's EXIF in the output: keep (date, camera, author; never\n"
               "                         the location), all (location and maker notes too) or none\n"
               "  --help, --version\n\n"
               "Folders are walked; files that earlier runs wrote there with these settings are left out.\n"
               "Exit status: 0 every file written, 1 a file failed, 2 a usage error, 130 interrupted.\n");
}
