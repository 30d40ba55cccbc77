#pragma once
// A MainDialog on a recording window and a fault-injecting platform, with a
// small catalogue and folders of its own.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/main_dialog.h"
#include "app/format_text.h"
#include "app/texts.h"
#include "support/faulty_platform.h"
#include "support/recording_window.h"
#include "support/temp_folder.h"

namespace tessaro::testing {

inline constexpr const char* kSmallCatalogue =
    "[JPEG image]\noffset=0\nsignature=FFD8FF\npostfix=.jpg\n"
    "[Word document]\noffset=0\nsignature=504B0304\naddon=776F72642F\npostfix=.docx\n"
    "[ZIP archive]\noffset=0\nsignature=504B0304\npostfix=.zip\n"
    "[PNG image]\noffset=0\nsignature=89504E47\npostfix=.png\n"
    "[Text document]\npostfix=.txt\n";

inline std::string Jpeg(std::size_t size) {
  std::string bytes = Bytes({0xFF, 0xD8, 0xFF, 0xE0});
  bytes += RandomBytes(size > 4 ? size - 4 : 0, static_cast<std::uint32_t>(size));
  return bytes.substr(0, size);
}

// Real files whose checkers prove their ends, for a fragment that holds them
// back to back as an exFAT rescue does: 320 KiB at 4 KiB clusters.
inline const std::vector<std::string> kSplitSamples = {
    "ghostscript.eps", "libreoffice-pptx.pptx", "ffmpeg.mxf", "sox.wav",
    "epstool.eps",     "flac.flac",             "gcc.elf",    "ffmpeg.avi"};

// Each sample with the zeros of its last cluster: a part as --split without
// --trim writes it.
inline std::vector<std::string> SplitSampleParts(std::size_t cluster) {
  std::vector<std::string> parts;
  for (const std::string& name : kSplitSamples) {
    std::string bytes = Kind(name);
    bytes.resize((bytes.size() + cluster - 1) / cluster * cluster, '\0');
    parts.push_back(std::move(bytes));
  }
  return parts;
}

inline std::string SplitSampleFragment(std::size_t cluster) {
  std::string fragment;
  for (const std::string& part : SplitSampleParts(cluster)) fragment += part;
  return fragment;
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override { Build(kSmallCatalogue); }
  void TearDown() override {
    dialog.reset();
    if (snapshot) {
      EXPECT_EQ(snapshot->Changes(), "");
    }
  }

  void Build(const std::string& catalogue) {
    dialog.reset();
    dialog = std::make_unique<MainDialog>(window, WriteCatalogue(config, catalogue), platform);
    dialog->OnInitDialog();
    window.ClearLogs();
  }
  // Remembers the fragments, to prove later that no pass changed them.
  void Freeze() { snapshot = std::make_unique<FragmentSnapshot>(source.path()); }

  void Detect() {
    dialog->SetSourceFolder(source.str());
    dialog->OnDetect();
    dialog->WaitForWorker();
  }
  void Recover(const std::string& destination) {
    dialog->SetSourceFolder(source.str());
    dialog->SetDestFolder(destination);
    dialog->OnRecover();
    dialog->WaitForWorker();
  }
  std::string Count(int row) { return window.Rows().at(static_cast<std::size_t>(row)).at(2); }

  TempFolder config;
  TempFolder source;
  TempFolder dest;
  RecordingWindow window;
  FaultyPlatform platform;
  std::unique_ptr<MainDialog> dialog;
  std::unique_ptr<FragmentSnapshot> snapshot;
};

// The eight controls of the run states and their enabling in each state.
inline constexpr int kEight[] = {1000, 1002, 1001, 1003, 1024, 1025, 1023, 1015};

inline std::vector<bool> EnabledEight(const RecordingWindow& window) {
  std::vector<bool> states;
  for (int id : kEight) states.push_back(window.Enabled(id));
  return states;
}

inline const std::vector<bool> kIdle = {true, true, true, true, true, false, true, false};
inline const std::vector<bool> kDetecting = {false, false, false, false, false, true, false, false};
inline const std::vector<bool> kRecovering = {false, false, false, false, false, false, false, true};

}  // namespace tessaro::testing
