#pragma once

#include <string>

#include "support/zabbix_api.hpp"

namespace sonda::test {

// A user of the test frontend for screenshots.
struct FrontendUser {
  std::string name, password;
};

// Creates anew the super administrator `name`, who reads the frontend in `language` (such as
// "pt_BR") and sees dashboards with their time selector folded, as an operator who has been
// there before.
FrontendUser frontend_user(ZabbixApi& api, const std::string& name, const std::string& language);

// What a screenshot of the test frontend gave.
struct Screenshot {
  bool taken = false;
  int width = 0;    // of the PNG written, from its header
  int height = 0;   // ditto
  std::string log;  // the browser's output, for a failure message
};

// Logs in to the Zabbix frontend of the tests as `user` in headless Chromium (Debian's
// package), opens `page` (relative to the frontend's root, such as "zabbix.php?action=..."),
// lets its scripts and widgets load, and writes a `width` x `height` PNG of it to `png`. The
// password travels in a form of a private temporary file, not in the browser's arguments.
Screenshot screenshot_frontend_page(const FrontendUser& user, const std::string& page,
                                    const std::string& png, int width, int height);

}  // namespace sonda::test
