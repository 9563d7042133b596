// HalvernWindow wait <seconds> | close
// Waits until Halvern's main window is visible, or asks it to close as its close button would.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

HWND FindMainWindow()
{
    // The main dialog is the "Halvern" dialog that has the single-file button.
    HWND window = nullptr;
    while ((window = ::FindWindowExA(nullptr, window, "#32770", "Halvern")) != nullptr) {
        if (::GetDlgItem(window, 1000))
            return window;
    }
    return nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && strcmp(argv[1], "wait") == 0) {
        int seconds = argc >= 3 ? atoi(argv[2]) : 30;
        for (int i = 0; i < seconds * 10; ++i) {
            HWND window = FindMainWindow();
            if (window && ::IsWindowVisible(window)) {
                ::Sleep(500); // let it finish painting
                return 0;
            }
            ::Sleep(100);
        }
        fprintf(stderr, "Halvern's window did not appear\n");
        return 1;
    }
    if (argc >= 2 && strcmp(argv[1], "close") == 0) {
        HWND window = FindMainWindow();
        if (!window)
            return 1;
        ::PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    }
    fprintf(stderr, "usage: HalvernWindow wait <seconds> | close\n");
    return 2;
}
