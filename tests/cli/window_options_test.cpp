// The window's recovery with its options on gives what `tessaro-cli recover`
// gives with the same options on the same folder, file for file and byte for
// byte: the two go through one engine path.

#include <gtest/gtest.h>

#include <map>

#include "app/main_dialog.h"
#include "support/recording_window.h"
#include "support/rescue_kit.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

namespace tessaro::testing {
namespace {

using Names = RecoveryOptions::Names;

// Every file under `root`, by its path inside it ('/' between names).
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) files[Utf8(e.path().lexically_relative(root).generic_u8string())] = ReadAll(Utf8(e.path()));
  }
  return files;
}

TEST(WindowOptionsTest, TheWindowWritesWhatTheCommandLineWritesWithTheSameOptions) {
  // Whole files with slack after them, one of no kind, and an exFAT lost
  // folder's clusters in one fragment.
  TempFolder source;
  const std::string zeros(700, '\0');
  source.Write("FILE0000.CHK", Kind("ffmpeg.png") + zeros);
  source.Write("FILE0001.CHK", Kind("ghostscript.pdf") + std::string(300, '\0'));
  source.Write("FILE0002.CHK", Kind("libreoffice-docx.docx") + zeros);
  source.Write("FILE0003.CHK", NoKindBytes(2048));
  source.Write("FILE0004.CHK", RescueBytes(MakeStandardRescue(4096, 1000)));
  const std::string catalogue = SharedCatalogue();

  const struct {
    RecoveryOptions options;
    std::vector<std::string> flags;
  } cases[] = {
      {{}, {}},
      {{true, false, Names::kFragment, false}, {"--trim"}},
      {{true, true, Names::kFragment, false}, {"--trim", "--split"}},
      {{false, false, Names::kContent, true}, {"--names", "content", "--sort", "kind"}},
      {{true, false, Names::kOriginal, false}, {"--trim", "--names", "original"}},
  };
  for (const auto& c : cases) {
    std::string flags;
    for (const std::string& f : c.flags) flags += f + " ";
    SCOPED_TRACE(flags);
    TempFolder fromWindow, fromCli;
    {
      RecordingWindow window;
      MainDialog dialog(window, catalogue);
      dialog.OnInitDialog();
      dialog.ApplyOptions(c.options);
      dialog.SetSourceFolder(source.str());
      dialog.SetDestFolder(fromWindow.str());
      dialog.OnRecover();
      dialog.WaitForWorker();
      EXPECT_TRUE(window.Boxes().empty());
    }
    std::vector<std::string> args{"--config", catalogue, "recover"};
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    args.push_back(source.str());
    args.push_back(fromCli.str());
    const ProgramResult r = RunCli(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto window = Tree(fromWindow.path()), cli = Tree(fromCli.path());
    EXPECT_GE(window.size(), 3u);
    EXPECT_EQ(window, cli);
  }
}

}  // namespace
}  // namespace tessaro::testing
