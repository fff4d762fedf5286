// The library's error word and throw flag as the byte-I/O and storage layer
// uses them: the library-wide state of extract/libstring.h under the names
// this layer has always used, so that a failure raised here is the one the
// HWP manager catches.
#pragma once

#include "extract/libstring.h"

namespace h2s_local {

using ::ClearLibraryError;
using ::GetLibraryError;
using ::RaiseLibraryError;  // throws the error word while the throw flag is set
using ::SetLibraryError;
using ::SetThrowOnError;

}  // namespace h2s_local
