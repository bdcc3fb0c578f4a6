#pragma once
// A main window for the controller's tests: it records what the controller asks of it,
// and its sign-in window makes scripted attempts.
#include <functional>
#include <string>
#include <vector>

#include "app/main_controller.hpp"

namespace test_support {

/// A window that records what the controller asks of it. Its sign-in window makes the
/// scripted attempts in order and closes on the first that admits the doctor or is given
/// up; after the last, Annulla closes it.
class FakeWindow : public MainView {
 public:
  struct Attempt {
    std::string user, password;
  };
  MainController* controller = nullptr;
  std::vector<Attempt> attempts;
  /// Called in the sign-in window before the attempts (e.g. what the user does meanwhile).
  std::function<void()> on_sign_in;
  std::vector<SignInAnswer> answers;
  std::vector<std::string> events;
  DateRange shown_range;
  DoctorFields doctor;
  std::string status;                 ///< the status line's text
  std::vector<std::string> statuses;  ///< every text it took, in order
  bool open_folder_enabled = false;   ///< "Apri cartella" usable

  void run_sign_in() override {
    events.push_back("sign-in");
    if (on_sign_in) on_sign_in();
    for (const Attempt& a : attempts) {
      answers.push_back(controller->attempt_sign_in(a.user, a.password));
      if (answers.back() == SignInAnswer::admitted || answers.back() == SignInAnswer::given_up) return;
    }
    controller->give_up_sign_in();
  }
  void enable_runs() override { events.push_back("enable"); }
  void set_range(const DateRange& range) override {
    events.push_back("range");
    shown_range = range;
  }
  DateRange range() const override { return shown_range; }
  void show_doctor(const DoctorFields& fields) override {
    events.push_back("doctor");
    doctor = fields;
  }
  void focus_first_control() override { events.push_back("focus"); }
  void set_status(const std::string& text) override {
    events.push_back("status");
    status = text;
    statuses.push_back(text);
  }
  void enable_open_folder(bool enabled) override { open_folder_enabled = enabled; }
};

}  // namespace test_support
