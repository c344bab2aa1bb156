#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/zabbix_api.hpp"

namespace sonda::test {

// A host macro for host.create, plain or secret.
nlohmann::json host_macro(const std::string& name, const std::string& value, bool secret = false);

// Imports (creates or updates) the repository's template through the API, as an operator
// does, and returns its id.
std::string import_sonda_template(ZabbixApi& api);

// A host of the template made for one test, deleted when the test is done with it, on every
// path (a failure to delete is only printed). A host that outlived its test would run the
// template's external check in the middle of later ones: every import of the template enables
// the check again on each host linked to it.
class TemplateHost {
 public:
  TemplateHost(ZabbixApi& api, std::string id);
  TemplateHost(TemplateHost&& other) noexcept;
  TemplateHost& operator=(TemplateHost&&) = delete;
  ~TemplateHost();

  const std::string& id() const { return id_; }

 private:
  ZabbixApi& api_;
  std::string id_;
};

// Creates the host `name` (deleting any earlier one of that name) linked to the template, with
// an agent interface and the macros that point the probe at the test servers, then `extra`
// macros. The template's items take values once the server has reloaded its configuration
// (reload_zabbix_configuration). The template's external check is disabled on the host: left
// to its schedule, the server would start runs of its own in the middle of other tests,
// writing the fixture's customers to the shared QuestDB tables and sending outcomes nobody
// asked for. A test that runs it enables it (set_external_check).
TemplateHost create_template_host(ZabbixApi& api, const std::string& name,
                                  const std::string& template_id,
                                  const nlohmann::json& extra = nlohmann::json::array());

// Enables or disables the template's external check on the host; returns the item.
nlohmann::json set_external_check(ZabbixApi& api, const std::string& host_id, bool enabled);

// Waits until the Zabbix server has the whole host `name` just created. A configuration sync
// that runs while a host is created (or an earlier one of the same name deleted) may hold part
// of it, such as its items without its template's macros; a change seen after the host's items
// were seen comes from a later sync, which has all of it.
void wait_until_server_has_host(ZabbixApi& api, const std::string& host_id,
                                const std::string& name);

// Enables or disables the host's discovery rule, and waits until the server sees it.
void enable_discovery_rule(ZabbixApi& api, const std::string& host_id, const std::string& name,
                           bool enabled);

// The id of `key` on the host.
std::string item_id(ZabbixApi& api, const std::string& host_id, const std::string& key);

// The stored values of `key` on the host, newest first (at most `limit`).
std::vector<std::string> item_history(ZabbixApi& api, const std::string& host_id,
                                      const std::string& key, int limit = 100);

// The names of the host's open problems.
std::vector<std::string> open_problems(ZabbixApi& api, const std::string& host_id);

// The first open problem of the host whose name starts with `prefix`.
std::optional<nlohmann::json> open_problem(ZabbixApi& api, const std::string& host_id,
                                           const std::string& prefix);

// Waits up to `limit` for `ready` to hold, checking every 200 ms.
template <typename Check>
bool eventually(Check ready, std::chrono::seconds limit = std::chrono::seconds(60)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return ready();
}

}  // namespace sonda::test
