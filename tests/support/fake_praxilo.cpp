#include "fake_praxilo.hpp"

#include <algorithm>
#include <filesystem>

#include "platform/automation.hpp"

namespace test_support {

class FakePraxiloObject : public platform::AutomationObject {
 public:
  explicit FakePraxiloObject(FakePraxilo& fake) : fake_(fake) {}

  platform::Variant call(const std::string& method, const std::vector<platform::Argument>& args) override {
    RecordedCall call{method, {}};
    for (const auto& a : args) call.args.push_back(a.omitted ? "<omitted>" : a.text);
    fake_.calls.push_back(call);
    if (fake_.raising.count(method)) throw platform::AutomationError("errore scriptato in " + method);
    if (fake_.fault)
      if (std::optional<platform::Variant> answer = fake_.fault(call)) return *answer;
    const auto arg = [&](std::size_t i) { return i < call.args.size() ? call.args[i] : std::string(); };
    if (method == "connetti") return platform::Variant::make_text(fake_.connetti_answer);
    if (method == "leggi_attributo" || method == "utente_leggi_attributo") {
      auto it = fake_.attributes.find(arg(0));
      if (it == fake_.attributes.end()) throw platform::AutomationError("attributo sconosciuto: " + arg(0));
      return platform::Variant::make_text(it->second);
    }
    if (method == "sql_into")
      return platform::Variant::make_text(fake_.into ? fake_.into(arg(0), arg(1)) : std::string());
    if (method == "sql_dump_file") {
      if (fake_.dump_name_override) return platform::Variant::make_text(*fake_.dump_name_override);
      std::optional<std::string> content = fake_.dump ? fake_.dump(arg(0), arg(1)) : std::string();
      if (!content) return platform::Variant::make_text("");
      const std::string name = fake_.dump_folder + "dump" + std::to_string(++fake_.dumps_made_) + ".txt";
      std::filesystem::create_directories(fake_.dump_path(name).parent_path());
      write_file(fake_.dump_path(name), *content);
      fake_.dump_files.push_back(name);
      return platform::Variant::make_text(name);
    }
    return platform::Variant::make_empty();
  }

 private:
  FakePraxilo& fake_;
};

Tpx_wrap_praxipat::ObjectFactory FakePraxilo::factory() {
  return [this](const std::string& progid) -> std::unique_ptr<platform::AutomationObject> {
    if (progid != "Praxilo.Server") throw platform::AutomationError("Classe non registrata");
    return std::make_unique<FakePraxiloObject>(*this);
  };
}

std::filesystem::path FakePraxilo::dump_path(const std::string& name) const {
  std::string relative = name;
  std::replace(relative.begin(), relative.end(), '\\', '/');
  return dir_.path() / relative;
}

std::vector<std::string> FakePraxilo::sql_sent(const std::string& method) const {
  std::vector<std::string> sent;
  for (const auto& c : calls)
    if (c.method == method && c.args.size() == 2) sent.push_back(c.args[0] + "|" + c.args[1]);
  return sent;
}

}  // namespace test_support
