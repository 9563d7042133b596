#pragma once
// What every black-box test starts from: empty directories, no stored settings, no lock left over.

#include <gtest/gtest.h>

#include "tests/blackbox/HalvernDriver.h"

namespace blackbox {

class BlackBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        input = testing_support::MakeScratchDirectory("blackbox-in");
        output = testing_support::MakeScratchDirectory("blackbox-out");
        logs = testing_support::MakeScratchDirectory("blackbox-log");
        testing_support::DeleteRegistryTree(kSettingsKey);
        ::DeleteFileA(LockFilePath().c_str());
    }

    void TearDown() override
    {
        // A Halvern that a failed test left running must not hold the lock for the next test.
        halvern.Process().Kill();
        testing_support::DeleteRegistryTree(kSettingsKey);
    }

    StoredSettings Defaults() const
    {
        StoredSettings settings;
        settings.InputPath = input;
        settings.OutputPath = output;
        return settings;
    }

    std::string StdoutPath() const { return logs + "stdout.txt"; }

    std::string input;
    std::string output;
    std::string logs;
    HalvernRun halvern;
};

} // namespace blackbox
