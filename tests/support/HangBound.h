#pragma once

// How long a test waits for a helper process or a child application (Python, a tool, the
// application itself) to start, answer or end before it counts as hung. Only a hang reaches it:
// on a loaded machine starting Python alone can take many seconds. It stays below every test
// program's own time limit, so the wait that hung is still reported.
constexpr int kHangBoundMs = 180000;
