#include "GioLibrary.h"

namespace quorvane {
namespace posix {

QV_DYNAMIC_LIBRARY(GioLibrary, "libgio-2.0.so.0", QV_GIO_FUNCTIONS)

}  // namespace posix
}  // namespace quorvane
