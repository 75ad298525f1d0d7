// Loading pictures through the toolkit and handing them back.
#include "support.h"

#include <gtest/gtest.h>
#include <wx/ffile.h>
#include <wx/filename.h>
#include <wx/image.h>

#include <cstring>
#include <memory>

namespace {

using reference::Picture;

// A temporary file removed when the test ends.
class TempFile {
public:
    explicit TempFile(const wxString& extension)
        : path(wxFileName::CreateTempFileName(wxT("pixloom-test")) + wxT(".") + extension) {}
    ~TempFile() {
        wxRemoveFile(path);
        wxRemoveFile(path.BeforeLast('.'));
    }
    const wxString path;
};

// 3 x 2 pixels, each a different colour: pixel (x, y) is (10 + x, 20 + y, 30 + 10 * (x + 3 * y)).
Picture labelledPixels() {
    Picture picture(3, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            picture.at(x, y, 0) = static_cast<unsigned char>(10 + x);
            picture.at(x, y, 1) = static_cast<unsigned char>(20 + y);
            picture.at(x, y, 2) = static_cast<unsigned char>(30 + 10 * (x + 3 * y));
        }
    return picture;
}

void savePng(const Picture& picture, const wxString& path) {
    wxImage image(picture.width, picture.height, const_cast<unsigned char*>(picture.rgb.data()), true);
    ASSERT_TRUE(image.SaveFile(path, wxBITMAP_TYPE_PNG));
}

Image load(const wxString& path, int quarterTurns) { return Image(path, quarterTurns, wxBITMAP_TYPE_ANY, -1); }

TEST(Loading, ReadsThePixelsOfAPng) {
    TempFile file(wxT("png"));
    savePng(labelledPixels(), file.path);
    const Image image = load(file.path, 0);
    EXPECT_EQ(image.getWidth(), 3);
    EXPECT_EQ(image.getHeight(), 2);
    EXPECT_EQ(fromEngine(image).rgb, labelledPixels().rgb);
}

TEST(Loading, OneQuarterTurnIsClockwiseAndSwapsTheSides) {
    TempFile file(wxT("png"));
    const Picture source = labelledPixels();
    savePng(source, file.path);
    for (int turns : {1, 3, 7}) {  // above 2 still means one turn
        const Picture turned = fromEngine(load(file.path, turns));
        ASSERT_EQ(turned.width, 2) << turns;
        ASSERT_EQ(turned.height, 3) << turns;
        // Clockwise: the bottom-left source pixel lands top-left.
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 2; ++x)
                for (int c = 0; c < 3; ++c) EXPECT_EQ(turned.at(x, y, c), source.at(y, 1 - x, c)) << turns;
    }
}

TEST(Loading, TwoQuarterTurnsTurnThePictureUpsideDown) {
    TempFile file(wxT("png"));
    const Picture source = labelledPixels();
    savePng(source, file.path);
    const Picture turned = fromEngine(load(file.path, 2));
    ASSERT_EQ(turned.width, 3);
    ASSERT_EQ(turned.height, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(turned.at(x, y, c), source.at(2 - x, 1 - y, c));
}

TEST(Loading, DropsAlphaAndKeepsTheColours) {
    TempFile file(wxT("png"));
    const Picture source = labelledPixels();
    wxImage withAlpha(3, 2, const_cast<unsigned char*>(source.rgb.data()), true);
    withAlpha.InitAlpha();
    for (int x = 0; x < 3; ++x) withAlpha.SetAlpha(x, 0, 0);  // top row fully transparent
    ASSERT_TRUE(withAlpha.SaveFile(file.path, wxBITMAP_TYPE_PNG));
    const Image image = load(file.path, 0);
    EXPECT_EQ(fromEngine(image).rgb, source.rgb);
    std::unique_ptr<wxImage> handedBack(image.createImage());
    ASSERT_TRUE(handedBack);
    EXPECT_FALSE(handedBack->HasAlpha());
}

TEST(Loading, FileThatIsNoPictureGivesTheEmptyImage) {
    TempFile file(wxT("png"));
    wxFFile text(file.path, wxT("w"));
    text.Write(wxT("this is not a picture\n"));
    text.Close();
    for (const wxString& path : {file.path, wxString(wxT("/nonexistent/pixloom/none.png"))}) {
        const Image image = load(path, 1);
        EXPECT_TRUE(image.isEmpty());
        EXPECT_EQ(image.getWidth(), 0);
        EXPECT_EQ(image.getHeight(), 0);
        EXPECT_EQ(image.pixelData(), nullptr);
    }
}

TEST(HandingBack, CreateImageHoldsItsOwnCopy) {
    const Picture source = labelledPixels();
    auto image = toEngine(source);
    std::unique_ptr<wxImage> handedBack(image->createImage());
    ASSERT_TRUE(handedBack);
    ASSERT_EQ(handedBack->GetWidth(), 3);
    ASSERT_EQ(handedBack->GetHeight(), 2);
    EXPECT_NE(handedBack->GetData(), image->pixelData());

    image->resize(2, 1, false, false);  // the engine's image changes...
    EXPECT_EQ(0, std::memcmp(handedBack->GetData(), source.rgb.data(), source.rgb.size()));  // ...the copy doesn't

    handedBack->SetRGB(0, 0, 1, 2, 3);  // and the other way round
    EXPECT_EQ(fromEngine(*image).rgb, reference::resize(source, 2, 1, false, false, 0, 0).rgb);
}

TEST(HandingBack, CopyConstructorIsDeepAndKeepsTheSettings) {
    auto original = toEngine(labelledPixels());
    original->lcdSetting(5);
    original->softnessSetting(2);
    Image copy(*original);
    EXPECT_NE(copy.pixelData(), original->pixelData());
    EXPECT_EQ(copy.lcdSetting(-1), 5);
    EXPECT_EQ(copy.softnessSetting(-1), 2);
    original->cancel();
    Image copyOfCancelled(*original);
    original->resize(1, 1, false, false);
    EXPECT_EQ(fromEngine(copy).rgb, labelledPixels().rgb);
    copyOfCancelled.resize(1, 1, false, false);  // the cancel flag is not copied
    EXPECT_EQ(copyOfCancelled.getWidth(), 1);
}

}  // namespace
