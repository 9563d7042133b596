// Balloons from conversion threads and re-adds on the window's thread share the one record: each
// operation must fill it and hand it to the shell without another one writing in between.

#include "tests/tray/FakeShell.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

using namespace tray_test;

namespace {

constexpr int kWorkers = 4;
constexpr int kBalloonsPerWorker = 300;

// Whether the record is one whole operation's: a balloon of one worker, an add or the delete.
bool Consistent(DWORD message, const NOTIFYICONDATAA& record, HWND owner)
{
    if (record.hWnd != owner || record.uID != kIconId)
        return false;
    std::string text = Field(record.szInfo, sizeof(record.szInfo));
    int worker = -1;
    int index = -1;
    switch (message) {
    case NIM_MODIFY:
        return sscanf(text.c_str(), "balloon %d %d", &worker, &index) == 2 && record.uFlags == NIF_INFO
            && Field(record.szInfoTitle, sizeof(record.szInfoTitle)) == "worker " + std::to_string(worker)
            && record.uTimeout == static_cast<UINT>(worker + 1) * 1000;
    case NIM_ADD:
        return record.uFlags == (NIF_MESSAGE | NIF_ICON | NIF_TIP) && text.empty()
            && Field(record.szTip, sizeof(record.szTip)) == "Halvern";
    case NIM_DELETE:
        return record.uFlags == 0;
    default:
        return false;
    }
}

TEST(TrayConcurrencyTest, BalloonsAndReaddsNeverInterleave)
{
    FakeShell versions;
    OwnerWindow owner;
    std::atomic<int> inFlight{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> mixed{0};
    std::atomic<int> calls[3] = {{0}, {0}, {0}}; // by NIM_ADD, NIM_MODIFY, NIM_DELETE
    CSystemTray::Platform platform = versions.Make();
    platform.ShellNotifyIcon = [&](DWORD message, NOTIFYICONDATAA* record) {
        if (inFlight.fetch_add(1) != 0)
            ++overlaps;
        NOTIFYICONDATAA snapshot = *record;
        if (!Consistent(message, snapshot, owner.m_hWnd))
            ++mixed;
        // Stay in the call a little, so that a writer that does not wait for it is caught.
        for (int i = 0; i < 4; ++i)
            ::SwitchToThread();
        if (memcmp(record, &snapshot, sizeof(snapshot)) != 0)
            ++mixed;
        inFlight.fetch_sub(1);
        if (message <= NIM_DELETE)
            ++calls[message];
        return TRUE;
    };
    CSystemTray tray(platform);
    ASSERT_TRUE(AddHalvern(tray, owner));

    std::atomic<bool> go{false};
    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int worker = 0; worker < kWorkers; ++worker) {
        workers.emplace_back([&, worker] {
            while (!go)
                std::this_thread::yield();
            std::string title = "worker " + std::to_string(worker);
            for (int index = 0; index < kBalloonsPerWorker; ++index) {
                std::string text = "balloon " + std::to_string(worker) + " " + std::to_string(index);
                tray.ShowBalloonNotice(text.c_str(), title.c_str(), NIIF_NONE, worker + 1);
            }
            ++finished;
        });
    }
    int readds = 0;
    go = true;
    do {
        SendTaskbarCreated(tray);
        SendWorkAreaChange(tray);
        readds += 2;
    } while (finished < kWorkers);
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_TRUE(tray.RemoveFromTray());

    EXPECT_EQ(overlaps, 0);
    EXPECT_EQ(mixed, 0);
    EXPECT_EQ(calls[NIM_MODIFY], kWorkers * kBalloonsPerWorker);
    EXPECT_EQ(calls[NIM_ADD], readds + 1);
    EXPECT_EQ(calls[NIM_DELETE], 1);
}

} // namespace
