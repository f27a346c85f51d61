#include "workflow/order_policy.h"

namespace quilora {

OrderDecision DecideOrder(int state) {
    switch (state) {
    case 0:
        return {OrderAction::Refuse, "对不起，不能预约此内容：已停诊。"};
    case 1:
        return {OrderAction::Refuse, "对不起，不能预约此内容：已截止。"};
    case 3:
        return {OrderAction::Refuse, "对不起，不能预约此内容：已约满。"};
    case 2:
        return {OrderAction::OfferArm, {}};
    case 4:
        return {OrderAction::BookNow, {}};
    default:
        return {OrderAction::Nothing, "对不起，不能预约此内容：状态 " + std::to_string(state) + " 未知。"};
    }
}

} // namespace quilora
