// How keys become kinds: offsets, key roles, pairing and hexadecimal text, as
// the load builds them, and the lint seeing exactly the same kinds.

#include "catalog/read_kind.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "catalog/catalogue_lint.h"
#include "catalog/fragment_engine.h"
#include "support/temp_folder.h"

namespace tessaro {
namespace {

using testing::TempFolder;
using testing::WriteCatalogue;

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

// Whether a finding (of `section`, when one is given) says `words`.
bool Says(const std::vector<LintFinding>& findings, const std::string& words, const std::string& section = "") {
  for (const LintFinding& f : findings) {
    if ((section.empty() || f.section == section) && f.message.find(words) != std::string::npos) return true;
  }
  return false;
}

void ExpectSameKind(const FileTypeRecord& loaded, const FileTypeRecord& linted) {
  EXPECT_EQ(loaded.name, linted.name);
  EXPECT_EQ(loaded.extension, linted.extension);
  EXPECT_EQ(loaded.offsets, linted.offsets);
  EXPECT_EQ(loaded.signatures, linted.signatures);
  EXPECT_EQ(loaded.signatureBytes, linted.signatureBytes);
  EXPECT_EQ(loaded.addons, linted.addons);
  EXPECT_EQ(loaded.addonBytes, linted.addonBytes);
}

// One kind per value, all in one catalogue: the load's offset, the lint's
// offset and the lint's word on a value beyond the 64-bit range.
TEST(ReadKindTest, LoadAndLintReadEveryOffsetAlike) {
  struct Case {
    std::string text;
    std::int64_t offset;
    bool outOfRange;
  };
  const std::vector<Case> cases = {
      {"0", 0, false},
      {"2147483648", 2147483648LL, false},  // beyond 32 bits
      {"9223372036854775800", 9223372036854775800LL, false},
      {"9223372036854775808", kMax, true},
      {"99999999999999999999999", kMax, true},
      {"-9223372036854775808", kMin, false},
      {"-9223372036854775809", kMin, true},
      {"-4", -4, false},
      {"+12", 12, false},
      {"- 5", 0, false},
      {"\f\v-7", -7, false},  // white space the reader's trim leaves
      {"\xA0" "12", 0, false},  // a no-break space is no white space
      {"0x10", 0, false},
      {"12abc", 12, false},
      {"", 0, false},
  };
  std::string text;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    text += "[K" + std::to_string(i) + "]\noffset1 = " + cases[i].text + "\nsignature1 = 41\npostfix = .k\n";
  }
  TempFolder folder;
  const std::string path = WriteCatalogue(folder, text);
  FragmentEngine engine(path);
  ASSERT_TRUE(engine.ready) << engine.lastError;
  std::vector<FileTypeRecord> linted;
  const std::vector<LintFinding> findings = LintCatalogue(path, &linted);
  ASSERT_EQ(linted.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(::testing::PrintToString(cases[i].text));
    EXPECT_EQ(engine.kinds[i]->offsets, std::vector<std::int64_t>{cases[i].offset});
    EXPECT_EQ(linted[i].offsets, engine.kinds[i]->offsets);
    EXPECT_EQ(Says(findings, "beyond the 64-bit range", "K" + std::to_string(i)), cases[i].outOfRange);
  }
}

// Keys in surprising roles, broken pairs, CR CR LF line ends and bad hex: the
// lint sees the very kinds the load builds, and says "does not load" exactly
// when the load fails. A content string is looked for as whole bytes, so an
// odd digit count fails the load; a signature's odd last digit is ignored.
TEST(ReadKindTest, LintSeesTheKindsTheLoadBuilds) {
  struct Case {
    const char* text;
    const char* error;  // what lastError says after the file name, when the load fails
  };
  const Case cases[] = {
      {"[Words]\noffset=0\nsig=41\nPostfix=5\nADDON=42\naddon_postfix=43\nfirst postfix=.one\nmy postfix=.two\n", ""},
      {"[Shifted]\noffset1=0\nsig1=4142\npostfix=.s\noffset2=8\nsig2=4A46\n", ""},
      {"[Orphan]\npostfix=.o\nsig=41\n[Dangling]\no1=0\ns1=41\no2=9\n", ""},
      {"[Repeated]\noffset=0\nsig=FFD8\noffset=6\nsig=4A46\n", ""},
      {"top=1\ntop2=41\n[Empty]\n[Twice]\no=0\ns=41\n[twice]\npostfix=.t\n", ""},
      {"[Odd signature]\no=0\ns=504B3\naddon=4a4B\naddon2=\n", ""},
      {"[A]\r\r\no=0\r\r\n\r\r\ns=41\r\r\npostfix=.a\r\r\n", ""},
      {"[Doc]\no=0\ns=41\naddon=414\n",
       ": section [Doc], key addon: an odd number of hexadecimal digits (3), but a content string needs two a byte\n"},
      {"[Doc]\no=0\ns=41\nmy addon=4\n", ": section [Doc], key my addon: an odd number of hexadecimal digits (1)"},
      {"[Not hex]\no=0\ns=4G\n", ": section [Not hex], key s: 'G' is not a hexadecimal digit\n"},
  };
  TempFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.text)));
    const std::string path = WriteCatalogue(folder, c.text);
    FragmentEngine engine(path);
    std::vector<FileTypeRecord> linted;
    const std::vector<LintFinding> findings = LintCatalogue(path, &linted);
    EXPECT_EQ(engine.ready, *c.error == '\0');
    EXPECT_EQ(Says(findings, "does not load"), !engine.ready);
    if (!engine.ready) {
      EXPECT_EQ(std::string(engine.lastError).rfind("configure file " + path + c.error, 0), 0u) << engine.lastError;
      continue;
    }
    ASSERT_EQ(linted.size(), static_cast<std::size_t>(engine.kindCount));
    for (std::size_t i = 0; i < linted.size(); ++i) ExpectSameKind(*engine.kinds[i], linted[i]);
  }
}

}  // namespace
}  // namespace tessaro
