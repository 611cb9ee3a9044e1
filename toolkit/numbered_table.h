// Objects under caller-chosen numbers, as the core's modules keep them (windows, menus, status
// bars). Not for the viewer or the backends.
#pragma once

#include <cassert>
#include <cstddef>
#include <memory>
#include <vector>

namespace tk::core {

// Objects under caller-chosen numbers. The table starts with `step` slots and, when a number
// beyond its end is used, grows to that number plus the step.
template <typename T> class NumberedTable {
  public:
    explicit NumberedTable(size_t step) : step_(step), slots_(step) {}

    T* Find(int number) const {
        if (number < 0 || static_cast<size_t>(number) >= slots_.size()) return nullptr;
        return slots_[static_cast<size_t>(number)].get();
    }
    T& Put(int number, std::unique_ptr<T> object) {
        assert(number >= 0 && "object numbers are non-negative");
        size_t index = static_cast<size_t>(number);
        if (index >= slots_.size()) slots_.resize(index + step_);
        slots_[index] = std::move(object);
        return *slots_[index];
    }
    void Remove(int number) {
        if (Find(number)) slots_[static_cast<size_t>(number)].reset();
    }
    int Size() const { return static_cast<int>(slots_.size()); }
    void Clear() {
        slots_.clear();
        slots_.resize(step_);
    }

  private:
    size_t step_;
    std::vector<std::unique_ptr<T>> slots_;
};

constexpr size_t TableStep = 16;

} // namespace tk::core
