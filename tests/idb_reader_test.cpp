#include "export/idb_reader.h"

#include <gtest/gtest.h>

TEST(ToBitDigits, PadsToEightDigits) { EXPECT_EQ(idb::ToBitDigits(5), "00000101"); }
