#include <gtest/gtest.h>

#include "IPMACEdit.h"

TEST(IPEditTest, NewFieldReadsZeroAddress) {
    TIPEdit edit;
    EXPECT_EQ(edit.Text(), QStringLiteral("0.0.0.0"));
    EXPECT_EQ(edit.Mask(), 24);
}
