#include "support/browser.hpp"

#include <sys/stat.h>

#include <filesystem>

#include "support/process.hpp"
#include "support/servers.hpp"
#include "support/temp_dir.hpp"
#include "support/zabbix_api.hpp"

namespace sonda::test {

namespace {

// The frontend's root: its API address without the script's name.
std::string frontend_root() {
  const std::string api = zabbix_server().api;
  return api.substr(0, api.rfind('/') + 1);
}

std::string html_attribute(const std::string& text) {
  std::string quoted;
  for (const char c : text) {
    if (c == '&') {
      quoted += "&amp;";
    } else if (c == '"') {
      quoted += "&quot;";
    } else {
      quoted.push_back(c);
    }
  }
  return quoted;
}

// The frontend's login form, filled in and sent as soon as the page loads; after the login the
// frontend goes on to `page`.
std::string login_page(const FrontendUser& user, const std::string& page) {
  return "<!DOCTYPE html><html><body><form method=\"post\" action=\"" +
         html_attribute(frontend_root() + "index.php") + "\"><input name=\"name\" value=\"" +
         html_attribute(user.name) + "\"><input name=\"password\" value=\"" +
         html_attribute(user.password) +
         "\"><input name=\"autologin\" value=\"1\"><input name=\"enter\" value=\"Sign in\">"
         "<input name=\"request\" value=\"" +
         html_attribute(page) +
         "\"></form><script>document.forms[0].submit();</script></body></html>\n";
}

// The width and height in the IHDR chunk of a PNG file, right after its signature.
std::pair<int, int> png_size(const std::string& png) {
  const std::string bytes = read_file(png);
  if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) return {0, 0};
  const auto number = [&](std::size_t at) {
    int value = 0;
    for (std::size_t i = at; i < at + 4; ++i)
      value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
  };
  return {number(16), number(20)};
}

}  // namespace

FrontendUser frontend_user(ZabbixApi& api, const std::string& name, const std::string& language) {
  const nlohmann::json existing =
      api.call("user.get", {{"output", {"userid"}}, {"filter", {{"username", name}}}});
  for (const auto& user : existing)
    api.call("user.delete", nlohmann::json::array({user.at("userid")}));
  const FrontendUser user{name, "Vista-do-operador-2026"};
  const nlohmann::json created = api.call("user.create", {{"username", user.name},
                                                          {"passwd", user.password},
                                                          {"roleid", "3"},
                                                          {"usrgrps", {{{"usrgrpid", "7"}}}},
                                                          {"lang", language}});
  // The frontend keeps the folding of the time selector among the user's settings, which the
  // API does not reach; it is 1 (unfolded) until the user folds it once.
  PgSession zabbix("zabbix");
  zabbix.exec(
      "INSERT INTO profiles (profileid, userid, idx, idx2, value_id, value_int, value_str, "
      "source, type) SELECT coalesce(max(profileid), 0) + 1, " +
      created.at("userids").at(0).get<std::string>() +
      ", 'web.dashboard.filter.active', 0, 0, 0, '', '', 2 FROM profiles");
  return user;
}

Screenshot screenshot_frontend_page(const FrontendUser& user, const std::string& page,
                                    const std::string& png, int width, int height) {
  TempDir folder;
  const std::string login = folder.write("login.html", login_page(user, page));
  ::chmod(login.c_str(), 0600);
  std::filesystem::remove(png);
  ProcessOptions options;
  options.timeout = std::chrono::seconds(120);
  const ProcessResult browser = run_process(
      "/usr/bin/chromium",
      {"--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
       "--hide-scrollbars", "--user-data-dir=" + (folder.path() / "profile").string(),
       "--window-size=" + std::to_string(width) + "," + std::to_string(height),
       // Time enough for the login, the redirect and the widgets' own requests.
       "--virtual-time-budget=30000", "--screenshot=" + png, "file://" + login},
      options);
  Screenshot shot;
  shot.log = browser.out + browser.err;
  shot.taken = browser.status == 0 && std::filesystem::exists(png);
  if (shot.taken) std::tie(shot.width, shot.height) = png_size(png);
  return shot;
}

}  // namespace sonda::test
