// SPDX-License-Identifier: MIT
#include "pixloomFrame.h"

#include "commandline.h"
#include "filelist.h"
#include "settings.h"

#include <wx/dirdlg.h>
#include <wx/display.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>

#include <algorithm>
#include <initializer_list>

namespace {

const wchar_t helpSize[] =
    L"縮小したいサイズを選択してください。\n"
    L"Otherを選択すると詳細なサイズを自分で指定できます。\n\n"
    L"Other: 横幅、高さの順で数値を入力して下さい。\n"
    L"単位(unit): ピクセル(ドット)単位と%単位指定が選べます。\n"
    L"縦横比固定(fix ratio): チェックするとアスペクト比を維持したまま縮小します。\n"
    L"縮小のみ(Only reduce): 指定サイズより小さい画像は拡大せず、元のサイズのまま変換します。";

const wchar_t helpMethod[] =
    L"縮小に使用する方式を選択します。通常は変更しなくてOKです。\n\n"
    L"Nearest:最速です。画質は一般的に最悪です。\n"
    L"Lanczos3:高画質です。画像が回転拡大縮小表示される場合におすすめです。\n"
    L"LCD: 液晶ディスプレイに最適化します。あまり効果を強くすると鮮明になる代わりに色がにじむ場合があります。\n\n"
    L"リニア光(Linear light): 色の値ではなく光の量で平均します。細い線や文字が暗くなりません。\n"
    L"一般的なRGB配列の液晶画面の見え方を模擬した測定では、文字と写真はLCD(hi)、グラフはLanczos3を、"
    L"それぞれリニア光と組み合わせたものが最も忠実でした。LCD(low)とLCD(mid)はLanczos3に及びませんでした。";

const wchar_t helpFiletype[] =
    L"保存形式を指定します。PNG形式を推奨します。\n\n"
    L"BMP:高画質ですがファイルサイズが大きくなります。\n"
    L"PNG:高画質ですが少しファイルサイズが大きくなります。\n"
    L"JPEG:画質を落とすことでファイルサイズを縮小できます。\n"
    L"WebP:JPEGと同じく画質を落とすことで、より小さなファイルにできます。\n\n"
    L"品質(quality):この数値が高いほど高画質になります。(JPEG・WebPのみ)\n"
    L"サイズ上限(limit "
    L"size):指定されたファイルサイズより大きくなる場合は品質を最低1まで自動的に下げます。(JPEG・WebPのみ)\n"
    L"最低品質(lowest "
    L"quality):サイズ上限に収めるのにこれより低い品質が必要な場合は、代わりに画像を10%ずつ小さくします。\n"
    L"プログレッシブ(progressive):JPEGをより小さく保存します。読めない機器もあります。";

const wchar_t helpSaveto[] =
    L"保存先を指定します。\n\n"
    L"Same Folder:元画像と同じフォルダーに保存します。\n"
    L"Other Folder:保存先を自分で指定します。\n\n"
    L"Suffix:縮小後のファイル名は元のファイル名にSuffixを追加したものになります。\n"
    L"Suffixの中の {w} は出力の幅、{h} は高さ(ピクセル)、{size} は指定サイズ(1920x1080、50%など)に置き換わります。"
    L"例: _{w} → cat_1920.jpg\n"
    L"Other Folderでは、Suffixに {w} {h} {size} がある時だけファイル名に追加します。\n\n"
    L"サブフォルダを保つ(Keep sub-folders): "
    L"フォルダーをドロップした時、保存先にそのフォルダー名とサブフォルダーを作って保存します。\n"
    L"日付を保つ(Keep file dates): 出力ファイルの更新日時を元画像と同じにします。";

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
    : GUIFrame(parent, wxID_ANY, wxT("画像縮小ツール pixloom (resize image for LCD)"), wxDefaultPosition,
               wxSize(590, 595), wxDEFAULT_FRAME_STYLE | wxTAB_TRAVERSAL),
      folderChooser(chooseFolderWithDialog) {
    // Drops anywhere on the window, not only on the list, fill the list.
    SetDropTarget(new MyFileDropTarget(lstFiles));
    bindPreview();
    listCommandLinePaths();
    loadSettings();
    // Restoring selections fires no events; bring the dependent controls in
    // line with them (a restored preset also overwrites the restored sizes).
    wxCommandEvent event(wxEVT_NULL, 0);
    onSelectSize(event);
    onSelectFiletype(event);
    onSelectDst(event);
    // Wholly on screen and centred, at the size the layout needs. A window
    // manager may place a new window by a size it does not have yet (its top
    // left corner then lands in the screen's centre), so the window is
    // centred once it is shown, by the size it asks for.
    wxSize size = GetSize();
    size.IncTo(GetMinSize());
    SetSize(size);
    Bind(wxEVT_SHOW, &pixloomFrame::centreWhenShown, this);
}

void pixloomFrame::centreWhenShown(wxShowEvent& event) {
    event.Skip();
    if (!event.IsShown()) return;
    Unbind(wxEVT_SHOW, &pixloomFrame::centreWhenShown, this);
    CallAfter([this] {
        wxSize size = GetSize();
        size.IncTo(GetMinSize());
        const int display = wxDisplay::GetFromWindow(this);
        const wxRect area = wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
        Move(area.x + std::max(0, (area.width - size.x) / 2), area.y + std::max(0, (area.height - size.y) / 2));
    });
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
    for (const SizePreset& preset : sizePresets()) {
        if (selected != preset.label) continue;
        spnWidth->SetValue(preset.width);
        spnHeight->SetValue(preset.height);
        selUnits->SetStringSelection(wxT("px"));
        chkFixRatio->SetValue(true);
    }
}

void pixloomFrame::onSelectFiletype(wxCommandEvent&) {
    // Quality and size limit are for the lossy types (JPEG, WebP); progressive coding for JPEG.
    bool lossy = false, jpeg = false;
    for (const FileTypeInfo& type : fileTypes())
        if (optFiletype->GetStringSelection() == wxGetTranslation(type.label))
            lossy = type.lossy, jpeg = type.type == FileType::JPEG;
    enableAll({lblQuality, spnQuality, lblLimit, cmbLimit, lblKB, lblMinQuality, spnMinQuality}, lossy);
    chkProgressive->Enable(jpeg);
}

void pixloomFrame::onSelectDst(wxCommandEvent&) {
    // The suffix stays open in both: with placeholders it names outputs in
    // the other folder too.
    const bool sameFolder = optDst->GetStringSelection() == wxT("Same Folder");
    enableAll({lblSaveDir, txtSaveDir, btnSaveDir, chkKeepTree}, !sameFolder);
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
