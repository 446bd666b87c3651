#include "lumenhollow/ui/window/keyboard_order.h"

#include <algorithm>
#include <numeric>

namespace lumenhollow {

std::vector<size_t> readingOrder(const std::vector<RectF>& boxes) {
    std::vector<size_t> left(boxes.size());
    std::iota(left.begin(), left.end(), size_t{0});
    // Topmost first; between equal tops the one at the left.
    std::stable_sort(left.begin(), left.end(), [&](size_t a, size_t b) {
        if (boxes[a].y != boxes[b].y) return boxes[a].y < boxes[b].y;
        return boxes[a].x < boxes[b].x;
    });
    std::vector<size_t> order;
    order.reserve(boxes.size());
    while (!left.empty()) {
        const RectF& first = boxes[left.front()];
        std::vector<size_t> row;
        std::vector<size_t> rest;
        for (size_t index : left) {
            const double middle = boxes[index].y + boxes[index].height / 2;
            const bool inRow = index == left.front() || (middle >= first.y && middle <= first.y + first.height);
            (inRow ? row : rest).push_back(index);
        }
        std::stable_sort(row.begin(), row.end(), [&](size_t a, size_t b) {
            if (boxes[a].x != boxes[b].x) return boxes[a].x < boxes[b].x;
            return boxes[a].y < boxes[b].y;
        });
        order.insert(order.end(), row.begin(), row.end());
        left = std::move(rest);
    }
    return order;
}

}  // namespace lumenhollow
