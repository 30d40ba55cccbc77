// A thousand rapid starts and stops of each pass through the real window's
// buttons, and a hundred windows closed while a pass runs, over real files
// large enough that a stop often falls inside one. The window's event loop
// runs between the presses only as long as a user's hand would let it, so
// starts often fall on a stopped worker still finishing its file (the start
// waits for it, serving its calls); every tenth time the worker is held early
// in its pass until the stop has come, which must then cut the pass short.
// There is never more than one worker, none is left running, no fragment
// changes, the kind list never shows a partial count, and every output is its
// fragment's bytes: whole, or the start of them after a stop. Run under
// ThreadSanitizer too.
//
// TESSARO_STRESS_CYCLES sets the number of start/stop cycles (1000 by default;
// the closed windows are a tenth of it).

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <random>

#include "app/control_ids.h"
#include "app/format_text.h"
#include "app/texts.h"
#include "gui_test_support.h"
#include "support/faulty_platform.h"
#include "support/temp_folder.h"

using namespace tessaro;
using namespace tessaro::guitest;

namespace {

// A bound for what must end (a pass, a close), so a hang fails the test
// instead of holding it until the test runner gives up. Generous: the thread
// checker slows a pass over megabytes a great deal.
constexpr int kPatienceMs = 300000;

int Cycles() {
  const char* wanted = std::getenv("TESSARO_STRESS_CYCLES");
  const int cycles = wanted != nullptr ? std::atoi(wanted) : 0;
  return cycles > 0 ? cycles : 1000;
}

// The real platform (the shared test platform with no fault armed, its
// copies through the system's own chunk copy as the program makes them),
// counting the workers that are alive at once.
class CountingPlatform : public tessaro::testing::FaultyPlatform {
 public:
  bool StartWorker(std::function<void()> body, WorkerHandle& handle) override {
    ++started;
    return FaultyPlatform::StartWorker(
        [this, body = std::move(body)] {
          const Alive during(*this);
          body();
        },
        handle);
  }
  CopyResult CopyChunk(FileHandle source, FileHandle dest, void* buffer, std::size_t n, int& error) override {
    return SystemPlatform().CopyChunk(source, dest, buffer, n, error);
  }

  std::atomic<int> started{0};
  std::atomic<int> alive{0};
  std::atomic<int> most{0};

 private:
  // For the life of a worker's body.
  struct Alive {
    explicit Alive(CountingPlatform& p) : platform(p) {
      const int now = ++platform.alive;
      int seen = platform.most.load();
      while (now > seen && !platform.most.compare_exchange_weak(seen, now)) {
      }
    }
    ~Alive() { --platform.alive; }
    CountingPlatform& platform;
  };
};

// The scripted window, counting what the passes' workers tell it.
class CountingWindow : public ScriptedWindow {
 public:
  void SetItemText(int id, const std::string& text) override {
    if (id == ids::kInfo) ++summaries;
    if (id == ids::kProcessedCount) ++filesDone;
    ScriptedWindow::SetItemText(id, text);
  }

  // Detection summaries shown, and fragments the recovery pass has handled.
  std::atomic<int> summaries{0};
  std::atomic<int> filesDone{0};
};

// Runs the event loop until `done`, at most kPatienceMs; false if it never
// came. `done` is asked after every round of events, so a worker that makes
// one call after another is seen between two of them.
bool ServeUntil(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  QTimer tick;  // wakes the loop when a worker ends without a call
  tick.start(1);
  while (!done()) {
    if (clock.elapsed() > kPatienceMs) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// As ServeUntil; the test fails, naming `what`, when `done` never came.
void Await(const std::function<bool()>& done, const char* what) {
  if (!ServeUntil(done)) QTest::qFail(what, __FILE__, __LINE__);
}

// Runs the event loop for `ms` milliseconds; the worker's calls are served as they come.
void Serve(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Order of the columns: 1000 1002 1001 1003 1024 1025 1023 1015.
const QString kIdle = QStringLiteral("11111010");
const QString kDetecting = QStringLiteral("00000100");
const QString kRecovering = QStringLiteral("00000001");

QString RunControls(const gui::QtDialogWindow& window) {
  QString bits;
  for (int id : kRunControls) bits += ControlEnabled(window, id) ? '1' : '0';
  return bits;
}

}  // namespace

// Under ThreadSanitizer, as tsan.supp does for Qt's own libraries: what glib
// does through the checker's interceptors is not checked. Each of Qt's threads
// (the test watchdog, the thread pool that scales the skin's images) has a
// glib main context, and glib's slice allocator passes its memory between
// threads under locks the checker cannot see; after some seconds it trims its
// caches and frees on one thread what it allocated on another. Only a run as
// long as this one gets there.
extern "C" const char* __tsan_default_suppressions();
extern "C" const char* __tsan_default_suppressions() { return "called_from_lib:libglib-2.0.so.0\n"; }

class StressWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<SampleFolder> sample_;
  std::map<QString, QByteArray> fragments_;
  QStringList wholeCounts_;
  QString wholeSummary_;
  std::unique_ptr<tessaro::testing::FragmentSnapshot> snapshot_;
  CountingPlatform platform_;
  std::unique_ptr<CountingWindow> window_;
  std::unique_ptr<MainDialog> dialog_;
  std::mt19937 random_{20261207};
  // How the presses fell: on a worker still running, or not, or held inside its pass.
  int stopsOnAWorker_ = 0;
  int startsOnAStoppedWorker_ = 0;
  int stopsOnAHeldWorker_ = 0;

  void Open(CountingWindow& window, MainDialog& dialog) {
    window.Attach(dialog);
    window.Initialise();
    window.show();
  }
  // The folders as the user picks them: the buttons and the browser.
  void ChooseFolders(CountingWindow& window) {
    window.folderAnswers = {sample_->fragments, sample_->destination};
    Click(window, ids::kChooseSource);
    Click(window, ids::kChooseDest);
  }
  std::unique_ptr<MainDialog> NewDialog(CountingWindow& window) {
    return std::make_unique<MainDialog>(window, sample_->catalogue.toStdString(), platform_);
  }

  // Between a start and its stop: from no event handled at all to a few
  // milliseconds of them; now and then the pass runs to its end and the stop
  // finds its button disabled again.
  void Linger(int cycle, const MainDialog& dialog) {
    if (cycle % 50 == 25) {
      Await([&] { return !dialog.WorkerAlive(); }, "a pass never ended");
      return;
    }
    switch (random_() % 4) {
      case 0: break;
      case 1: QCoreApplication::processEvents(); break;
      case 2: Serve(1); break;
      default: Serve(static_cast<int>(random_() % 4)); break;
    }
  }

  // A pass over small files outruns the event loop: between two rounds of
  // events its worker may get through the whole folder. So now and then the
  // worker is held at the overall bar, early in its pass, until the stop (or
  // the close) has come; such a stop surely falls inside the pass. The gate
  // is armed before the start, once no worker is left to be caught in it.
  void ArmEarly(CountingWindow& window, const MainDialog& dialog) {
    Await([&] { return !dialog.WorkerAlive(); }, "a stopped worker never ended");
    window.gate.Arm(ids::kTotalProgress, 1 + static_cast<int>(random_() % 30));
  }
  bool HeldEarly(CountingWindow& window, const MainDialog& dialog) {
    Await([&] { return window.gate.Reached() || !dialog.WorkerAlive(); }, "a pass neither came on nor ended");
    if (window.gate.Reached()) return true;
    window.gate.Open();
    QTest::qFail("a pass ended without moving its overall bar", __FILE__, __LINE__);
    return false;
  }

  // After a stop: mostly the next start comes at once, while the stopped
  // worker still finishes; now and then only once it is gone.
  void Pause(int cycle) {
    if (cycle % 7 == 3) Await([&] { return !dialog_->WorkerAlive(); }, "a stopped worker never ended");
  }

  // One cycle: a start, a while, a stop. True when the pass had ended by itself.
  bool Cycle(int cycle, int start, int stop, const QString& running) {
    const bool hold = cycle % 10 == 0;
    if (hold) ArmEarly(*window_, *dialog_);
    startsOnAStoppedWorker_ += dialog_->WorkerAlive();
    Click(*window_, start);
    if (RunControls(*window_) != running) {
      QTest::qFail(qPrintable(QStringLiteral("cycle %1: no pass started").arg(cycle)), __FILE__, __LINE__);
      return false;
    }
    // What the worker has told the window so far: from here on it is this pass's.
    const int summaries = window_->summaries.load();
    const int filesDone = window_->filesDone.load();
    if (!hold) {
      Linger(cycle, *dialog_);
      return !QTest::currentTestFailed() && Stop(stop, cycle);
    }
    if (!HeldEarly(*window_, *dialog_)) return false;
    ++stopsOnAHeldWorker_;
    Stop(stop, cycle);
    window_->gate.Open();
    Await([&] { return !dialog_->WorkerAlive(); }, "a stopped worker never ended");
    // The stop cut the pass short: no summary, not every file handled.
    const bool cutShort = start == ids::kDetect
                              ? window_->summaries.load() == summaries
                              : window_->filesDone.load() - filesDone < static_cast<int>(sample_->expected.size());
    if (!cutShort) {
      QTest::qFail(qPrintable(QStringLiteral("cycle %1: the pass ran on after its stop").arg(cycle)), __FILE__,
                   __LINE__);
    }
    return false;
  }

  // Presses stop, and the window is idle at once, whether or not the worker
  // has seen the stop yet. Only a pass that ended by itself has disabled the
  // stop button already: its worker sets the idle state control by control,
  // and a press can fall between two of them; the window is idle once that
  // worker is gone. True when the pass had so ended.
  bool Stop(int id, int cycle) {
    stopsOnAWorker_ += dialog_->WorkerAlive();
    const bool ended = !ControlEnabled(*window_, id);
    Click(*window_, id);
    if (ended) Await([&] { return !dialog_->WorkerAlive(); }, "a finished pass's worker never ended");
    const QString state = RunControls(*window_);
    if (state != kIdle) {
      const QString failure = QStringLiteral("cycle %1: not idle after the stop but %2").arg(cycle).arg(state);
      QTest::qFail(qPrintable(failure), __FILE__, __LINE__);
    }
    return ended;
  }

  // Once the last stopped worker is gone: one worker for each start, and no
  // message box all along.
  void AfterTheCycles(int cycles) {
    QVERIFY(ServeUntil([&] { return !dialog_->WorkerAlive(); }));
    QCOMPARE(platform_.started.load(), cycles);
    qInfo("%d cycles: %d stops fell on a running worker, %d of them on one held inside its pass; "
          "%d starts waited for a stopped worker",
          cycles, stopsOnAWorker_, stopsOnAHeldWorker_, startsOnAStoppedWorker_);
    QVERIFY(window_->messages.empty());
  }

  QTableWidget* List() const { return qobject_cast<QTableWidget*>(window_->Control(ids::kKindList)); }
  QString Count(int row) const {
    QTableWidgetItem* item = List()->item(row, 2);
    return item ? item->text() : QString();
  }

  // The kind list's counts and the summary of a whole detection pass over
  // the sample, from what the sample says each fragment is.
  void WorkOutWholeCounts() {
    int sum = 0;
    for (const QString& extension : SampleKindExtensions()) {
      int n = 0;
      for (const auto& [name, wanted] : sample_->expected) n += wanted == extension;
      wholeCounts_ << QString::number(n);
      sum += n;
    }
    wholeSummary_ = QString::fromStdString(FormatCount(texts::kDetectSummary, sum));
  }
  void ExpectWholeCounts() {
    for (int row = 0; row < wholeCounts_.size(); ++row) QCOMPARE(Count(row), wholeCounts_[row]);
    QCOMPARE(ControlText(*window_, ids::kInfo), wholeSummary_);
  }
  // Each count is the starting "0" or a whole pass's; the information box is
  // empty or a whole pass's summary. A stopped pass shows nothing of its own.
  void ExpectNoPartialCounts(int cycle) {
    for (int row = 0; row < wholeCounts_.size(); ++row) {
      const QString count = Count(row);
      QVERIFY2(count == "0" || count == wholeCounts_[row],
               qPrintable(QStringLiteral("cycle %1: row %2 shows %3").arg(cycle).arg(row).arg(count)));
    }
    const QString info = ControlText(*window_, ids::kInfo);
    QVERIFY2(info.isEmpty() || info == wholeSummary_,
             qPrintable(QStringLiteral("cycle %1: %2").arg(cycle).arg(info)));
  }

  // Every output is the copy of a fragment of a known kind under its name,
  // whole, or (after stops, unless `whole`) the start of the fragment's bytes.
  void ExpectOutputs(bool whole) {
    const QStringList written = QDir(sample_->destination).entryList(QDir::Files, QDir::Name);
    QStringList wanted;
    for (const auto& [name, extension] : sample_->expected) {
      if (!extension.isEmpty()) wanted << name.section('.', 0, 0) + extension;
    }
    wanted.sort();
    for (const QString& output : written) {
      QVERIFY2(wanted.contains(output), qPrintable(output + " was not to be written"));
      const QString fragment = output.section('.', 0, 0) + ".CHK";
      const QByteArray kept = ReadFile(sample_->destination + "/" + output);
      const QByteArray& bytes = fragments_.at(fragment);
      if (whole) {
        QVERIFY2(kept == bytes, qPrintable(output + " is not its fragment whole"));
      } else {
        QVERIFY2(bytes.startsWith(kept), qPrintable(output + " is not the start of its fragment"));
      }
    }
    if (whole) QCOMPARE(written, wanted);
  }

  // A recovery pass left to run to its end copies every known fragment whole.
  void FinishWithAWholeRecovery(CountingWindow& window, const MainDialog& dialog) {
    Click(window, ids::kRecover);
    QCOMPARE(RunControls(window), kRecovering);
    QVERIFY2(ServeUntil([&] { return !dialog.WorkerAlive(); }), "the last recovery pass never ended");
    QCOMPARE(RunControls(window), kIdle);
    const QString files = QString::number(sample_->expected.size());
    QCOMPARE(ControlText(window, ids::kFileCount), files);
    QCOMPARE(ControlText(window, ids::kProcessedCount), files);
    QCOMPARE(ProgressValue(window, ids::kTotalProgress), 100);
    ExpectOutputs(true);
  }

  void ExpectOneWorkerAtMostAndNoneLeft() {
    QCOMPARE(platform_.alive.load(), 0);
    QVERIFY2(platform_.most.load() <= 1, "two workers ran at once");
  }

 private slots:
  void initTestCase() {
    sample_ = MakeSampleFolder();
    // Enough small files that the bars move file by file, and two of megabytes.
    const int first = static_cast<int>(sample_->expected.size());
    AddImages(sample_->fragments, 16, first, 40);
    for (int i = 0; i < 16; ++i) {
      sample_->expected[QStringLiteral("FILE%1.CHK").arg(first + i, 4, 10, QLatin1Char('0'))] = ".png";
    }
    AddLargeFiles(*sample_, first + 16);
    for (const auto& [name, extension] : sample_->expected) {
      fragments_[name] = ReadFile(sample_->fragments + "/" + name);
    }
    WorkOutWholeCounts();
    QCOMPARE(QDir(sample_->fragments).entryList(QDir::Files).size(), qsizetype(sample_->expected.size()));
  }

  void init() {
    QDir destination(sample_->destination);
    for (const QString& name : destination.entryList(QDir::Files)) QVERIFY(destination.remove(name));
    snapshot_ = std::make_unique<tessaro::testing::FragmentSnapshot>(sample_->fragments.toStdString());
    platform_.started = 0;
    platform_.most = 0;
    stopsOnAHeldWorker_ = 0;
    stopsOnAWorker_ = 0;
    startsOnAStoppedWorker_ = 0;
    window_ = std::make_unique<CountingWindow>();
    dialog_ = NewDialog(*window_);
    Open(*window_, *dialog_);
    ChooseFolders(*window_);
    QCOMPARE(RunControls(*window_), kIdle);
  }

  void cleanup() {
    // A failed check may leave a worker held. Then the dialog: it waits for
    // its worker, which still needs the window.
    window_->gate.Open();
    dialog_.reset();
    window_.reset();
    ExpectOneWorkerAtMostAndNoneLeft();
    QCOMPARE(QString::fromStdString(snapshot_->Changes()), QString());
  }

  void thousandStartsAndStopsOfDetection() {
    const int cycles = Cycles();
    for (int i = 0; i < cycles; ++i) {
      if (Cycle(i, ids::kDetect, ids::kStopDetect, kDetecting)) {
        // The stop button goes only at the end of a pass: the counts are whole.
        ExpectWholeCounts();
      }
      ExpectNoPartialCounts(i);
      Pause(i);
      if (QTest::currentTestFailed()) return;
    }
    AfterTheCycles(cycles);

    // A whole detection after all that counts every fragment once.
    Click(*window_, ids::kDetect);
    QVERIFY(ServeUntil([&] { return !dialog_->WorkerAlive(); }));
    ExpectWholeCounts();
    QCOMPARE(RunControls(*window_), kIdle);
    QVERIFY(QDir(sample_->destination).entryList(QDir::Files).isEmpty());
  }

  void thousandStartsAndStopsOfRecovery() {
    const int cycles = Cycles();
    for (int i = 0; i < cycles; ++i) {
      const bool ended = Cycle(i, ids::kRecover, ids::kStopRecover, kRecovering);
      Pause(i);
      if (ended) {
        ExpectOutputs(true);
      } else if (i % 100 == 99) {
        // Now and then, once the stopped worker is gone, what the stops kept.
        QVERIFY(ServeUntil([&] { return !dialog_->WorkerAlive(); }));
        ExpectOutputs(false);
      }
      if (QTest::currentTestFailed()) return;
    }
    AfterTheCycles(cycles);
    ExpectOutputs(false);
    FinishWithAWholeRecovery(*window_, *dialog_);
  }

  // Fresh windows, each closed while its pass runs, in every way a window
  // closes, shown or run modally as the program runs it. The close stops the
  // pass and waits for its worker; the window goes with nothing left running.
  void windowsClosedMidPass() {
    const int windows = std::max(1, Cycles() / 10);
    int closedOnAWorker = 0;
    int closedOnAHeldWorker = 0;
    for (int i = 0; i < windows; ++i) {
      const bool modal = i % 2 == 1;
      const bool recover = (i / 2) % 2 == 0;
      const int way = (i / 4) % 6;
      auto window = std::make_unique<CountingWindow>();
      auto dialog = NewDialog(*window);
      const QString what = QStringLiteral("window %1 (way %2%3)").arg(i).arg(way).arg(modal ? ", modal" : "");

      auto startAndClose = [&] {
        ChooseFolders(*window);
        const int start = recover ? ids::kRecover : ids::kDetect;
        const bool hold = i % 3 == 0;
        if (hold) ArmEarly(*window, *dialog);
        Click(*window, start);
        if (hold) {
          // Held early in the pass, and let go from inside the close's wait.
          if (!HeldEarly(*window, *dialog)) {
            window->reject();
            return;
          }
          ++closedOnAHeldWorker;
          QTimer::singleShot(0, window.get(), [w = window.get()] { w->gate.Open(); });
        } else {
          Linger(i, *dialog);
        }
        closedOnAWorker += dialog->WorkerAlive();
        switch (way) {
          case 0: window->reject(); break;
          case 1: window->done(QDialog::Accepted); break;
          case 2: window->close(); break;  // the close box
          case 3: QTest::keyClick(window.get(), Qt::Key_Escape); break;
          case 4: window->MenuCommand(ids::kExit)->trigger(); break;  // "退出"
          default:
            // Stop, start again, and the close box pressed while that start
            // may still wait for the stopped worker: the close comes after it.
            Click(*window, recover ? ids::kStopRecover : ids::kStopDetect);
            QTimer::singleShot(0, window.get(), [w = window.get()] { w->close(); });
            Click(*window, start);
            break;
        }
      };

      int result = -1;
      bool hung = false;
      if (modal) {
        QTimer::singleShot(0, window.get(), startAndClose);
        // Should the close never come, the window is closed past the handlers.
        QTimer::singleShot(kPatienceMs, window.get(), [&] {
          hung = true;
          window->QDialog::done(QDialog::Rejected);
        });
        window->Attach(*dialog);
        result = window->RunModal();
      } else {
        Open(*window, *dialog);
        startAndClose();
        if (way != 5) {
          // The close itself stopped the pass and waited for its worker.
          QVERIFY2(!window->isVisible(), qPrintable(what + " is still open after its close"));
          QVERIFY2(!dialog->WorkerAlive(), qPrintable(what + " closed before its worker ended"));
        }
        hung = !ServeUntil([&] { return !window->isVisible(); });
        result = window->result();
      }
      QVERIFY2(!hung, qPrintable(what + " never closed"));
      QVERIFY2(!window->isVisible(), qPrintable(what));
      QVERIFY2(!dialog->WorkerAlive(), qPrintable(what + " left a worker running"));
      QCOMPARE(platform_.alive.load(), 0);
      QCOMPARE(result, way == 1 ? int(QDialog::Accepted) : int(QDialog::Rejected));
      QVERIFY2(window->messages.empty(), qPrintable(what));
      dialog.reset();
      window.reset();
      if (QTest::currentTestFailed()) return;
    }
    qInfo("%d windows: %d closed on a running worker, %d of them on one held inside its pass", windows,
          closedOnAWorker, closedOnAHeldWorker);
    ExpectOutputs(false);
    FinishWithAWholeRecovery(*window_, *dialog_);
  }
};

QTEST_MAIN(StressWindowTest)
#include "stress_window_test.moc"
