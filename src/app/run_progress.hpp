#pragma once
// What a window shows of a run in its progress dialog, and the run's request to stop: the
// same state and texts for every front end, which only draws them.
#include <atomic>
#include <string>

#include "extract/programmes.hpp"

class RunProgress {
 public:
  /// What the front end does with its dialog after a report of progress.
  enum class Step {
    nothing,      ///< the run has ended for the dialog: leave it
    start_delay,  ///< the run's first report: start the timer that shows the dialog later
    show,         ///< the run's first report, with no delay: show the dialog now
    update,       ///< show the new state in the dialog, if it is up
  };

  /// The dialog's title for a run of programme ("Estrazione diabete in corso").
  static std::string title_for(Programme programme);

  /// A run starts, named title (UTF-8); an earlier request to stop is forgotten.
  void begin(std::string title);
  /// Records done of total patients and says what the dialog needs. On the window's thread.
  Step record(int done, int total, bool delayed);
  /// The dialog may appear now: progress was reported and the run has not ended.
  bool may_show() const { return started_ && !ended_; }
  /// The run has ended: a dialog not yet shown for it is not shown any more.
  void end() { ended_ = started_; }

  /// Asks the run to stop; true for the first request only. From any thread.
  bool request_cancel() { return !cancel_.exchange(true); }
  bool cancel_requested() const { return cancel_; }

  /// The dialog's title: the run's own, or "Estrazione in corso".
  std::string title() const;
  /// The dialog's state line: "Annullamento in corso…", "paziente N di M selezionati" or
  /// "selezione dei pazienti…" while the patients are not known yet.
  std::string state() const;
  /// True when a bar can show done of total: the total is known and the run goes on.
  bool bar_known() const { return total_ > 0 && !cancel_; }
  int done() const { return done_; }
  int total() const { return total_; }

 private:
  std::string title_;
  bool started_ = false;  ///< progress has been reported since begin
  bool ended_ = false;    ///< the dialog was closed for this run: not shown again
  int done_ = 0;
  int total_ = 0;
  std::atomic<bool> cancel_{false};
};
