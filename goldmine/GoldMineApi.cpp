#include "goldmine/GoldMineApi.h"

GoldMineApi::~GoldMineApi() = default;
