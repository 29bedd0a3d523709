/*
 * taborder.cpp -- the order in which Tab walks a panel's controls, worked
 * out from their rectangles alone (panelfile.h, TabOrder), so that it
 * follows the window as the operator reads it and not the order of the
 * control list, which fixes the control IDs.
 *
 * Reading order: the controls fall into bands, one under the other, whose
 * vertical extents overlap; a band into columns, side by side, whose
 * horizontal extents overlap; a column is read from top to bottom. Bands
 * go from top to bottom, columns from left to right.
 */
#include "panelfile.h"
#include "platform.h"

#include <algorithm>

namespace {

struct Box {
    int id;
    int top, bottom, left, right;
};

/* True for the kinds of control that take the keyboard focus. */
bool TakesFocus(const ControlDesc &c)
{
    switch (c.kind) {
    case CTRL_TOGGLE_BUTTON:
    case CTRL_COMMAND_BUTTON:
    case CTRL_RING:
    case CTRL_STRING:
    case CTRL_NUMERIC:
    case CTRL_RING_SLIDE:
    case CTRL_LIST_BOX:
    case CTRL_BINARY_SWITCH: return true;
    case CTRL_TEXT_BOX: return !c.indicator;
    default: return false;
    }
}

/* Sorts boxes by their start (Box::*lo) and cuts them into runs: a box
 * joins the run before it when it starts before that run's end (Box::*hi),
 * so every run is a chain of overlapping extents. */
std::vector<std::vector<Box>> Runs(std::vector<Box> boxes, int Box::*lo, int Box::*hi)
{
    std::stable_sort(boxes.begin(), boxes.end(), [lo](const Box &a, const Box &b) { return a.*lo < b.*lo; });
    std::vector<std::vector<Box>> runs;
    int end = 0;
    for (const Box &b : boxes) {
        if (runs.empty() || b.*lo >= end) {
            runs.emplace_back();
            end = b.*hi;
        }
        runs.back().push_back(b);
        end = std::max(end, b.*hi);
    }
    return runs;
}

}  // namespace

std::vector<int> TabOrder(const PanelDesc &d)
{
    std::vector<Box> boxes;
    for (size_t i = 0; i < d.controls.size(); i++) {
        const ControlDesc &c = d.controls[i];
        if (TakesFocus(c))
            boxes.push_back({static_cast<int>(i) + 2, c.y, c.y + c.height, c.x, c.x + c.width});
    }
    std::vector<int> order;
    for (const std::vector<Box> &band : Runs(boxes, &Box::top, &Box::bottom)) {
        for (std::vector<Box> column : Runs(band, &Box::left, &Box::right)) {
            std::stable_sort(column.begin(), column.end(), [](const Box &a, const Box &b) {
                return a.top != b.top ? a.top < b.top : a.left < b.left;
            });
            for (const Box &b : column)
                order.push_back(b.id);
        }
    }
    return order;
}
