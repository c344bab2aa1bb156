#include "outside/library_setup.hpp"

#include <curl/curl.h>

#include "core/failure.hpp"

namespace sonda {

void prepare_outside_components() {
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    throw InternalError("não foi possível iniciar a biblioteca libcurl");
  }
}

}  // namespace sonda
