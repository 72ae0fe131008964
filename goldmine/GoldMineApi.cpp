#include "goldmine/GoldMineApi.h"

namespace goldmine {

GoldMineApi::~GoldMineApi() = default;

QString GoldMineApi::loadFailureReason() const
{
    return QString();
}

} // namespace goldmine
