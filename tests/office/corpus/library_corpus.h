// A test over the corpus with the extraction library started and ended
// around it; skipped when the corpus is not there.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "extract/extractlib.h"
#include "support/isolation.h"

class LibraryCorpusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        corpus_ = ps_test::CorpusDir();
        if (corpus_.empty())
            GTEST_SKIP() << "no corpus";
        InitializeLibrary();
    }
    void TearDown() override
    {
        if (!corpus_.empty())
            FinalizeLibrary();
    }
    std::string corpus_;
};
