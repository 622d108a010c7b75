// REGEDIT4 reader and writer: exact round trips, wrapping, strict refusal.
#include <gtest/gtest.h>

#include "regfile.h"

namespace {

using winsim::ParseRegFile;
using winsim::RegFileKey;
using winsim::reg::Value;

Value MakeValue(const std::string &name, DWORD type, const std::string &bytes) {
  return Value{name, type, std::vector<BYTE>(bytes.begin(), bytes.end())};
}

std::vector<RegFileKey> RoundTrip(const std::vector<RegFileKey> &keys) {
  std::string text = winsim::FormatRegFile(keys), error;
  std::vector<RegFileKey> back;
  EXPECT_TRUE(ParseRegFile(text, "t.reg", &back, &error)) << error << "\n" << text;
  return back;
}

std::string ParseError(const std::string &text) {
  std::vector<RegFileKey> keys;
  std::string error;
  EXPECT_FALSE(ParseRegFile(text, "t.reg", &keys, &error)) << text;
  EXPECT_TRUE(keys.empty());
  return error;
}

TEST(RegFile, EveryTypeAndAwkwardDataRoundTripsExactly) {
  std::string allBytes;
  for (int i = 0; i < 256; ++i) allBytes += char(i);
  std::vector<Value> values = {
      MakeValue("", REG_SZ, std::string("default\0", 8)),
      MakeValue("Quotes \"and\" C:\\back\\", REG_SZ, std::string("a\"b\\c\\\0", 7)),
      MakeValue("NoTerminator", REG_SZ, "abc"),
      MakeValue("EmbeddedZero", REG_SZ, std::string("abc\0def\0", 8)),
      MakeValue("EmptySize0", REG_SZ, ""),
      MakeValue("EmptyString", REG_SZ, std::string("\0", 1)),
      MakeValue("LineBreak", REG_SZ, std::string("a\r\nb\0", 5)),
      MakeValue("Ansi", REG_SZ, std::string("caf\xe9\0", 5)),
      MakeValue("Expand", REG_EXPAND_SZ, std::string("%windir%\\x\0", 11)),
      MakeValue("Multi", REG_MULTI_SZ, std::string("one\0two\0\0", 9)),
      MakeValue("Dword", REG_DWORD, std::string("\x2a\0\0\x80", 4)),
      MakeValue("ShortDword", REG_DWORD, std::string("\x01\x02", 2)),
      MakeValue("BigEndian", REG_DWORD_BIG_ENDIAN, std::string("\0\0\0\x01", 4)),
      MakeValue("None", REG_NONE, ""),
      MakeValue("OddType", 0x12345678, "xy"),
      MakeValue("EmptyBinary", REG_BINARY, ""),
      MakeValue("AllBytes", REG_BINARY, allBytes),
  };
  std::vector<RegFileKey> keys = {{"HKEY_LOCAL_MACHINE\\Software\\A", values, 0},
                                  {"HKEY_LOCAL_MACHINE\\Software\\A\\Empty Key", {}, 0}};
  std::vector<RegFileKey> back = RoundTrip(keys);
  ASSERT_EQ(2u, back.size());
  EXPECT_EQ(keys[0].path, back[0].path);
  EXPECT_EQ(keys[1].path, back[1].path);
  EXPECT_TRUE(back[1].values.empty());
  ASSERT_EQ(values.size(), back[0].values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(values[i].name, back[0].values[i].name);
    EXPECT_EQ(values[i].type, back[0].values[i].type) << values[i].name;
    EXPECT_EQ(values[i].data, back[0].values[i].data) << values[i].name;
  }
}

TEST(RegFile, WritesTheFormsRegeditWrites) {
  std::vector<RegFileKey> keys = {
      {"HKEY_CURRENT_USER\\K",
       {MakeValue("", REG_SZ, std::string("d\0", 2)), MakeValue("S", REG_SZ, std::string("a\\\"\0", 4)),
        MakeValue("D", REG_DWORD, std::string("\x2a\0\0\0", 4)), MakeValue("B", REG_BINARY, "\x01\xff"),
        MakeValue("M", REG_MULTI_SZ, std::string("o\0\0", 3))},
       0},
      {"HKEY_CURRENT_USER\\K\\Sub", {}, 0}};
  EXPECT_EQ(
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n@=\"d\"\r\n\"S\"=\"a\\\\\\\"\"\r\n"
      "\"D\"=dword:0000002a\r\n\"B\"=hex:01,ff\r\n\"M\"=hex(7):6f,00,00\r\n\r\n"
      "[HKEY_CURRENT_USER\\K\\Sub]\r\n\r\n",
      winsim::FormatRegFile(keys));
}

TEST(RegFile, LongHexIsWrappedUnder80ColumnsAndReadBack) {
  Value v = MakeValue("Long", REG_BINARY, std::string(100, '\x5a'));
  std::string line = winsim::FormatRegValue(v);
  size_t start = 0, lines = 0;
  while (start < line.size()) {
    size_t end = line.find("\r\n", start);
    if (end == std::string::npos) end = line.size();
    EXPECT_LT(end - start, 80u);
    if (end < line.size()) EXPECT_EQ(",\\", line.substr(end - 2, 2));
    ++lines;
    start = end + 2;
  }
  EXPECT_GT(lines, 2u);
  EXPECT_EQ(v.data, RoundTrip({{"HKEY_LOCAL_MACHINE\\X", {v}, 0}})[0].values[0].data);
}

TEST(RegFile, ReadsContinuationsCommentsMergesAndLineEnds) {
  std::string text =
      "REGEDIT4\n\n; a comment\n[HKEY_LOCAL_MACHINE\\A]\n\"Bin\"=hex:01,02,\\\n"
      "\t  03,\\\n    04\n[hkey_local_machine\\a]\n\"bin\"=hex(0):\n\"Cont\"=hex(7):61,\\\r\n  00,00\r\n";
  std::vector<RegFileKey> keys;
  std::string error;
  ASSERT_TRUE(ParseRegFile(text, "t.reg", &keys, &error)) << error;
  ASSERT_EQ(1u, keys.size());
  EXPECT_EQ(4, keys[0].line);
  ASSERT_EQ(2u, keys[0].values.size());
  EXPECT_EQ("Bin", keys[0].values[0].name);  // first spelling kept,
  EXPECT_EQ(DWORD(REG_NONE), keys[0].values[0].type);  // last data wins
  EXPECT_TRUE(keys[0].values[0].data.empty());
  EXPECT_EQ(std::vector<BYTE>({'a', 0, 0}), keys[0].values[1].data);
  EXPECT_EQ(DWORD(REG_MULTI_SZ), keys[0].values[1].type);
}

TEST(RegFile, RefusesWhatDoesNotParseWithFileAndLine) {
  const std::string h = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n";
  EXPECT_EQ("t.reg:1: expected the header line REGEDIT4", ParseError(""));
  EXPECT_EQ("t.reg:1: expected the header line REGEDIT4",
            ParseError("Windows Registry Editor Version 5.00\r\n"));
  EXPECT_EQ("t.reg:3: value before the first [key] line", ParseError("REGEDIT4\n\n\"a\"=\"b\"\n"));
  EXPECT_EQ("t.reg:4: missing closing quote", ParseError(h + "\"a\"=\"b\r\n"));
  EXPECT_EQ("t.reg:4: unexpected text after the closing quote", ParseError(h + "\"a\"=\"b\"c\r\n"));
  EXPECT_NE(std::string::npos, ParseError(h + "\"a\"=\"b\\n\"\r\n").find("t.reg:4: unknown escape"));
  EXPECT_NE(std::string::npos, ParseError(h + "\"a\"=dword:2a\r\n").find("t.reg:4: dword:"));
  EXPECT_NE(std::string::npos, ParseError(h + "\"a\"=hex:1,02\r\n").find("t.reg:4: expected two hex"));
  EXPECT_NE(std::string::npos, ParseError(h + "\"a\"=hex:01,\r\n").find("t.reg:4: expected two hex"));
  EXPECT_NE(std::string::npos, ParseError(h + "\"a\"=hex(z):01\r\n").find("t.reg:4: expected hex(N)"));
  EXPECT_NE(std::string::npos, ParseError(h + "\"a\"=-\r\n").find("t.reg:4: value deletion"));
  EXPECT_NE(std::string::npos, ParseError(h + "\"a\" = \"b\"\r\n").find("t.reg:4: expected '='"));
  EXPECT_NE(std::string::npos, ParseError(h + "garbage\r\n").find("t.reg:4: expected a [key]"));
  EXPECT_NE(std::string::npos, ParseError(h + "[-HKEY_LOCAL_MACHINE\\A]\r\n").find("t.reg:4: invalid key"));
  EXPECT_NE(std::string::npos, ParseError(h + "[HKEY_LOCAL_MACHINE\\\\A]\r\n").find("t.reg:4: invalid key"));
  EXPECT_NE(std::string::npos, ParseError(h + "[HKEY_LOCAL_MACHINE\\A\r\n").find("t.reg:4: expected ']'"));
  // A continuation that never comes, or a line continued without blanks.
  EXPECT_NE(std::string::npos, ParseError(h + "\"a\"=hex:01,\\\r\n").find("t.reg:4: continuation"));
  EXPECT_NE(std::string::npos, ParseError(h + "\"a\"=hex:01,\\\r\n02\r\n").find("t.reg:5: a continuation"));
  EXPECT_NE(std::string::npos, ParseError(h + "\"a\"=hex:01\\\r\n  02\r\n").find("t.reg:4: a continued"));
}

}  // namespace
