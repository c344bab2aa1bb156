#pragma once

namespace sonda {

// Makes the clients of the outside world ready (libcurl's global state). Called once, before the
// command line is read; raises a Failure when a component cannot be made ready.
void prepare_outside_components();

}  // namespace sonda
