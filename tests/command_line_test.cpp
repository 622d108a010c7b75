// Splitting of the process command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setup/setup.h"
#include "test_machine.h"

namespace {
typedef std::vector<std::string> Args;
}

TEST(SplitCommandLine, QuotesBlanksAndControlCharacters) {
  EXPECT_EQ(Args({"C:\\Program Files\\VARSETUP.EXE", "C:\\Korvix Studio", "Manual"}),
            SplitCommandLine("\"C:\\Program Files\\VARSETUP.EXE\" \"C:\\Korvix Studio\" Manual"));
  EXPECT_EQ(Args({"prog", "a", "b"}), SplitCommandLine("  prog\t\ta\r\n\x01 b  "));
  EXPECT_EQ(Args({"prog", "C:\\My Dir\\x", "y"}), SplitCommandLine("prog C:\\\"My Dir\"\\x y"));
  EXPECT_EQ(Args({"prog", "Ab c"}), SplitCommandLine("prog A\"b c\""));
  EXPECT_EQ(Args({"prog", "open"}), SplitCommandLine("prog \"open"));  // unclosed quote runs to the end
  EXPECT_EQ(Args(), SplitCommandLine(""));
  EXPECT_EQ(Args(), SplitCommandLine(nullptr));
  EXPECT_EQ(Args(), SplitCommandLine(" \t "));
}

TEST(SplitCommandLine, EmptyQuotesBeforeAnArgumentAreSkipped) {
  EXPECT_EQ(Args({"prog", "second"}), SplitCommandLine("prog \"\" second"));
  EXPECT_EQ(Args({"prog", "second"}), SplitCommandLine("prog \"\"\"\" second"));
  EXPECT_EQ(Args({"prog", "x"}), SplitCommandLine("prog \"\"x"));
  EXPECT_EQ(Args({"prog"}), SplitCommandLine("prog \"\""));
}

TEST(SplitCommandLine, HighBytesBelongToTheArgument) {
  // Bytes from 0x80 up are letters (code page 1252) or halves of double-byte
  // characters, never separators.
  EXPECT_EQ(Args({"prog", "C:\\Programme\\M\xfcller", "\x83\x65\x83\x58"}),
            SplitCommandLine("prog C:\\Programme\\M\xfcller \x83\x65\x83\x58"));
}

TEST(SplitCommandLine, LongArgumentsAreTakenWhole) {
  const std::string longDir = "C:\\" + std::string(300, 'd') + "\\Korvix Studio";
  const std::string plain(1000, 'p');
  Args args = SplitCommandLine(("prog \"" + longDir + "\" " + plain).c_str());
  ASSERT_EQ(3u, args.size());
  EXPECT_EQ(longDir, args[1]);
  EXPECT_EQ(plain, args[2]);
}

TEST(CommandLineArgument, ReadsTheProcessCommandLine) {
  TestMachine machine("winxp");
  winsim::Config().commandLine = "\"C:\\SETUP\\VARSETUP.EXE\" \"\" \"D:\\Korvix Studio\"";
  EXPECT_EQ("C:\\SETUP\\VARSETUP.EXE", CommandLineArgument(0));
  EXPECT_EQ("D:\\Korvix Studio", CommandLineArgument(1));
  EXPECT_EQ("", CommandLineArgument(2));
  EXPECT_EQ("", CommandLineArgument(7));
}
