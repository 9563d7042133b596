#pragma once
// The real main dialog, created modeless on the test's thread and worked through its messages.

#include "app/ConverterApp.h"
#include "res/resource.h"
#include "tests/support/TestSupport.h"
#include "ui/ConverterDlg.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ui_test {

struct Question {
    std::string text;
    UINT type;
};

class DialogFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the dialog as the application's main window; hidden, as the modal run leaves it
    // until its first idle moment.
    void Open();
    void Close();

    HWND Item(int id) const { return ::GetDlgItem(window, id); }
    bool Enabled(int id) const { return ::IsWindowEnabled(Item(id)) != FALSE; }
    bool Checked(int id) const { return ::SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    std::string Text(int id) const { return testing_support::WindowText(Item(id)); }

    // The whole text replaced, which an edit box announces with EN_CHANGE like any edit.
    void SetText(int id, const std::string& text)
    {
        ::SendMessageA(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    void Click(int id) { ::SendMessageA(Item(id), BM_CLICK, 0, 0); }
    // A choice in the graph list as the user makes it: the list's selection and its notification.
    void ChooseGraph(const std::string& name);

    std::vector<std::string> GraphList() const;
    std::string SelectedGraph() const;

    void CreateGraphFile(const std::string& name) { testing_support::WriteFileBytes(programDirectory + name, "<graph/>"); }
    std::string RegistryKey() const { return "Software\\Morrowick\\" + app.m_appName; }

    CConverterApp& app = ConverterApp();
    std::unique_ptr<CConverterDlg> dialog;
    HWND window = nullptr;
    std::string programDirectory;
    std::vector<Question> questions;
    int answer = IDYES;
    std::function<void(const Question&)> onQuestion;
};

// Runs the script once from a thread timer, inside whichever message loop runs next.
void RunSoon(std::function<void()> script, UINT delayMs = 300);

} // namespace ui_test
