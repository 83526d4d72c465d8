// The public setLogCallback. This file is compiled into the runtime library
// for the static users and once more into the shared library itself, because
// symbols that come from the static parts are never exported.
#include "manager/log.h"

namespace vornik {

void setLogCallback(LogCallback callback) { setLogSink(callback); }

}  // namespace vornik
