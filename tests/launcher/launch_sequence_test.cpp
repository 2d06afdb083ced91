#include "launcher/launch_sequence.h"

#include <gtest/gtest.h>

TEST(LogFolderPath, TrailingBackslashIsNotDoubled) {
    EXPECT_EQ(LogFolderFromTempPath(L"C:\\users\\ann\\Temp\\"),
              L"C:\\users\\ann\\Temp\\Velmar_Client_Logs");
    EXPECT_EQ(LogFolderFromTempPath(L"C:\\TEMP"), L"C:\\TEMP\\Velmar_Client_Logs");
    // No temporary folder: the log folder sits at the root of the current drive.
    EXPECT_EQ(LogFolderFromTempPath(L""), L"\\Velmar_Client_Logs");
}
