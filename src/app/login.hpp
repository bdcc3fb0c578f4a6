#pragma once
// The doctor's sign-in: connects the session with the records product's credentials,
// reads the doctor's attributes and admits only a medico titolare with a regional code.
#include <memory>
#include <string>

#include "app/host.hpp"
#include "records/TUser.hpp"
#include "records/px_wrap_praxipat.hpp"

/// The application title, caption of the sign-in messages.
inline constexpr const char* application_title = "PIV ZONA12";

/// The user name the records product signed in last (the maker's registry folder's
/// "ultimo_utente"), offered by the sign-in; "" when there is none.
std::string last_user_name();

/// Signs in with user_name and password exactly as typed and fills user. Shows its
/// refusals through host's message box, for the records product's answers only: a call
/// of the sign-in that failed stops it with "Impossibile avviare Praxilo: " and the
/// reason, or "Praxilo non risponde." past the call's time limit (session.failure()
/// then tells it); true when the doctor is admitted. Never throws.
bool proceed(const std::string& user_name, const std::string& password, TUser& user, Tpx_wrap_praxipat& session,
             frontend::Host& host);

/// One sign-in attempt, as the OK button makes it: busy cursor around a call of proceed
/// with a new, empty record. Returns that record when admitted, nullptr otherwise.
std::unique_ptr<TUser> sign_in_attempt(const std::string& user_name, const std::string& password,
                                       Tpx_wrap_praxipat& session, frontend::Host& host);
