#include "pixloomFrame.h"

#include "commandline.h"
#include "filelist.h"

#include <wx/dirdlg.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>

#include <initializer_list>

namespace {

struct SizePreset {
    const wchar_t* label;
    int width;
    int height;
};

const SizePreset sizePresets[] = {{L"64x64", 64, 64},
                                  {L"320x320", 320, 320},
                                  {L"1024x768", 1024, 768},
                                  {L"1280x1024", 1280, 1024},
                                  {L"1920x1080", 1920, 1080}};

const wchar_t helpSize[] =
    L"縮小したいサイズを選択してください。\n"
    L"Otherを選択すると詳細なサイズを自分で指定できます。\n\n"
    L"Other: 横幅、高さの順で数値を入力して下さい。\n"
    L"単位(unit): ピクセル(ドット)単位と%単位指定が選べます。\n"
    L"縦横比固定(fix ratio): チェックするとアスペクト比を維持したまま縮小します。";

const wchar_t helpMethod[] =
    L"縮小に使用する方式を選択します。通常は変更しなくてOKです。\n\n"
    L"Nearest:最速です。画質は一般的に最悪です。\n"
    L"Lanczos3:高画質です。画像が回転拡大縮小表示される場合におすすめです。\n"
    L"LCD: 液晶ディスプレイに最適化します。あまり効果を強くすると鮮明になる代わりに色がにじむ場合があります。\n";

const wchar_t helpFiletype[] =
    L"保存形式を指定します。PNG形式を推奨します。\n\n"
    L"BMP:高画質ですがファイルサイズが大きくなります。\n"
    L"PNG:高画質ですが少しファイルサイズが大きくなります。\n"
    L"JPEG:画質を落とすことでファイルサイズを縮小できます。\n\n"
    L"品質(quality):この数値が高いほど高画質になります。(JPEGのみ)\n"
    L"サイズ上限(limit size):指定されたファイルサイズより大きくなる場合は品質を最低1まで自動的に下げます。(JPEGのみ)";

const wchar_t helpSaveto[] =
    L"保存先を指定します。\n\n"
    L"Same Folder:元画像と同じフォルダーに保存します。\n"
    L"Other Folder:保存先を自分で指定します。\n\n"
    L"Suffix:縮小後のファイル名は元のファイル名にSuffixを追加したものになります。";

void enableAll(std::initializer_list<wxWindow*> windows, bool enable) {
    for (wxWindow* window : windows) window->Enable(enable);
}

void showHelp(const wchar_t* text) {
    wxMessageBox(wxGetTranslation(text), wxMessageBoxCaptionStr, wxOK | wxCENTRE, nullptr);
}

wxString chooseFolderWithDialog(const wxString& message) {
    return wxDirSelector(message, wxEmptyString, wxDD_DEFAULT_STYLE, wxDefaultPosition, nullptr);
}

}  // namespace

pixloomFrame::pixloomFrame(wxWindow* parent)
    : GUIFrame(parent, wxID_ANY, wxT("画像縮小ツール pixloom (resize image for LCD)"),
               wxDefaultPosition, wxSize(590, 595), wxDEFAULT_FRAME_STYLE | wxTAB_TRAVERSAL),
      folderChooser(chooseFolderWithDialog) {
    // Drops anywhere on the window, not only on the list, fill the list.
    SetDropTarget(new MyFileDropTarget(lstFiles));
    listCommandLinePaths();
    loadSettings();
    // Restoring selections fires no events; bring the dependent controls in
    // line with them (a restored preset also overwrites the restored sizes).
    wxCommandEvent event(wxEVT_NULL, 0);
    onSelectSize(event);
    onSelectFiletype(event);
    onSelectDst(event);
}

pixloomFrame::~pixloomFrame() = default;

void pixloomFrame::listCommandLinePaths() {
    wxArrayString paths = commandLineArguments();
    if (paths.empty()) return;
    paths.RemoveAt(0);  // the program's own name
    if (!paths.empty()) addFiles(lstFiles, paths);
}

void pixloomFrame::setFolderChooser(FolderChooser chooser) {
    folderChooser = chooser ? std::move(chooser) : FolderChooser(chooseFolderWithDialog);
}

void pixloomFrame::onSelectSize(wxCommandEvent&) {
    const wxString selected = optSize->GetStringSelection();
    enableAll({lblOther, spnWidth, lblTimes, spnHeight, lblUnit, selUnits, chkFixRatio},
              selected == wxGetTranslation(wxT("Other")));
    for (const SizePreset& preset : sizePresets) {
        if (selected != preset.label) continue;
        spnWidth->SetValue(preset.width);
        spnHeight->SetValue(preset.height);
        selUnits->SetStringSelection(wxT("px"));
        chkFixRatio->SetValue(true);
    }
}

void pixloomFrame::onSelectFiletype(wxCommandEvent&) {
    enableAll({lblQuality, spnQuality, lblLimit, cmbLimit, lblKB},
              optFiletype->GetStringSelection() == wxGetTranslation(wxT("JPEG")));
}

void pixloomFrame::onSelectDst(wxCommandEvent&) {
    const bool sameFolder = optDst->GetStringSelection() == wxT("Same Folder");
    enableAll({lblSuffix, txtSuffix}, sameFolder);
    enableAll({lblSaveDir, txtSaveDir, btnSaveDir}, !sameFolder);
}

void pixloomFrame::onBrowseSaveDir(wxCommandEvent&) {
    const wxString folder =
        modal([this] { return folderChooser(wxGetTranslation(wxT("保存先を選択してください(Choose a folder)"))); });
    if (!folder.empty()) txtSaveDir->SetValue(folder);
}

void pixloomFrame::onHelpSize(wxCommandEvent&) {
    modal([] { showHelp(helpSize); });
}
void pixloomFrame::onHelpMethod(wxCommandEvent&) {
    modal([] { showHelp(helpMethod); });
}
void pixloomFrame::onHelpFiletype(wxCommandEvent&) {
    modal([] { showHelp(helpFiletype); });
}
void pixloomFrame::onHelpSaveto(wxCommandEvent&) {
    modal([] { showHelp(helpSaveto); });
}
