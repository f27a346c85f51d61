#include "number_draw.h"

#include <chrono>
#include <random>
#include <stdexcept>

namespace quilora {

namespace {

IndexDraw& CurrentDraw() {
    static IndexDraw draw;
    return draw;
}

} // namespace

std::size_t ClockSeededIndex(std::size_t count) {
    if (count == 0)
        throw std::logic_error("no number to draw from");
    const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    std::mt19937_64 generator(static_cast<std::uint64_t>(now));
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(generator);
}

IndexDraw SetIndexDraw(IndexDraw draw) {
    IndexDraw previous = std::move(CurrentDraw());
    CurrentDraw() = std::move(draw);
    return previous;
}

std::size_t DrawIndex(std::size_t count) {
    const IndexDraw& draw = CurrentDraw();
    const std::size_t index = draw ? draw(count) : ClockSeededIndex(count);
    if (index >= count)
        throw std::logic_error("number draw out of range");
    return index;
}

} // namespace quilora
