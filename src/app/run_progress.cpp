#include "app/run_progress.hpp"

std::string RunProgress::title_for(Programme programme) {
  return std::string(programme_info(programme).message_caption) + " in corso";
}

void RunProgress::begin(std::string title) {
  title_ = std::move(title);
  started_ = false;
  ended_ = false;
  done_ = total_ = 0;
  cancel_ = false;
}

RunProgress::Step RunProgress::record(int done, int total, bool delayed) {
  done_ = done;
  total_ = total;
  if (ended_) return Step::nothing;
  if (started_) return Step::update;
  started_ = true;
  return delayed ? Step::start_delay : Step::show;
}

std::string RunProgress::title() const { return title_.empty() ? "Estrazione in corso" : title_; }

std::string RunProgress::state() const {
  if (cancel_) return "Annullamento in corso\u2026";
  // The patients selected: a run writes those of them that its programme keeps, which the
  // result line counts.
  if (total_ > 0) return "paziente " + std::to_string(done_) + " di " + std::to_string(total_) + " selezionati";
  return "selezione dei pazienti\u2026";
}
