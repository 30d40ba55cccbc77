// The catalogue load: sections become kinds, keys become offsets, signatures,
// extensions and content strings by name and position.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "catalog/fragment_engine.h"
#include "support/temp_folder.h"

namespace tessaro {
namespace {

using testing::TempFolder;
using testing::WriteCatalogue;

TEST(CatalogueLoadTest, WorkedExampleLoadsAsDocumented) {
  TempFolder folder;
  FragmentEngine engine(WriteCatalogue(folder,
                                       "; example only\n[Sample image]\noffset1 = 0\nmagic1 = 53414D50\n"
                                       "offset2 = 8\nmagic2 = 0D0A\npostfix = .smp\naddon = 454E44\n\n"
                                       "[Notes]\npostfix = .nts\noffset = 0\nmagic = 4E4F\n\n[Empty]\n"));
  ASSERT_TRUE(engine.ready);
  ASSERT_EQ(engine.kindCount, 3);
  const FileTypeRecord& sample = *engine.kinds[0];
  EXPECT_EQ(sample.name, "Sample image");
  EXPECT_EQ(sample.extension, ".smp");
  EXPECT_EQ(sample.offsets, (std::vector<std::int64_t>{0, 8}));
  EXPECT_EQ(sample.signatures, (std::vector<std::string>{"53414D50", "0D0A"}));
  EXPECT_EQ(sample.addons, (std::vector<std::string>{"454E44"}));
  const FileTypeRecord& notes = *engine.kinds[1];
  EXPECT_EQ(notes.extension, ".nts");
  // The postfix key took position 0, so the pairing shifted.
  EXPECT_EQ(notes.signatures, (std::vector<std::string>{"0"}));
  EXPECT_EQ(notes.offsets, (std::vector<std::int64_t>{4}));
  const FileTypeRecord& empty = *engine.kinds[2];
  EXPECT_FALSE(empty.name.has_value());
  EXPECT_FALSE(empty.extension.has_value());
  EXPECT_TRUE(empty.signatures.empty());
}

TEST(CatalogueLoadTest, MissingFileFailsNamingThePath) {
  TempFolder folder;
  const std::string path = folder.str() + "/absent.cfg";
  FragmentEngine engine(path);
  EXPECT_FALSE(engine.ready);
  EXPECT_EQ(engine.kindCount, 0);
  EXPECT_EQ(std::string(engine.lastError), "default configure file " + path + " not exist\n");
}

TEST(CatalogueLoadTest, DefaultConstructorReadsTessaroCfgFromTheCurrentFolder) {
  TempFolder folder;
  folder.Write("tessaro.cfg", "[A]\noffset=0\nsig=41\npostfix=.a\n");
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.path());
  FragmentEngine engine;
  std::filesystem::current_path(previous);
  EXPECT_TRUE(engine.ready);
  EXPECT_EQ(engine.kindCount, 1);

  TempFolder empty;
  std::filesystem::current_path(empty.path());
  FragmentEngine missing;
  std::filesystem::current_path(previous);
  EXPECT_STREQ(missing.lastError, "default configure file tessaro.cfg not exist\n");
}

TEST(CatalogueLoadTest, ReaderFailuresAllGiveTheOneMessage) {
  TempFolder folder;
  for (const std::string text : {"[A]\nx=1\n\tindented=2\n", "no sections at all\n", ""}) {
    const std::string path = WriteCatalogue(folder, text);
    FragmentEngine engine(path);
    EXPECT_FALSE(engine.ready) << text;
    EXPECT_EQ(engine.kindCount, 0);
    EXPECT_EQ(std::string(engine.lastError), "default configure file " + path + " not exist\n");
  }
}

TEST(CatalogueLoadTest, KeysBeforeFirstHeaderMakeADefaultKind) {
  TempFolder folder;
  FragmentEngine engine(WriteCatalogue(folder, "offset=0\nsig=4142\n[B]\noffset=0\nsig=42\n"));
  ASSERT_EQ(engine.kindCount, 2);
  EXPECT_EQ(engine.kinds[0]->name, "default");
  EXPECT_EQ(engine.kinds[0]->signatures, (std::vector<std::string>{"4142"}));
}

TEST(CatalogueLoadTest, RepeatedHeaderGivesAnUnnamedSecondSlot) {
  TempFolder folder;
  FragmentEngine engine(WriteCatalogue(folder, "[Jpeg]\noffset=0\nsig=FFD8\n[JPEG]\npostfix=.jpg\n"));
  ASSERT_EQ(engine.kindCount, 2);
  EXPECT_EQ(engine.kinds[0]->extension, ".jpg");
  EXPECT_FALSE(engine.kinds[1]->name.has_value());
}

TEST(CatalogueLoadTest, KeyNamesAreMatchedCaseSensitivelyAddonFirst) {
  TempFolder folder;
  FragmentEngine engine(WriteCatalogue(folder,
                                       "[K]\noffset=0\nsig=41\nPostfix=5\nADDON=42\naddon_postfix=43\n"
                                       "first postfix=.one\nmy postfix=.two\n"));
  ASSERT_TRUE(engine.ready) << engine.lastError;
  const FileTypeRecord& kind = *engine.kinds[0];
  // "Postfix" (position 2) is an offset, "ADDON" (position 3) a signature.
  EXPECT_EQ(kind.offsets, (std::vector<std::int64_t>{0, 5}));
  EXPECT_EQ(kind.signatures, (std::vector<std::string>{"41", "42"}));
  EXPECT_EQ(kind.addons, (std::vector<std::string>{"43"}));
  EXPECT_EQ(kind.extension, ".two");
}

TEST(CatalogueLoadTest, OffsetsReadAsDecimalIntegers) {
  TempFolder folder;
  FragmentEngine engine(WriteCatalogue(folder,
                                       "[K]\na=0x20\nb=41\nc=-4\nd=42\ne=\nf=\ng=  +12abc\nh=43\n"
                                       "i=99999999999999999999\nj=44\n"));
  ASSERT_TRUE(engine.ready) << engine.lastError;
  EXPECT_EQ(engine.kinds[0]->offsets,
            (std::vector<std::int64_t>{0, -4, 0, 12, INT64_MAX}));
  EXPECT_EQ(engine.kinds[0]->signatures[2], "");
}

TEST(CatalogueLoadTest, HexIsDecodedWithoutRegardToCase) {
  TempFolder folder;
  FragmentEngine engine(WriteCatalogue(folder, "[K]\no=0\ns=ffD8e\naddon=4a4B\n"));
  ASSERT_TRUE(engine.ready);
  EXPECT_EQ(engine.kinds[0]->signatureBytes[0], std::string("\xFF\xD8"));
  EXPECT_EQ(engine.kinds[0]->addonBytes[0], std::string("JK"));
}

TEST(CatalogueLoadTest, TextThatIsNotHexFailsNamingFileSectionAndKey) {
  TempFolder folder;
  const std::string path = WriteCatalogue(folder, "[Good]\no=0\ns=41\n[Photo]\no=0\nmagic=FFG8\n");
  FragmentEngine engine(path);
  EXPECT_FALSE(engine.ready);
  EXPECT_EQ(engine.kindCount, 0);
  const std::string error = engine.lastError;
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_NE(error.find("[Photo]"), std::string::npos) << error;
  EXPECT_NE(error.find("magic"), std::string::npos) << error;

  FragmentEngine addon(WriteCatalogue(folder, "[Doc]\no=0\ns=41\naddon=word/\n"));
  EXPECT_FALSE(addon.ready);
  EXPECT_NE(std::string(addon.lastError).find("addon"), std::string::npos);
}

TEST(CatalogueLoadTest, TextKindIsBuiltInAndNeverInTheTable) {
  TempFolder folder;
  FragmentEngine engine(WriteCatalogue(folder, "[Only]\no=0\ns=41\n"));
  EXPECT_EQ(engine.textKind.name, "text file");
  EXPECT_EQ(engine.textKind.extension, ".txt");
  EXPECT_TRUE(engine.textKind.signatures.empty());
  for (int i = 0; i < engine.kindCount; ++i) EXPECT_NE(engine.kinds[static_cast<std::size_t>(i)], &engine.textKind);
}

std::string Sections(int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += "[Kind " + std::to_string(i) + "]\no=0\ns=" + "41" + "\npostfix=.k" + std::to_string(i) + "\n";
  return text;
}

TEST(CatalogueLoadTest, ThreeHundredKindsFillEverySlot) {
  TempFolder folder;
  FragmentEngine engine(WriteCatalogue(folder, Sections(300)));
  ASSERT_TRUE(engine.ready);
  EXPECT_EQ(engine.kindCount, 300);
  EXPECT_EQ(engine.kinds[299]->extension, ".k299");
}

TEST(CatalogueLoadTest, MoreThanThreeHundredKindsAreRefused) {
  TempFolder folder;
  const std::string path = WriteCatalogue(folder, Sections(301));
  FragmentEngine engine(path);
  EXPECT_FALSE(engine.ready);
  EXPECT_EQ(engine.kindCount, 0);
  const std::string error = engine.lastError;
  EXPECT_NE(error.find(path), std::string::npos);
  EXPECT_NE(error.find("at most 300"), std::string::npos) << error;
}

TEST(CatalogueLoadTest, LongPathInMessageIsCutNotOverrun) {
  TempFolder folder;
  const std::string path = folder.str() + "/" + std::string(200, 'd') + "/" + std::string(200, 'e') + "/" +
                           std::string(200, 'f') + ".cfg";
  FragmentEngine engine(path);
  EXPECT_FALSE(engine.ready);
  EXPECT_EQ(std::strlen(engine.lastError), 511u);
}

}  // namespace
}  // namespace tessaro
