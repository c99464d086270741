// Stands in for the image converter in the library loading tests: the host must find it under the
// name "bmpcv.dll" in its library directory.
#include <quillon/quillon.h>

extern "C" QLEXPORT int hostTestAnswer() {
    return 42;
}
