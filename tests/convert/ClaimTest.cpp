#include "app/ConverterApp.h"
#include "convert/ConversionRun.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(ConversionClaim, OnlyOneClaimHoldsAndOnlyItsOwnerClearsIt)
{
    CConverterApp& app = ConverterApp();
    app.ConversionBusy = 0;
    const LONG first = ClaimConversion(app);
    ASSERT_NE(first, 0);
    EXPECT_EQ(app.ConversionBusy.load(), first);
    EXPECT_EQ(ClaimConversion(app), 0);

    // A cancel clears the flag; the cancelled run's release must leave the next run's claim alone.
    app.ConversionBusy = 0;
    const LONG second = ClaimConversion(app);
    ASSERT_NE(second, 0);
    ReleaseConversionClaim(app, first);
    EXPECT_EQ(app.ConversionBusy.load(), second);
    ReleaseConversionClaim(app, second);
    EXPECT_EQ(app.ConversionBusy.load(), 0);

    // Racing claims: exactly one wins each round.
    for (int round = 0; round < 50; ++round) {
        std::atomic<int> winners{0};
        UniqueHandle go(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        std::vector<std::thread> racers;
        for (int i = 0; i < 4; ++i) {
            racers.emplace_back([&] {
                ::WaitForSingleObject(go.Get(), INFINITE);
                winners += ClaimConversion(app) != 0;
            });
        }
        ::SetEvent(go.Get());
        for (std::thread& racer : racers)
            racer.join();
        ASSERT_EQ(winners.load(), 1) << "round " << round;
        app.ConversionBusy = 0;
    }
}
