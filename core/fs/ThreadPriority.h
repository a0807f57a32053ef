#pragma once

namespace olvex {

// Lowers the calling thread's CPU and I/O priority for background deletion (see the .cpp for
// how far and why). Best effort: a refusal leaves the thread as it was.
void lowerThreadPriority();

} // namespace olvex
