#include "tests/ui/DialogFixture.h"

#include "convert/RunFeedback.h"
#include "framework/FileDialog.h"

#include <cstring>

namespace ui_test {
namespace {

class SingleFileCommand : public DialogFixture {
protected:
    void SetUp() override
    {
        DialogFixture::SetUp();
        // A graph that cannot be opened ends a started run at once, before any file is touched.
        app.Settings.UseFilterGraph = "missing.xgr";
        SetBalloonSinkForTests([this](const std::string& text, const char*, DWORD, UINT) { balloons.push_back(text); });
        SetFileDialogHandler([this](OPENFILENAMEA& ofn) {
            ++fileDialogs;
            request = ofn;
            const char* end = ofn.lpstrFilter;
            while (end && *end)
                end += strlen(end) + 1;
            filter.assign(ofn.lpstrFilter, end - ofn.lpstrFilter + 1);
            initialName = ofn.lpstrFile;
            if (chosen.empty())
                return FALSE;
            strncpy(ofn.lpstrFile, chosen.c_str(), ofn.nMaxFile - 1);
            return TRUE;
        });
    }

    void TearDown() override
    {
        DialogFixture::TearDown();
        SetBalloonSinkForTests(nullptr);
    }

    // The command, and the end of the run it may have started.
    void Convert()
    {
        Click(IDC_CONVERT_SINGLE);
        app.FinishSingleConversion();
    }

    int fileDialogs = 0;
    OPENFILENAMEA request = {};
    std::string filter; // with its terminators
    std::string initialName;
    std::string chosen;
    std::vector<std::string> balloons;
};

TEST_F(SingleFileCommand, OpenDialogOffersTheInputFilesAndItsCancelStartsNothing)
{
    app.SingleInputPath = "untouched";
    struct Case {
        const char* inputPath;
        const char* initialName;
    };
    for (Case c : {Case{"C:\\Recordings", "C:\\Recordings\\*.DVR-MS"}, Case{"C:\\", "C:\\*.DVR-MS"}}) {
        SCOPED_TRACE(c.inputPath);
        app.Settings.InputPath = c.inputPath;
        Open();
        Convert();

        EXPECT_EQ(window, request.hwndOwner);
        EXPECT_EQ(c.initialName, initialName);
        const char expected[] = "Input Files (*.DVR-MS)\0*.DVR-MS\0All Files (*.*)\0*.*\0";
        EXPECT_EQ(std::string(expected, sizeof(expected)), filter);
        EXPECT_EQ(static_cast<DWORD>(OFN_FILEMUSTEXIST | OFN_HIDEREADONLY),
                  request.Flags & (OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_ALLOWMULTISELECT));
        EXPECT_EQ(nullptr, request.lpstrDefExt);
        EXPECT_EQ(nullptr, request.lpstrTitle);
        Close();
    }
    EXPECT_EQ(2, fileDialogs);
    EXPECT_EQ("untouched", app.SingleInputPath);
    EXPECT_TRUE(balloons.empty());
}

TEST_F(SingleFileCommand, ChosenFileIsConvertedIntoTheOutputDirectoryUnderItsOwnName)
{
    struct Case {
        const char* outputPath;
        const char* chosenFile;
        const char* expectedOutput;
    };
    for (Case c : {Case{"D:\\Video", "E:\\Rec\\News.dvr-ms", "D:\\Video\\News.MPG"},
                   Case{"D:\\Video\\", "E:\\Rec\\a.b.dvr-ms", "D:\\Video\\a.b.MPG"},
                   Case{"D:\\My.Videos", "E:\\Rec\\Show", "D:\\My.Videos\\MPG"}}) {
        SCOPED_TRACE(c.chosenFile);
        app.Settings.OutputPath = c.outputPath;
        chosen = c.chosenFile;
        balloons.clear();
        Open();
        Convert();

        EXPECT_EQ(c.chosenFile, app.SingleInputPath);
        EXPECT_EQ(c.expectedOutput, app.SingleOutputPath);
        // The run got the same input, and its end gave the button back.
        ASSERT_FALSE(balloons.empty());
        EXPECT_EQ(0u, balloons.back().find(std::string("Converting : ") + c.chosenFile));
        EXPECT_EQ("Convert Single File...", Text(IDC_CONVERT_SINGLE));
        EXPECT_TRUE(Enabled(IDC_CONVERT_SINGLE));
        Close();
    }
}

// The button does what it reads, also while a started run has claimed the flag but not yet shown
// itself.
TEST_F(SingleFileCommand, TheButtonCancelsOnlyWhenItReadsCancel)
{
    struct Case {
        const char* caption;
        bool cancels;
    };
    for (Case c : {Case{"Cancel Conversion!", true}, Case{"Convert Single File...", false}}) {
        SCOPED_TRACE(c.caption);
        Open();
        app.SingleInputPath.clear();
        app.ConversionBusy = 5; // a run's claim on the flag
        ::SetDlgItemTextA(window, IDC_CONVERT_SINGLE, c.caption);
        Click(IDC_CONVERT_SINGLE);
        EXPECT_EQ(c.cancels ? 0 : 1, fileDialogs);
        EXPECT_EQ(c.cancels ? 0 : 5, app.ConversionBusy.load());
        EXPECT_EQ(!c.cancels, Enabled(IDC_CONVERT_SINGLE));
        EXPECT_TRUE(app.SingleInputPath.empty());
        Close();
        fileDialogs = 0;
        app.ConversionBusy = 0;
    }
}

} // namespace
} // namespace ui_test
