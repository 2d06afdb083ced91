#include "launcher/launch_sequence.h"

#include "launcher/client_command.h"

#include <gtest/gtest.h>

#include <windows.h>

TEST(LogFolderPath, TrailingBackslashIsNotDoubled) {
    EXPECT_EQ(LogFolderFromTempPath(L"C:\\users\\ann\\Temp\\"),
              L"C:\\users\\ann\\Temp\\Velmar_Client_Logs");
    EXPECT_EQ(LogFolderFromTempPath(L"C:\\TEMP"), L"C:\\TEMP\\Velmar_Client_Logs");
    // No temporary folder: the log folder sits at the root of the current drive.
    EXPECT_EQ(LogFolderFromTempPath(L""), L"\\Velmar_Client_Logs");
}

TEST(LocaleCodes, TakeCharactersZeroOneAndThreeFour) {
    LocaleCodeSet us = LocaleCodesFromText(L"en_US");
    EXPECT_STREQ(us.language, L"en");
    EXPECT_STREQ(us.country, L"US");
    // The separator is never examined, nor anything after character 4.
    LocaleCodeSet at = LocaleCodesFromText(L"de-AT;rest");
    EXPECT_STREQ(at.language, L"de");
    EXPECT_STREQ(at.country, L"AT");
}

TEST(LocaleCodes, ShortTextsGiveShortCodes) {
    LocaleCodeSet three = LocaleCodesFromText(L"fr_");
    EXPECT_STREQ(three.language, L"fr");
    EXPECT_STREQ(three.country, L"");
    LocaleCodeSet four = LocaleCodesFromText(L"fr_C");
    EXPECT_STREQ(four.country, L"C");
    LocaleCodeSet one = LocaleCodesFromText(L"f");
    EXPECT_STREQ(one.language, L"f");
    EXPECT_STREQ(one.country, L"");
    LocaleCodeSet none = LocaleCodesFromText(L"");
    EXPECT_STREQ(none.language, L"");
}

TEST(LocaleCodes, PropertyTextIsConvertedWithTheAnsiCodePage) {
    EXPECT_EQ(WidePropertyText("de-AT"), L"de-AT");
    EXPECT_EQ(WidePropertyText(""), L"");
    EXPECT_EQ(WidePropertyText(nullptr), L"");
    if (GetACP() == 1252) {
        // "é" is one byte in the ANSI code page and one wide character.
        LocaleCodeSet codes = LocaleCodesFromText(WidePropertyText("\xe9s_ES"));
        EXPECT_STREQ(codes.language, L"\u00e9s");
        EXPECT_STREQ(codes.country, L"ES");
    }
}

TEST(WorkFolderPath, IsTheArchivePathLessItsExtension) {
    EXPECT_EQ(WorkFolderFromArchivePath(L"C:\\Temp\\OffPlay\\rec_3.zip"),
              L"C:\\Temp\\OffPlay\\rec_3");
    EXPECT_EQ(WorkFolderFromArchivePath(L"C:\\T\u00e9mp\\\u65e5\u672c\\OffPlay\\rec_12.zip"),
              L"C:\\T\u00e9mp\\\u65e5\u672c\\OffPlay\\rec_12");
    EXPECT_EQ(WorkFolderFromArchivePath(L".zip"), L"");
    EXPECT_EQ(WorkFolderFromArchivePath(L"ab"), L"");
}

TEST(ClientStartCommand, PlaybackClientIsStartedUnquotedWithItsConfiguration) {
    ClientStart start = ComposeClientStart(L"C:\\Temp\\OffPlay\\rec_1", true);
    EXPECT_EQ(start.programPath, L"C:\\Temp\\OffPlay\\rec_1\\bin\\velmar.exe");
    EXPECT_EQ(start.configPath, L"C:\\Temp\\OffPlay\\rec_1\\properties\\offlineplayback.pbcf");
    EXPECT_EQ(start.commandLine,
              L"C:\\Temp\\OffPlay\\rec_1\\bin\\velmar.exe "
              L"C:\\Temp\\OffPlay\\rec_1\\properties\\offlineplayback.pbcf");
}

TEST(ClientStartCommand, AlternativeClientTakesTheDescriptorFile) {
    ClientStart start = ComposeClientStart(L"C:\\T\\rec_2", false);
    EXPECT_EQ(start.programPath, L"C:\\T\\rec_2\\bin\\launcher.exe");
    EXPECT_EQ(start.configPath, L"C:\\T\\rec_2\\properties\\offlineplayback.pbrd");
    EXPECT_EQ(start.commandLine,
              L"C:\\T\\rec_2\\bin\\launcher.exe C:\\T\\rec_2\\properties\\offlineplayback.pbrd");
}

TEST(ClientStartCommand, WorkFolderWithABlankGetsBothPathsQuoted) {
    ClientStart start = ComposeClientStart(L"C:\\users\\Ann Lee\\Temp\\OffPlay\\rec_1", true);
    EXPECT_EQ(start.commandLine,
              L"\"C:\\users\\Ann Lee\\Temp\\OffPlay\\rec_1\\bin\\velmar.exe\" "
              L"\"C:\\users\\Ann Lee\\Temp\\OffPlay\\rec_1\\properties\\offlineplayback.pbcf\"");
}
