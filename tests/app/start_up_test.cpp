// Start-up of the window's state: the kind list, the kind count, folders, help, About.

#include "dialog_fixture.h"

namespace tessaro::testing {
namespace {

using StartUpTest = DialogTest;

TEST_F(StartUpTest, KindListShowsConfiguredKindsInTableOrder) {
  RecordingWindow fresh;
  MainDialog d(fresh, WriteCatalogue(config, kSmallCatalogue), platform);
  d.OnInitDialog();
  EXPECT_EQ(fresh.Text(ids::kKindCount), "5");
  EXPECT_EQ(fresh.Columns(), (std::vector<std::string>{"文件类型", "后缀名", "可恢复个数"}));
  EXPECT_EQ(fresh.ColumnWidths(), (std::vector<int>{220, 100, 100}));
  EXPECT_EQ(fresh.ExtendedStyle(), 0x223u);
  const auto rows = fresh.Rows();
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"JPEG image", ".jpg", "0"}));
  EXPECT_EQ(rows[4], (std::vector<std::string>{"Text document", ".txt", "0"}));
  EXPECT_EQ(d.m_tally.size(), 5u);
  EXPECT_EQ(d.m_tally[1].extension, ".docx");
  EXPECT_TRUE(fresh.Boxes().empty());
  EXPECT_EQ(fresh.Range(ids::kTotalProgress), (std::pair<int, int>{0, 100}));
  EXPECT_EQ(fresh.Range(ids::kFileProgress), (std::pair<int, int>{0, 100}));
  EXPECT_EQ(d.m_stopRequested, 0);
}

TEST_F(StartUpTest, FailedCatalogueShowsItsErrorAndLeavesTheListEmpty) {
  RecordingWindow fresh;
  const std::string missing = config.str() + "/none.cfg";
  MainDialog d(fresh, missing, platform);
  d.OnInitDialog();
  const auto boxes = fresh.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "error");
  EXPECT_EQ(boxes[0].text, "default configure file " + missing + " not exist\n");
  EXPECT_EQ(fresh.Text(ids::kKindCount), "");  // the template's "0" stays
  EXPECT_TRUE(fresh.Rows().empty());
  EXPECT_EQ(d.m_kindCount, 0);
  EXPECT_EQ(fresh.Columns().size(), 3u);
}

TEST_F(StartUpTest, UnnamedKindsGetEmptyCells) {
  Build("[A]\no=0\ns=41\n[B]\n");
  RecordingWindow fresh;
  MainDialog d(fresh, WriteCatalogue(config, "[A]\no=0\ns=41\n[B]\n"), platform);
  d.OnInitDialog();
  const auto rows = fresh.Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"A", "", "0"}));
  EXPECT_EQ(rows[1], (std::vector<std::string>{"", "", "0"}));
}

TEST_F(StartUpTest, ChoosingAFolderShowsItAndCancellingEmptiesIt) {
  window.QueueFolderAnswer("/some/folder");
  dialog->OnChooseSource();
  EXPECT_EQ(dialog->m_sourceFolder, "/some/folder");
  EXPECT_EQ(window.Text(ids::kSourceEdit), "/some/folder");
  dialog->OnChooseSource();  // the browser is cancelled
  EXPECT_EQ(dialog->m_sourceFolder, "");
  EXPECT_EQ(window.Text(ids::kSourceEdit), "");
  window.QueueFolderAnswer("/out");
  dialog->OnChooseDest();
  EXPECT_EQ(dialog->m_destFolder, "/out");
  EXPECT_EQ(window.Text(ids::kDestEdit), "/out");
  EXPECT_EQ(window.Prompts(), (std::vector<std::string>{texts::kSourcePrompt, texts::kSourcePrompt,
                                                        texts::kDestPrompt}));
  EXPECT_EQ(std::string(texts::kSourcePrompt), "选择包含.CHK文件的文件目录,类似于\"FOUND.xxxx\"");
}

TEST_F(StartUpTest, TheBrowserOpensWhereTheUserWasLast) {
  // Each step: the browser to open, its answer ("" cancels), where it must open.
  struct Step {
    bool source;
    std::string answer;
    std::string start;
  };
  const Step steps[] = {
      {true, "/media/disk/FOUND.000", ""},                 // nothing chosen yet: the browser's own start
      {false, "", "/media/disk"},                          // beside the fragments
      {false, "/home/user/recovered", "/media/disk"},      // a cancel moves nothing
      {true, "", "/media/disk/FOUND.000"},                 // the source chosen last
      {true, "/media/disk/FOUND.001", "/media/disk/FOUND.000"},  // ... even after a cancel
      {false, "/tmp/out", "/home/user/recovered"},         // the destination chosen last
  };
  for (const Step& step : steps) window.QueueFolderAnswer(step.answer);
  for (const Step& step : steps) step.source ? dialog->OnChooseSource() : dialog->OnChooseDest();
  std::vector<std::string> expected;
  for (const Step& step : steps) expected.push_back(step.start);
  EXPECT_EQ(window.BrowserStarts(), expected);
  EXPECT_EQ(dialog->m_sourceFolder, "/media/disk/FOUND.001");
  EXPECT_EQ(dialog->m_destFolder, "/tmp/out");
}

TEST_F(StartUpTest, ParentFolderOfChosenFolders) {
  const std::pair<std::string, std::string> cases[] = {
      {"/media/disk/FOUND.000", "/media/disk"},
      {"/media/disk/FOUND.000/", "/media/disk"},
      {"/media//disk", "/media"},
      {"/FOUND.000", "/"},
      {"/", "/"},
      {"//", "/"},
      {"disk/FOUND.000", "disk"},
      {"FOUND.000", ""},
      {"", ""},
#if defined(_WIN32)
      {"C:\\FOUND.000", "C:\\"},
      {"D:\\Data\\FOUND.000\\", "D:\\Data"},
      {"E:/FOUND.000", "E:\\"},
#endif
  };
  for (const auto& [path, parent] : cases) EXPECT_EQ(ParentFolder(path), parent) << path;
}

TEST_F(StartUpTest, MissingHelpFileIsReported) {
  window.SetOpenDocumentResult(2);
  dialog->OnHelpContents();
  ASSERT_EQ(window.Boxes().size(), 1u);
  EXPECT_EQ(window.Boxes()[0].text, "Cann't find help file help.chm");
  EXPECT_EQ(window.Boxes()[0].caption, "Open Error");
  EXPECT_EQ(window.OpenedDocuments().back(), JoinPath(".", "help.chm"));
  window.SetOpenDocumentResult(31);  // other failures are silent
  dialog->OnHelpContents();
  EXPECT_EQ(window.Boxes().size(), 1u);
}

TEST_F(StartUpTest, AboutFromMenuAndSystemMenu) {
  dialog->OnAbout();
  dialog->OnSysCommand(16);
  dialog->OnSysCommand(16 | 0x3);  // low bits are the system's own
  dialog->OnSysCommand(0xF060);    // close goes elsewhere
  EXPECT_EQ(window.AboutCount(), 3);
}

}  // namespace
}  // namespace tessaro::testing
