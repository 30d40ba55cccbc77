#include "cli/terminal_window.h"

#include <chrono>
#include <thread>

#include "app/control_ids.h"

namespace tessaro::cli {

namespace {

long long NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string Bar(int percent, int width) {
  percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
  const auto cells = static_cast<std::size_t>(width);
  const auto filled = static_cast<std::size_t>(percent * width / 100);
  // Appended in place: GCC 12 at -O3 takes the chain of string temporaries
  // for overlapping copies (-Wrestrict), and one buffer is less work anyway.
  std::string bar;
  bar.reserve(cells + 2);
  bar.push_back('[');
  bar.append(filled, '#');
  bar.append(cells - filled, '.');
  bar.push_back(']');
  return bar;
}

}  // namespace

TerminalWindow::TerminalWindow(std::FILE* errors, bool live) : errors_(errors), live_(live) {}

void TerminalWindow::SetItemText(int id, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  texts_[id] = text;
}

void TerminalWindow::SetProgressPos(int id, int position) {
  std::lock_guard<std::mutex> lock(mutex_);
  positions_[id] = position;
}

void TerminalWindow::DeleteAllListRows(int id) {
  std::lock_guard<std::mutex> lock(mutex_);
  rows_.clear();
}

void TerminalWindow::InsertListRow(int id, int row, const std::string& firstColumn) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto at = static_cast<std::size_t>(row);
  if (at > rows_.size()) rows_.resize(at);
  rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(at), std::vector<std::string>{firstColumn, "", ""});
}

void TerminalWindow::SetListCell(int id, int row, int column, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto r = static_cast<std::size_t>(row);
  const auto c = static_cast<std::size_t>(column);
  if (r >= rows_.size()) return;
  if (c >= rows_[r].size()) rows_[r].resize(c + 1);
  rows_[r][c] = text;
}

void TerminalWindow::MessageBox(const std::string& text, const std::string& caption) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string body = text;
  while (!body.empty() && body.back() == '\n') body.pop_back();
  if (drawn_) {
    std::fputs("\r\033[K", errors_);
    drawn_ = false;
  }
  std::fprintf(errors_, "%s: %s\n", caption.c_str(), body.c_str());
  std::fflush(errors_);
}

void TerminalWindow::ServeUntil(const std::function<bool()>& done) {
  // Calls run on the caller's thread here, so there is nothing to serve.
  while (!done()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void TerminalWindow::Render(bool recovering, bool final) {
  if (!live_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (final) {
    if (drawn_) std::fputs("\r\033[K", errors_);
    drawn_ = false;
    std::fflush(errors_);
    return;
  }
  const long long now = NowMs();
  if (drawn_ && now - lastDraw_ < 100) return;  // ten frames a second at most
  lastDraw_ = now;
  auto position = [this](int id) {
    auto it = positions_.find(id);
    return it == positions_.end() ? 0 : it->second;
  };
  auto text = [this](int id) {
    auto it = texts_.find(id);
    return it == texts_.end() ? std::string() : it->second;
  };
  std::string line = Bar(position(ids::kTotalProgress), 30) + " " +
                     std::to_string(position(ids::kTotalProgress)) + "%";
  if (recovering) {
    line += "  " + text(ids::kProcessedCount) + "/" + text(ids::kFileCount) + "  file " +
            Bar(position(ids::kFileProgress), 10) + " " + text(ids::kCurrentFile);
  }
  if (line.size() > 160) line.resize(160);
  std::fprintf(errors_, "\r\033[K%s", line.c_str());
  std::fflush(errors_);
  drawn_ = true;
}

std::string TerminalWindow::Text(int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = texts_.find(id);
  return it == texts_.end() ? std::string() : it->second;
}

std::vector<std::vector<std::string>> TerminalWindow::Rows() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rows_;
}

}  // namespace tessaro::cli
