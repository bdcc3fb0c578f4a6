// The stand-in server "Praxilo.Server" as COM clients see it, in the form the test program
// runs it (praxilo-server.exe, or praxilo-server.dll in process): the class object,
// IDispatch's name lookup and argument forms (strict: texts only by reference), results and
// exceptions, one process per object, and the fault switch; and the system's client
// meeting a class registered only as an in-process server of the other architecture.
// The late-bound client of the system (platform::create_ole_object) is tested with the
// server's methods in praxilo_server_test.cpp; here the calls are made by hand, so that
// each form COM allows is seen as the server answers it.
#include <gtest/gtest.h>

#ifdef _WIN32

#include <windows.h>

#include <ole2.h>
#include <oleauto.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/login.hpp"
#include "platform/automation.hpp"
#include "platform/paths.hpp"
#include "praxilo_class_win.hpp"
#include "protocol/automation_protocol.hpp"
#include "recording_host.hpp"
#include "records/px_wrap_praxipat.hpp"
#include "test_support.hpp"

using test_support::Installation;
using test_support::ScopedEnv;

namespace {

// A VARIANT that clears itself. A text goes by reference (VT_BYREF | VT_BSTR, pointing at
// a BSTR the Var owns), as the system passes its texts, or by value.
struct Var {
  VARIANT v;
  BSTR referenced = nullptr;  ///< the text a by-reference Var points at
  Var() { ::VariantInit(&v); }
  explicit Var(const wchar_t* text) : Var() {
    referenced = ::SysAllocString(text);
    V_VT(&v) = VT_BSTR | VT_BYREF;
    V_BSTRREF(&v) = &referenced;
  }
  static Var by_value(const wchar_t* text) {
    Var a;
    V_VT(&a.v) = VT_BSTR;
    V_BSTR(&a.v) = ::SysAllocString(text);
    return a;
  }
  static Var omitted() {
    Var a;
    V_VT(&a.v) = VT_ERROR;
    V_ERROR(&a.v) = DISP_E_PARAMNOTFOUND;
    return a;
  }
  static Var integer(LONG i) {
    Var a;
    V_VT(&a.v) = VT_I4;
    V_I4(&a.v) = i;
    return a;
  }
  Var(Var&& other) noexcept : v(other.v), referenced(other.referenced) {
    ::VariantInit(&other.v);
    other.referenced = nullptr;
    if (V_VT(&v) == (VT_BSTR | VT_BYREF)) V_BSTRREF(&v) = &referenced;
  }
  Var(const Var&) = delete;
  ~Var() {
    ::VariantClear(&v);  // a by-reference VARIANT frees nothing
    ::SysFreeString(referenced);
  }
  std::wstring text() const { return V_VT(&v) == VT_BSTR && V_BSTR(&v) ? std::wstring(V_BSTR(&v)) : L"<not a text>"; }
};

// What Invoke gave back.
struct Outcome {
  HRESULT hr = E_UNEXPECTED;
  Var result;
  std::wstring description;  ///< of DISP_E_EXCEPTION
  UINT bad_argument = ~0u;
};

class PraxiloComTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    com_ = true;
  }
  void TearDown() override {
    for (IDispatch* object : objects_)
      if (object) object->Release();
    if (com_) ::CoUninitialize();
  }

  // A new object of the class "Praxilo.Server", released at the end of the test.
  IDispatch* create() {
    CLSID clsid{};
    EXPECT_EQ(::CLSIDFromProgID(L"Praxilo.Server", &clsid), S_OK);
    IDispatch* object = nullptr;
    EXPECT_EQ(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                 reinterpret_cast<void**>(&object)),
              S_OK);
    objects_.push_back(object);
    return object;
  }
  void release(IDispatch* object) {
    for (IDispatch*& o : objects_)
      if (o == object) o = nullptr;
    object->Release();
  }

  static DISPID id_of(IDispatch* object, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
  }

  // Calls a method with args in the order written (COM wants them last first).
  static Outcome invoke(IDispatch* object, DISPID id, std::vector<Var> args, WORD flags = DISPATCH_METHOD) {
    std::vector<VARIANT> reversed;
    for (auto a = args.rbegin(); a != args.rend(); ++a) reversed.push_back(a->v);
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO info{};
    Outcome out;
    out.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &out.result.v, &info, &out.bad_argument);
    if (info.bstrDescription) out.description = info.bstrDescription;
    ::SysFreeString(info.bstrDescription);
    ::SysFreeString(info.bstrSource);
    ::SysFreeString(info.bstrHelpFile);
    return out;
  }
  static Outcome invoke(IDispatch* object, const wchar_t* name, std::vector<Var> args) {
    return invoke(object, id_of(object, name), std::move(args));
  }

  static DWORD process_of(IDispatch* object) {
    const Outcome pid = invoke(object, L"process_id", {});
    EXPECT_EQ(pid.hr, S_OK);
    EXPECT_EQ(V_VT(&pid.result.v), VT_I4);
    return static_cast<DWORD>(V_I4(&pid.result.v));
  }

  // Waits up to five seconds for the process to end; true when it has (or is unknown).
  static bool process_ends(DWORD pid) {
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process) return true;
    const bool ended = ::WaitForSingleObject(process, 5000) == WAIT_OBJECT_0;
    ::CloseHandle(process);
    return ended;
  }

  Installation inst{test_support::demo_user_sql};
  bool com_ = false;
  std::vector<IDispatch*> objects_;
};

TEST_F(PraxiloComTest, NamesAreFoundWithoutRegardToCase) {
  IDispatch* object = create();
  ASSERT_TRUE(object);
  const DISPID id = id_of(object, L"sql_into");
  EXPECT_NE(id, DISPID_UNKNOWN);
  EXPECT_EQ(id_of(object, L"SQL_INTO"), id);
  EXPECT_EQ(id_of(object, L"Sql_Into"), id);
  EXPECT_NE(id_of(object, L"sql_dump_file"), id);

  DISPID unknown = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"nessuno")};
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &unknown), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(unknown, DISPID_UNKNOWN);
  EXPECT_EQ(invoke(object, L"get_error", {}).result.text(), L"Metodo sconosciuto: nessuno");
}

TEST_F(PraxiloComTest, ArgumentFormsAndResults) {
  IDispatch* object = create();
  ASSERT_TRUE(object);
  ASSERT_EQ(invoke(object, L"new", {}).hr, S_OK);

  // Texts by reference, an omitted argument.
  std::vector<Var> sign_in;
  sign_in.emplace_back(L"demo");
  sign_in.emplace_back(L"demo");
  const Outcome connetti = invoke(object, L"connetti", std::move(sign_in));
  EXPECT_EQ(connetti.hr, S_OK);
  EXPECT_EQ(connetti.result.text(), L"");

  std::vector<Var> omitted;
  omitted.push_back(Var::omitted());
  const Outcome error = invoke(object, L"get_error", std::move(omitted));
  EXPECT_EQ(error.hr, S_OK);
  EXPECT_EQ(V_VT(&error.result.v), VT_BSTR);

  std::vector<Var> sql;
  sql.emplace_back(L"Praxilo");
  sql.emplace_back(L"SELECT nome || ' è€' FROM utenti WHERE userid_utente = 7");
  EXPECT_EQ(invoke(object, L"sql_into", std::move(sql)).result.text(), L"Niccolò è€");

  const Outcome empty = invoke(object, L"disconnetti", {});
  EXPECT_EQ(empty.hr, S_OK);
  EXPECT_EQ(V_VT(&empty.result.v), VT_EMPTY);
  EXPECT_EQ(process_of(object), process_of(object));  // an integer, the same process
}

// What the installations of the tests register is strict, as a server whose methods take
// BSTR* parameters: a text by value, or a number for a text, is a type mismatch named by
// its position (counted from the last argument). Started without --strict, the server
// takes both.
TEST_F(PraxiloComTest, StrictServerTakesTextsOnlyByReference) {
  struct Case {
    const char* name;
    std::function<Var()> first;  ///< get_opzione's first argument; the second is by reference
  };
  const Case cases[] = {
      {"text by value", [] { return Var::by_value(L"macchina"); }},
      {"number", [] { return Var::integer(7); }},
  };
  for (const bool strict : {true, false}) {
    std::optional<test_support::ServerClass> lenient;
    if (!strict)
      lenient.emplace(
          platform::protocol::join_command_line({platform::path_to_utf8(test_support::bin_program("praxilo-server")),
                                                 platform::path_to_utf8(inst.db_file())}));
    IDispatch* object = create();
    ASSERT_TRUE(object);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (strict ? ", strict" : ", lenient"));
      std::vector<Var> args;
      args.push_back(c.first());
      args.emplace_back(L"OPZIONI\\regione");
      const Outcome out = invoke(object, L"get_opzione", std::move(args));
      if (strict) {
        EXPECT_EQ(out.hr, DISP_E_TYPEMISMATCH);
        EXPECT_EQ(out.bad_argument, 1u);
      } else {
        EXPECT_EQ(out.hr, S_OK);
      }
    }
    release(object);
  }
}

TEST_F(PraxiloComTest, FailuresOfTheCall) {
  IDispatch* object = create();
  ASSERT_TRUE(object);
  struct Case {
    const char* name;
    const wchar_t* method;
    std::vector<std::wstring> texts;
    std::wstring description;
  };
  const std::vector<Case> cases = {
      {"method raised", L"sql_into", {L"Altro", L"SELECT 1"}, L"Database sconosciuto: Altro"},
      {"too few arguments", L"sql_into", {L"Praxilo"}, L"Numero di argomenti non valido"},
      {"no user signed in", L"utente_leggi_attributo", {L"nome"}, L"Nessun utente connesso"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Var> args;
    for (const std::wstring& t : c.texts) args.emplace_back(t.c_str());
    const Outcome out = invoke(object, c.method, std::move(args));
    EXPECT_EQ(out.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(out.description, c.description);
    EXPECT_EQ(invoke(object, L"get_error", {}).result.text(), c.description);
  }

  EXPECT_EQ(invoke(object, 4711, {}).hr, DISP_E_MEMBERNOTFOUND);
  std::vector<Var> args;
  args.emplace_back(L"Praxilo");
  Var not_text;
  V_VT(&not_text.v) = VT_NULL;
  args.push_back(std::move(not_text));
  const Outcome mismatch = invoke(object, L"sql_into", std::move(args));
  EXPECT_EQ(mismatch.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(mismatch.bad_argument, 0u);  // the last one, counted from the end

  // Named arguments are not offered.
  VARIANT arg;
  ::VariantInit(&arg);
  DISPID named = 0;
  DISPPARAMS params{&arg, &named, 1, 1};
  EXPECT_EQ(object->Invoke(id_of(object, L"get_error"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                           nullptr, nullptr, nullptr),
            DISP_E_NONAMEDARGS);
}

TEST_F(PraxiloComTest, EachObjectIsAProcessThatEndsWithIt) {
  if (test_support::server_form() == test_support::ServerForm::in_process)
    GTEST_SKIP() << "the in-process server's objects live in this process";
  IDispatch* first = create();
  IDispatch* second = create();
  ASSERT_TRUE(first && second);
  const DWORD first_pid = process_of(first);
  const DWORD second_pid = process_of(second);
  EXPECT_NE(first_pid, second_pid);
  release(first);
  EXPECT_TRUE(process_ends(first_pid));
  EXPECT_EQ(invoke(second, L"new", {}).hr, S_OK);
  release(second);
  EXPECT_TRUE(process_ends(second_pid));
}

TEST_F(PraxiloComTest, ServerWithoutItsDatabaseSaysWhy) {
  const std::string missing = platform::path_to_utf8(inst.db_file()) + ".mancante";
  test_support::ServerClass server_class(platform::protocol::join_command_line(
      {platform::path_to_utf8(test_support::bin_program("praxilo-server")), missing}));
  IDispatch* object = create();
  ASSERT_TRUE(object);
  const Outcome out = invoke(object, L"new", {});
  EXPECT_EQ(out.hr, DISP_E_EXCEPTION);
  EXPECT_NE(out.description.find(L".mancante"), std::wstring::npos) << out.description.size();
}

// The fault switch reaches the server only through the environment it inherits from its
// client, which Wine gives it; on Windows the system starts the server with its own.
bool under_wine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

TEST_F(PraxiloComTest, InProcessObjectsLiveInTheClientsProcess) {
  if (test_support::server_form() != test_support::ServerForm::in_process)
    GTEST_SKIP() << "the local server's objects live in processes of their own";
  IDispatch* first = create();
  IDispatch* second = create();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(process_of(first), ::GetCurrentProcessId());
  EXPECT_EQ(process_of(second), ::GetCurrentProcessId());
  // Each object has a session of its own.
  std::vector<Var> sign_in;
  sign_in.emplace_back(L"demo");
  sign_in.emplace_back(L"demo");
  ASSERT_EQ(invoke(first, L"connetti", std::move(sign_in)).hr, S_OK);
  std::vector<Var> attribute;
  attribute.emplace_back(L"nome");
  std::vector<Var> attribute_again;
  attribute_again.emplace_back(L"nome");
  EXPECT_EQ(invoke(first, L"utente_leggi_attributo", std::move(attribute)).result.text(), L"Niccolò");
  EXPECT_EQ(invoke(second, L"utente_leggi_attributo", std::move(attribute_again)).description,
            L"Nessun utente connesso");
}

TEST_F(PraxiloComTest, ExitAfterEndsTheServerWithoutAnswer) {
  if (test_support::server_form() == test_support::ServerForm::in_process)
    GTEST_SKIP() << "the in-process server never ends its client's process";
  if (!under_wine()) GTEST_SKIP() << "the server inherits PRAXILO_SERVER_EXIT_AFTER from its client only under Wine";
  ScopedEnv exit_after("PRAXILO_SERVER_EXIT_AFTER", "3");
  IDispatch* object = create();
  ASSERT_TRUE(object);
  const DWORD pid = process_of(object);
  EXPECT_EQ(invoke(object, L"new", {}).hr, S_OK);
  const HRESULT third = invoke(object, L"new", {}).hr;
  EXPECT_TRUE(third == RPC_E_SERVERFAULT || third == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED) ||
              third == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE))
      << std::hex << third;
  EXPECT_TRUE(process_ends(pid));
  EXPECT_EQ(invoke(object, L"new", {}).hr, HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
}

// The records product's class registered only as an in-process server of the other
// architecture (a 32-bit DLL; this test program is 64-bit): it cannot be loaded, and the
// sign-in says why at once, without a hang or a crash.
struct OtherArchitectureCase {
  const char* name;
  praxilo_db::ClassView view;  ///< where the 32-bit DLL is registered
  std::string reason;          ///< what create_ole_object's failure starts with
};

class OtherArchitecture : public testing::TestWithParam<OtherArchitectureCase> {};

TEST_P(OtherArchitecture, TheClassCannotStartAndTheSignInSaysWhy) {
#ifndef PZ_I686_BIN_DIR
  GTEST_SKIP() << "needs the 32-bit build's in-process server (PIVZONA12_I686_BUILD)";
#else
  Installation inst{test_support::demo_user_sql};  // holds the class's registration lock
  const std::filesystem::path dll = std::filesystem::path(PZ_I686_BIN_DIR) / "praxilo-server.dll";
  ASSERT_TRUE(std::filesystem::exists(dll)) << dll;
  ASSERT_EQ(praxilo_db::unregister_server_class(), "");
  ASSERT_EQ(
      praxilo_db::register_inproc_server_class(
          platform::path_to_utf8(dll),
          platform::protocol::join_command_line({platform::path_to_utf8(inst.db_file()), "--strict"}), GetParam().view),
      "");
  std::string failure;
  try {
    platform::create_ole_object("Praxilo.Server");
  } catch (const platform::AutomationError& error) {
    failure = error.what();
  }
  EXPECT_TRUE(failure.starts_with(GetParam().reason)) << failure;

  Tpx_wrap_praxipat session;
  test_support::RecordingHost host;
  EXPECT_EQ(sign_in_attempt("demo", "demo", session, host), nullptr);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "Impossibile avviare Praxilo: " + failure);
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Views, OtherArchitecture,
    testing::Values(OtherArchitectureCase{"In32BitView", praxilo_db::ClassView::bits32,
                                          "Classe registrata solo per i programmi a 32 bit"},
                    OtherArchitectureCase{
                        "InThisProgramsView", praxilo_db::ClassView::own,
                        "Classe registrata con una DLL a 32 bit, che un programma a 64 bit non può caricare"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

#else

TEST(PraxiloCom, OnlyOnWindows) { GTEST_SKIP() << "the server is a COM local server only on Windows"; }

#endif
