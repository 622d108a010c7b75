// Names in the machine's ANSI code page: the first byte picks one of the
// code pages a machine may have, the rest is a name.  Splitting into
// characters and at backslash characters loses no byte, upper case keeps
// the character boundaries and is idempotent, CharNextA steps over the
// same characters in the double-byte pages, WithBackslash leaves exactly
// one backslash character, and a path resolves without harm.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <windows.h>

#include "codepage.h"
#include "deploy/deploy.h"
#include "machine.h"
#include "machine_text.h"
#include "paths.h"

namespace {

void Attach() {
  static bool attached = false;
  if (attached) return;
  char pattern[] = "/tmp/fuzz-codepage-XXXXXX";
  std::string dir = mkdtemp(pattern);
  std::string error;
  if (!winsim::CreateMachine(winsim::TemplateDir("winxp-ja"), dir + "/m", &error) ||
      !winsim::Attach(dir + "/m", &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::abort();
  }
  attached = true;
}

std::string Join(const std::vector<std::string> &parts, const std::string &separator) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? separator : "") + parts[i];
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const UINT kPages[] = {1252, 932, 936, 949, 950, 65001};
  if (size == 0) return 0;
  Attach();
  const UINT page = kPages[data[0] % 6];
  winsim::Config().codePage = page;
  std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
  text = text.substr(0, text.find('\0'));

  const std::vector<std::string> chars = winsim::SplitChars(text);
  if (Join(chars, "") != text) __builtin_trap();
  if (Join(winsim::SplitAtChar(text, '\\'), "\\") != text) __builtin_trap();
  const std::string upper = winsim::UpperText(text);
  if (winsim::UpperText(upper) != upper) __builtin_trap();
  const std::vector<std::string> upperChars = winsim::SplitChars(upper);
  if (upperChars.size() != chars.size()) __builtin_trap();
  for (size_t i = 0; i < chars.size(); ++i)
    if (upperChars[i].size() != chars[i].size()) __builtin_trap();

  if (page != 1252 && page != CP_UTF8) {
    size_t i = 0;
    for (const char *p = text.c_str(); *p; p = CharNextA(p), ++i)
      if (i >= chars.size() || size_t(CharNextA(p) - p) != chars[i].size()) __builtin_trap();
    if (i != chars.size()) __builtin_trap();
  }

  // A name that ends in a lone lead byte takes the appended backslash as
  // its second byte, on Windows too: left out.
  const bool loneLead = !chars.empty() && chars.back().size() == 1 &&
                        winsim::CodePageLeadByte(page, BYTE(chars.back()[0]));
  if (!text.empty() && !loneLead) {
    const std::string added = WithBackslash(text, 1);
    if (!winsim::EndsWithChar(added, '\\') || WithBackslash(added, 1) != added) __builtin_trap();
    if (!winsim::EndsWithChar(text, '\\') && WithBackslash(added, 2) != text) __builtin_trap();
  }

  winsim::ResolvedPath resolved;
  winsim::ResolvePath(("C:\\" + text).c_str(), &resolved);
  GetFileAttributesA(("C:\\" + text).c_str());
  return 0;
}
