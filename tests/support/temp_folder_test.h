// Tests with new empty folders of their own.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace testing_support {

// A test that makes its folders with NewFolder (in its SetUp) and finds
// them gone, with everything in them, once it and its TearDown are over.
class TempFolderTest : public ::testing::Test {
protected:
    ~TempFolderTest() override {
        for (const std::string &folder : made_) RemoveTree(folder);
    }

    // Sets folder to a new one (see MakeTempFolder); false when none could
    // be made.
    bool NewFolder(std::string &folder) {
        folder = MakeTempFolder();
        if (folder.empty()) return false;
        made_.push_back(folder);
        return true;
    }

private:
    std::vector<std::string> made_;
};

}  // namespace testing_support
