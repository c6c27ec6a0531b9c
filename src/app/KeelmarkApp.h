#pragma once

// The process: claims the single-instance role, builds the services and the
// delegate on the shared AppState, and runs the event loop.
namespace KeelmarkApp {

int run(int argc, char **argv);

} // namespace KeelmarkApp
