#include "ConvertOptions.h"
#include <gtest/gtest.h>
TEST(ConvertOptions, Builds) { korvane::TAVConvertOptions o; EXPECT_EQ(o.m_threadCount, 1); }
