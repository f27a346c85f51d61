#pragma once
// What an order does with a slot, by the state it was listed in: the one
// policy behind the window's order button and quilora-book.
#include <string>

namespace quilora {

enum class OrderAction {
    Refuse,   // 停诊, 已截止, 已约满: refused before anything is asked
    BookNow,  // 正常: booked at once
    OfferArm, // 未放号: auto-booking is offered
    Nothing,  // a state nobody knows: nothing can be booked
};

struct OrderDecision {
    OrderAction action = OrderAction::Nothing;
    // With Refuse and Nothing: why the slot cannot be booked.
    std::string refusal;
};

OrderDecision DecideOrder(int state);

} // namespace quilora
