#include "goldmine/GoldMineApi.h"

namespace goldmine {

GoldMineApi::~GoldMineApi() = default;

} // namespace goldmine
