// call-bench: what one call of the records server costs, by kind, against a demo practice.
//
//   call-bench [--calls N]        (PIVZONA12_REGISTRY names the practice's registry file)
//
// Signs in as the demo doctor, then times N calls of each kind: the probe alone (is_on),
// a one-value query (sql_into) and a one-row dump (sql_dump_file, its file read and
// removed as a run does). Each text call makes the probe and then the call itself.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <CLI/CLI.hpp>
#include <fmt/core.h>

#include "app/host.hpp"
#include "app/login.hpp"
#include "extract/builders.hpp"
#include "platform/files.hpp"
#include "records/px_wrap_praxipat.hpp"

namespace {

double micros_per_call(int calls, const std::function<bool()>& call) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i)
    if (!call()) return -1;
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / calls;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"call-bench"};
  int calls = 5000;
  app.add_option("--calls", calls, "calls of each kind");
  CLI11_PARSE(app, argc, argv);

  frontend::Host host;
  Tpx_wrap_praxipat session({}, host);
  std::unique_ptr<TUser> user = sign_in_attempt("demo", "demo", session, host);
  if (!user) {
    fmt::print(stderr, "call-bench: sign-in failed\n");
    return 1;
  }
  const std::string into = "SELECT ac_val FROM cart_accert WHERE codice = 'none'";
  const std::string dump = "SELECT codice, ac_val FROM cart_accert WHERE rowid = 1";
  const double probe = micros_per_call(calls, [&] { return session.is_on(); });
  const double value = micros_per_call(calls, [&] {
    session.sql_into("Praxilo", into);
    return true;
  });
  const double dumped =
      micros_per_call(calls, [&] { return read_dump(session, "Praxilo2", dump, [](std::string_view) {}); });
  fmt::print("probe {:.1f} us, sql_into {:.1f} us, sql_dump_file {:.1f} us per call\n", probe, value, dumped);
  return 0;
}
