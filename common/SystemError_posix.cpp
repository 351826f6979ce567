#include <cstring>

#include "common/SystemError.h"

namespace iqfeeder {

std::string systemErrorText(int code) {
    return std::strerror(code);
}

}  // namespace iqfeeder
