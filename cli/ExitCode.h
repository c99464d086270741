// The exit statuses of the tessel program.
#pragma once

namespace tessel::cli {

enum class ExitCode : int {
    Ok = 0,          // everything done
    SomeFailed = 1,  // some subfiles (or databases) failed; the rest was written
    Usage = 2,       // a usage or set-up error: nothing was read
    OpenFailed = 3,  // the database could not be opened (no database, for several)
};

inline int toInt(ExitCode code) { return static_cast<int>(code); }

} // namespace tessel::cli
