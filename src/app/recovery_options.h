#pragma once
// What the window's options box chooses: the command line's recovery options
// (--trim, --split, --names, --sort kind, --report), all off by default, which
// is the window's own behaviour exactly. The choice is kept between runs in a
// small text file in the user's own settings folder; a file that is missing,
// broken or cannot be written gives the defaults and costs the user nothing.

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace tessaro {

struct RecoveryOptions {
  enum class Names { kFragment, kContent, kOriginal };

  bool trim = false;        // cut each file at its proven end
  bool split = false;       // a fragment may hold several files
  Names names = Names::kFragment;
  bool sortByKind = false;  // one subfolder of the destination per extension
  bool report = false;      // the report written into the destination, then opened
  bool rescue = false;      // read past unreadable sectors, zeros in their place

  bool operator==(const RecoveryOptions&) const = default;
};

// The settings file's text, "key = value" a line; and back. Lines it does not
// know, and values it does not know, leave that option at its default.
std::string OptionsText(const RecoveryOptions& options);
RecoveryOptions ParseOptions(std::string_view text);

// The settings file: "settings.ini" in the platform's settings folder ("" when
// it has none, and then nothing is read or written).
class SettingsFile {
 public:
  SettingsFile(Platform& platform, std::string folder);

  const std::string& Path() const { return path_; }
  // The options the file holds; the defaults when it is missing, unreadable,
  // too large to be ours, or there is no file at all.
  RecoveryOptions Load() const;
  // Writes the options through a temporary file renamed into place, making
  // the folder (and its parent) where needed. False when it could not; the
  // file it replaces is then left as it was.
  bool Save(const RecoveryOptions& options) const;

 private:
  Platform& platform_;
  std::string folder_, path_;
};

}  // namespace tessaro
