#include "util/Prompts.h"

namespace util {

Prompts::~Prompts() = default;

} // namespace util
