#pragma once

namespace kestrava_arm::host {

// SIGINT and SIGTERM only raise a flag that the tick loop polls; a second signal of the same kind
// gets the default action, so a host stuck in a node can still be stopped.
void InstallStopSignalHandlers();
bool StopSignalReceived();

}  // namespace kestrava_arm::host
