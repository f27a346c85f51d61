#pragma once
// The random choice among a slot's free numbers. By default each draw seeds a
// fresh generator from the clock; tests replace the draw.
#include <cstddef>
#include <functional>

namespace quilora {

// Gives an index in [0, count), each with the same chance; count > 0.
using IndexDraw = std::function<std::size_t(std::size_t count)>;

// Replaces the draw (an empty one restores the clock-seeded one); returns the previous.
IndexDraw SetIndexDraw(IndexDraw draw);
std::size_t DrawIndex(std::size_t count);
std::size_t ClockSeededIndex(std::size_t count);

// Installs a draw for the lifetime of the object (tests).
class ScopedIndexDraw {
public:
    explicit ScopedIndexDraw(IndexDraw draw) : previous_(SetIndexDraw(std::move(draw))) {}
    ~ScopedIndexDraw() { SetIndexDraw(std::move(previous_)); }
    ScopedIndexDraw(const ScopedIndexDraw&) = delete;
    ScopedIndexDraw& operator=(const ScopedIndexDraw&) = delete;

private:
    IndexDraw previous_;
};

} // namespace quilora
