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

    // A cancel clears the flag; a run that starts then puts its own claim there, which the
    // cancelled run's release must leave alone.
    app.ConversionBusy = 0;
    const LONG second = ClaimConversion(app);
    ASSERT_NE(second, 0);
    EXPECT_NE(second, first);
    ReleaseConversionClaim(app, first);
    EXPECT_EQ(app.ConversionBusy.load(), second);
    ReleaseConversionClaim(app, second);
    EXPECT_EQ(app.ConversionBusy.load(), 0);
}

TEST(ConversionClaim, RacingClaimsGiveExactlyOneWinner)
{
    CConverterApp& app = ConverterApp();
    for (int round = 0; round < 50; ++round) {
        app.ConversionBusy = 0;
        std::atomic<int> winners{0};
        UniqueHandle start(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        std::vector<std::thread> racers;
        for (int i = 0; i < 4; ++i) {
            racers.emplace_back([&] {
                ::WaitForSingleObject(start.Get(), INFINITE);
                if (ClaimConversion(ConverterApp()))
                    ++winners;
            });
        }
        ::SetEvent(start.Get());
        for (std::thread& racer : racers)
            racer.join();
        ASSERT_EQ(winners.load(), 1) << "round " << round;
    }
    app.ConversionBusy = 0;
}
