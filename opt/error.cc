#include "opt/error.h"

namespace zelto {

const char* TError::what() const noexcept { return msg_.c_str(); }

}  // namespace zelto
