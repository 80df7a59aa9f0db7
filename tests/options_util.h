// Field-by-field comparison of export options, shared by the store's tests.
#pragma once

#include <gtest/gtest.h>

#include "QsxExp/Options.h"

inline void ExpectOptions(const qsx::ExportOptions& got, const qsx::ExportOptions& want) {
    EXPECT_EQ(got.scaleFactor, want.scaleFactor);
    EXPECT_EQ(got.scaleType, want.scaleType);
    EXPECT_EQ(got.centre, want.centre);
    EXPECT_EQ(got.saveHeader, want.saveHeader);
    EXPECT_EQ(got.saveAnimation, want.saveAnimation);
    EXPECT_EQ(got.hierarchyType, want.hierarchyType);
    EXPECT_EQ(got.textureFlags, want.textureFlags);
    EXPECT_EQ(got.hints, want.hints);
    EXPECT_EQ(got.extName, want.extName);
}
