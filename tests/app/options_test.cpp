// The window's recovery options: the settings file that keeps them, and the
// menu items that reach them.

#include <gtest/gtest.h>

#include "app/recovery_options.h"
#include "dialog_fixture.h"

namespace tessaro::testing {
namespace {

using Names = RecoveryOptions::Names;

RecoveryOptions Make(bool trim, bool split, Names names, bool sortByKind, bool report = false) {
  RecoveryOptions o;
  o.report = report;
  o.trim = trim;
  o.split = split;
  o.names = names;
  o.sortByKind = sortByKind;
  return o;
}

RecoveryOptions Rescue() {
  RecoveryOptions o;
  o.rescue = true;
  return o;
}

TEST(SettingsFileTest, KeepsEveryChoiceAndGivesTheDefaultsForWhatItCannotRead) {
  TempFolder home;
  // A folder whose parent is not there yet, as ~/.config on a new account.
  SettingsFile file(SystemPlatform(), home.str() + "/config/tessaro");
  EXPECT_EQ(file.Load(), RecoveryOptions{});
  for (const RecoveryOptions& o : {Make(true, false, Names::kFragment, false), Make(false, true, Names::kContent, true),
                                   Make(true, true, Names::kOriginal, false, true), Rescue(), RecoveryOptions{}}) {
    ASSERT_TRUE(file.Save(o));
    EXPECT_EQ(file.Load(), o);
  }
  EXPECT_FALSE(fs::exists(PathOf(file.Path() + ".tmp")));

  // Broken texts: what can be read is kept, every other option is off.
  const struct {
    const char* text;
    RecoveryOptions wanted;
  } broken[] = {
      {"", {}},
      {"\x89PNG\r\n\x1a\n\0\0\0", {}},
      {"trim = yes\nsplit = 1\nnames = everything\nsort = size\n", {}},
      {"split=on\r\nnames   =   content   \r\n", Make(false, true, Names::kContent, false)},
      {"; trim = on\n[section]\ntrim\nsort = kind", Make(false, false, Names::kFragment, true)},
      {"trim = on\ntrim = off\n", {}},
  };
  for (const auto& b : broken) {
    SCOPED_TRACE(b.text);
    home.Write("config/tessaro/settings.ini", b.text);
    EXPECT_EQ(file.Load(), b.wanted);
  }
  // A settings file that is a folder, or one far too large to be ours.
  fs::remove(PathOf(file.Path()));
  fs::create_directory(PathOf(file.Path()));
  EXPECT_EQ(file.Load(), RecoveryOptions{});
  EXPECT_FALSE(file.Save(Make(true, true, Names::kContent, true)));
  fs::remove(PathOf(file.Path()));
  home.Write("config/tessaro/settings.ini", "trim = on\n" + std::string(100000, ' '));
  EXPECT_EQ(file.Load(), RecoveryOptions{});
  // No settings folder at all: nothing is read or written.
  SettingsFile none(SystemPlatform(), "");
  EXPECT_EQ(none.Load(), RecoveryOptions{});
  EXPECT_FALSE(none.Save(Make(true, false, Names::kFragment, false)));
}

TEST(SettingsFileTest, AFailedWriteLeavesTheFileItWouldReplace) {
  TempFolder home;
  FaultyPlatform platform;
  SettingsFile file(platform, home.str());
  const RecoveryOptions kept = Make(true, false, Names::kContent, false);
  ASSERT_TRUE(file.Save(kept));
  for (int fault = 0; fault < 3; ++fault) {
    SCOPED_TRACE(fault);
    FaultyPlatform failing;
    if (fault == 0) failing.FailCreate("settings.ini.tmp", 13);
    if (fault == 1) failing.FailWriteAfter("settings.ini.tmp", 4);
    if (fault == 2) failing.FailRename("settings.ini", 13);
    EXPECT_FALSE(SettingsFile(failing, home.str()).Save(RecoveryOptions{}));
    EXPECT_EQ(file.Load(), kept);
    EXPECT_FALSE(fs::exists(PathOf(file.Path() + ".tmp")));
  }
}

class OptionsMenuTest : public DialogTest {};

TEST_F(OptionsMenuTest, TheBoxShowsTheOptionsInForceAndOnlyAConfirmedChoiceIsKeptAndSaved) {
  TempFolder settings;
  settings.Write("settings.ini", "names = content\n");
  dialog->UseSettingsFolder(settings.str());
  const RecoveryOptions loaded = Make(false, false, Names::kContent, false);
  EXPECT_EQ(dialog->Options(), loaded);

  // Cancelled: nothing changes.
  EXPECT_TRUE(dialog->OnCommand(ids::kOptions));
  ASSERT_EQ(window.OptionsShown().size(), 1u);
  EXPECT_EQ(window.OptionsShown()[0], loaded);
  EXPECT_EQ(dialog->Options(), loaded);

  // Confirmed: in force, and kept for the next run.
  const RecoveryOptions chosen = Make(true, true, Names::kOriginal, true);
  window.QueueOptionsAnswer(chosen);
  dialog->OnCommand(ids::kOptions);
  EXPECT_EQ(dialog->Options(), chosen);
  EXPECT_EQ(SettingsFile(SystemPlatform(), settings.str()).Load(), chosen);

  // While a pass runs the box does not open: the pass keeps the options it began with.
  dialog->SetRunState(ids::kRecover);
  window.QueueOptionsAnswer(RecoveryOptions{});
  dialog->OnCommand(ids::kOptions);
  EXPECT_EQ(window.OptionsShown().size(), 2u);
  EXPECT_EQ(dialog->Options(), chosen);
  dialog->SetRunState(ids::kStopRecover);
}

TEST_F(OptionsMenuTest, TheReportIsWrittenIntoTheDestinationAndOpenedAndItsFailureCostsNoFile) {
  source.Write("FILE0000.CHK", Jpeg(3000));
  source.Write("FILE0001.CHK", "plain words\n");
  RecoveryOptions options;
  options.report = true;
  dialog->ApplyOptions(options);
  Recover(dest.str());
  ASSERT_EQ(window.OpenedDocuments().size(), 1u);
  const std::string report = window.OpenedDocuments()[0];
  EXPECT_EQ(PathOf(report).parent_path(), dest.path());
  EXPECT_EQ(Utf8(PathOf(report).filename()).rfind("tessaro-report-", 0), 0u) << report;
  const std::string page = ReadAll(report);
  EXPECT_NE(page.find("FILE0000.jpg"), std::string::npos);
  EXPECT_NE(page.find("FILE0001.txt"), std::string::npos);
  EXPECT_TRUE(window.Boxes().empty());

  // A second pass into the same folder: a report of its own beside the first.
  TempFolder again;
  Recover(dest.str());
  ASSERT_EQ(window.OpenedDocuments().size(), 2u);
  EXPECT_NE(window.OpenedDocuments()[1], report);
  EXPECT_EQ(ReadAll(report), page);

  // A report that cannot be written: said in a box, and the files still come back.
  platform.FailCreate(".html.tmp", 28);
  Recover(again.str());
  EXPECT_EQ(window.OpenedDocuments().size(), 2u);
  ASSERT_EQ(window.Boxes().size(), 1u);
  EXPECT_EQ(window.Boxes()[0].caption, texts::kErrorCaption);
  EXPECT_EQ(window.Boxes()[0].text.rfind("无法写入恢复报告 ", 0), 0u) << window.Boxes()[0].text;
  EXPECT_EQ(ReadAll(again.str() + "/FILE0000.jpg"), ReadAll(source.str() + "/FILE0000.CHK"));
}

}  // namespace
}  // namespace tessaro::testing
