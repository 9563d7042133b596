
#include "tests/tray/FakeShell.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace tray_test;

// Balloons from conversion threads (four workers, text and title "w/i" for w + 1 seconds) and
// re-adds on the window's thread share the one record: the shell gets whole operations, one at a time.
TEST(TrayConcurrencyTest, BalloonsAndReaddsNeverInterleave)
{
    FakeShell versions;
    OwnerWindow owner;
    std::atomic<int> inFlight{0};
    std::atomic<int> faults{0};
    int balloons = 0; // counted one call at a time
    CSystemTray::Platform platform = versions.Make();
    platform.ShellNotifyIcon = [&](DWORD message, NOTIFYICONDATAA* record) {
        const NOTIFYICONDATAA copy = *record;
        const std::string text = Field(copy.szInfo, sizeof(copy.szInfo));
        const bool whole = message == NIM_MODIFY
            ? copy.uFlags == NIF_INFO && !text.empty() && text == Field(copy.szInfoTitle, sizeof(copy.szInfoTitle))
                && copy.uTimeout == static_cast<UINT>(text[0] - '0' + 1) * 1000
            : copy.uFlags == (message == NIM_ADD ? NIF_MESSAGE | NIF_ICON | NIF_TIP : 0u) && text.empty();
        faults += inFlight.fetch_add(1) != 0 || !whole;
        for (int i = 0; i < 4; ++i)
            ::SwitchToThread(); // so that a writer that does not wait for the call is caught
        faults += memcmp(record, &copy, sizeof(copy)) != 0;
        balloons += message == NIM_MODIFY;
        inFlight.fetch_sub(1);
        return TRUE;
    };
    CSystemTray tray(platform);
    ASSERT_TRUE(AddHalvern(tray, owner));

    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int worker = 0; worker < 4; ++worker) {
        workers.emplace_back([&, worker] {
            for (int index = 0; index < 300; ++index) {
                const std::string text = std::to_string(worker) + "/" + std::to_string(index);
                tray.ShowBalloonNotice(text.c_str(), text.c_str(), NIIF_NONE, worker + 1);
            }
            ++finished;
        });
    }
    do {
        SendTaskbarCreated(tray);
        SendWorkAreaChange(tray);
    } while (finished < 4);
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_TRUE(tray.RemoveFromTray());
    EXPECT_EQ(faults, 0);
    EXPECT_EQ(balloons, 4 * 300);
}
