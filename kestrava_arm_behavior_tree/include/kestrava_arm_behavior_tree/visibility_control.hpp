#pragma once

// What the node library exports: its plugin entry point and the API its headers document. The
// library is built with hidden visibility, so that the perception contract and the code of its
// dependencies compiled into it stay its own and never bind to another copy in the process.
#define KESTRAVA_ARM_BT_PUBLIC __attribute__((visibility("default")))
