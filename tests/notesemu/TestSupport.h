// Helpers for the runtime's tests: temporary directories and process environment overrides, from
// the test kit.
#pragma once

#include <tessel/kit/TempDir.h>

namespace notesemu::test {

using tessel::kit::ScopedEnv;
using tessel::kit::TempDir;

} // namespace notesemu::test
