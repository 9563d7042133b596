// Balloons from conversion threads and re-adds on the window's thread share the one record: each
// operation must fill it and hand it to the shell without another one writing in between.

#include "tests/tray/FakeShell.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace tray_test;

namespace {

constexpr int kWorkers = 4;
constexpr int kBalloonsPerWorker = 300;

std::string BalloonText(int worker, int index)
{
    return "balloon " + std::to_string(worker) + " " + std::to_string(index);
}

std::string BalloonTitle(int worker)
{
    return "worker " + std::to_string(worker);
}

// Checks each record against the operation it is handed for, and that calls never overlap.
class CheckingShell {
public:
    explicit CheckingShell(HWND owner) : owner_(owner) {}

    BOOL Call(DWORD message, NOTIFYICONDATAA* record)
    {
        if (inFlight_.fetch_add(1) != 0)
            Fail("two shell calls at once");
        NOTIFYICONDATAA snapshot = *record;
        Check(message, snapshot);
        // Stay in the call a little, so that a writer that does not wait for it is caught.
        for (int i = 0; i < 4; ++i)
            ::SwitchToThread();
        if (memcmp(record, &snapshot, sizeof(snapshot)) != 0)
            Fail("the record changed during a shell call");
        inFlight_.fetch_sub(1);

        if (message == NIM_MODIFY)
            ++Modifies;
        else if (message == NIM_ADD)
            ++Adds;
        else if (message == NIM_DELETE)
            ++Deletes;
        return TRUE;
    }

    std::vector<std::string> Failures()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return failures_;
    }

    std::atomic<int> Modifies{0};
    std::atomic<int> Adds{0};
    std::atomic<int> Deletes{0};

private:
    void Check(DWORD message, const NOTIFYICONDATAA& record)
    {
        if (record.hWnd != owner_ || record.uID != kIconId)
            Fail("the record lost its icon identity");
        std::string text = Field(record.szInfo, sizeof(record.szInfo));
        std::string title = Field(record.szInfoTitle, sizeof(record.szInfoTitle));
        switch (message) {
        case NIM_MODIFY: {
            int worker = -1;
            int index = -1;
            if (sscanf(text.c_str(), "balloon %d %d", &worker, &index) != 2 || record.uFlags != NIF_INFO
                || title != BalloonTitle(worker) || record.uTimeout != static_cast<UINT>(worker + 1) * 1000
                || record.dwInfoFlags != static_cast<DWORD>(worker % 4))
                Fail("mixed balloon: '" + text + "' / '" + title + "' flags " + std::to_string(record.uFlags)
                     + " timeout " + std::to_string(record.uTimeout));
            break;
        }
        case NIM_ADD:
            if (record.uFlags != (NIF_MESSAGE | NIF_ICON | NIF_TIP) || !text.empty()
                || Field(record.szTip, sizeof(record.szTip)) != "Halvern")
                Fail("mixed add: flags " + std::to_string(record.uFlags) + " text '" + text + "'");
            break;
        case NIM_DELETE:
            if (record.uFlags != 0)
                Fail("mixed delete: flags " + std::to_string(record.uFlags));
            break;
        default:
            Fail("unexpected message " + std::to_string(message));
        }
    }

    void Fail(const std::string& what)
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (failures_.size() < 10)
            failures_.push_back(what);
    }

    HWND owner_;
    std::atomic<int> inFlight_{0};
    std::mutex mutex_;
    std::vector<std::string> failures_;
};

TEST(TrayConcurrencyTest, BalloonsAndReaddsNeverInterleave)
{
    FakeShell versions;
    OwnerWindow owner;
    CheckingShell checker(owner.m_hWnd);
    CSystemTray::Platform platform = versions.Make();
    platform.ShellNotifyIcon = [&checker](DWORD message, NOTIFYICONDATAA* record) {
        return checker.Call(message, record);
    };
    CSystemTray tray(platform);
    ASSERT_TRUE(tray.AddToTray(&owner, WM_TRAY_CALLBACK, "Halvern", TestIcon(), kIconId));

    std::atomic<bool> go{false};
    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int worker = 0; worker < kWorkers; ++worker) {
        workers.emplace_back([&, worker] {
            while (!go)
                std::this_thread::yield();
            std::string title = BalloonTitle(worker);
            for (int index = 0; index < kBalloonsPerWorker; ++index)
                tray.ShowBalloonNotice(BalloonText(worker, index).c_str(), title.c_str(), worker % 4, worker + 1);
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

    std::vector<std::string> failures = checker.Failures();
    for (const std::string& failure : failures)
        ADD_FAILURE() << failure;
    EXPECT_EQ(checker.Modifies, kWorkers * kBalloonsPerWorker);
    EXPECT_EQ(checker.Adds, readds + 1);
    EXPECT_EQ(checker.Deletes, 1);
    EXPECT_EQ(tray.IconRecord.szInfo[0], '\0');
}

} // namespace
