#include "util/Prompts.h"

Prompts::~Prompts() = default;
