#pragma once
// The desktop window's host on Windows: system message boxes, the common save dialog, the
// busy cursor, the foreground window, the report view and the progress dialog of a run,
// with its Annulla.
//
// The records product is called on the session thread so that the window stays responsive
// while it answers; every operation may be called from that thread and does its work on the
// window's thread, which keeps pumping messages while it waits for the session thread.
#include <windows.h>

#include <commdlg.h>

#include <functional>
#include <string>

#include "app/desktop_host.hpp"

class ReportView;

/// "description|pattern|…" as the save dialog's filter: pairs separated by NULs, ended by two.
std::wstring dialog_filter(const std::string& filter);

class Win32Host : public DesktopHost {
 public:
  /// Answers a message box instead of the system (tests): text, caption, MessageBox style.
  using MessageBoxHook = std::function<int(const std::wstring& text, const std::wstring& caption, UINT style)>;
  /// Answers the open or save dialog instead of the system (tests), as GetSaveFileNameW
  /// would: the request as the system would receive it, the chosen path written into it.
  using FileDialogHook = std::function<bool(OPENFILENAMEW& request)>;
  /// Called once a modal window of the program is up, from inside its modal loop (tests).
  using WindowHook = std::function<void(HWND window)>;
  /// Answers the monitor's work area instead of the system (tests).
  using WorkAreaHook = std::function<RECT()>;
  /// Answers the dots per inch of a window's monitor instead of the system (tests).
  using DpiHook = std::function<int(HWND window)>;

  /// Made on the window's thread.
  Win32Host();
  ~Win32Host() override;
  Win32Host(const Win32Host&) = delete;
  Win32Host& operator=(const Win32Host&) = delete;

  /// A box with an OK button, the caption and the icon of the flags' kind. With
  /// mb_systemmodal it is system-modal and has no owner; otherwise the active window owns it.
  int message_box(const std::string& text, const std::string& caption, unsigned flags) override;
  /// GetSaveFileNameW (or GetOpenFileNameW): never asks before replacing a file, adds an
  /// extension only when the request gives one.
  bool ask_file_name(const frontend::FileDialogRequest& request, std::string& file_name) override;
  void set_busy_cursor(bool busy) override;
  frontend::WindowHandle foreground_window() override;
  void set_foreground_window(frontend::WindowHandle window) override;
  void navigate_report(const std::string& url) override;
  void refresh_report() override;
  void set_report_visible(bool visible) override;
  /// The folder in Explorer (ShellExecute "explore"), or the folder hook's answer when set.
  bool open_folder(const std::string& folder) override;
  using FolderHook = std::function<bool(const std::wstring& folder)>;
  void set_folder_hook(FolderHook hook) { folder_hook_ = std::move(hook); }
  /// Pumps the window's messages until done() is true.
  void wait_until(const std::function<bool()>& done) override;
  void wake() override;

  void set_owner(HWND owner) { owner_ = owner; }
  void set_report_view(ReportView* view) { view_ = view; }
  bool busy() const { return busy_; }
  void set_message_box_hook(MessageBoxHook hook) { message_box_hook_ = std::move(hook); }
  void set_work_area_hook(WorkAreaHook hook) { work_area_hook_ = std::move(hook); }
  /// The work area (the screen less the taskbar) of the monitor nearest to window.
  RECT work_area(HWND window) const;
  void set_dpi_hook(DpiHook hook) { dpi_hook_ = std::move(hook); }
  /// The dots per inch of the monitor of window, which its controls are made for.
  int dpi(HWND window) const;
  void set_file_dialog_hook(FileDialogHook hook) { file_dialog_hook_ = std::move(hook); }
  /// Called inside the sign-in window's modal loop once it is up.
  void set_modal_hook(WindowHook hook) { modal_hook_ = std::move(hook); }
  const WindowHook& modal_hook() const { return modal_hook_; }
  /// Called on the window's thread after each change of the progress dialog while it is up.
  void set_progress_hook(WindowHook hook) { progress_hook_ = std::move(hook); }
  /// Called inside the loop of the question of a call past its limit once its box is up,
  /// with the box (tests: its texts, its buttons pressed).
  void set_question_hook(WindowHook hook) { question_hook_ = std::move(hook); }
  /// The progress dialog while it is up, else nullptr; its controls: progress_label_id,
  /// progress_annulla_id.
  HWND progress_dialog() const { return progress_dialog_; }
  static constexpr int progress_label_id = 101;
  static constexpr int progress_annulla_id = 102;

 protected:
  void on_window_thread(const std::function<void()>& work) override;
  void start_progress_timer(int milliseconds) override;
  void stop_progress_timer() override;
  void show_progress_dialog() override;
  void update_progress_dialog(bool notify) override;
  void close_progress_dialog() override;
  /// The system's message box with "Attendi ancora" and "Interrompi" in place of its
  /// Riprova and Annulla buttons, widened to their texts where needed.
  bool ask_keep_waiting(const std::string& text, const std::string& caption, unsigned flags) override;

 private:
  static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  /// The hook that renames the question's buttons as its box comes up.
  static LRESULT CALLBACK question_activated(int code, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK progress_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  DWORD thread_;
  HWND messages_ = nullptr;  ///< a message-only window: the run's calls arrive there
  FolderHook folder_hook_;
  HWND owner_ = nullptr;
  ReportView* view_ = nullptr;
  HWND progress_dialog_ = nullptr;
  HWND focus_before_progress_ = nullptr;  ///< the control focused when the dialog came up
  bool busy_ = false;
  bool in_progress_hook_ = false;
  MessageBoxHook message_box_hook_;
  WorkAreaHook work_area_hook_;
  DpiHook dpi_hook_;
  FileDialogHook file_dialog_hook_;
  WindowHook modal_hook_;
  WindowHook progress_hook_;
  WindowHook question_hook_;
};
