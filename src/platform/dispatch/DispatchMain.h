#pragma once

namespace platform::dispatch {

// Hands the calling (main) thread to the main queue: runs its blocks one at a time, forever.
// The process leaves it only through exit().
[[noreturn]] void dispatchMain();

// Serves the main queue on the calling thread like dispatchMain() until stopMainLoopForTest().
void runMainLoopForTest();
// Makes a running runMainLoopForTest() return after its current block; callable from any thread.
void stopMainLoopForTest();

} // namespace platform::dispatch
