// The one way to reach a table cell. A cell can only be made from a line,
// pump and nozzle inside the tables, so every table access is in bounds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace zarvo {

inline constexpr int kLines = 40;
inline constexpr int kPumps = 32;
inline constexpr int kNozzles = 6;

class PumpCell {
 public:
  static constexpr std::optional<PumpCell> of(long long line, long long pump) {
    if (line < 1 || line > kLines || pump < 1 || pump > kPumps) return std::nullopt;
    return PumpCell(static_cast<int>(line), static_cast<int>(pump));
  }
  constexpr int line() const { return line_; }
  constexpr int pump() const { return pump_; }
  // Line-major: the pumps of a line follow each other.
  constexpr std::size_t index() const {
    return static_cast<std::size_t>(line_ - 1) * kPumps + static_cast<std::size_t>(pump_ - 1);
  }

 private:
  constexpr PumpCell(int line, int pump) : line_(line), pump_(pump) {}
  int line_;
  int pump_;
};

class NozzleCell {
 public:
  static constexpr std::optional<NozzleCell> of(PumpCell pump, long long nozzle) {
    if (nozzle < 1 || nozzle > kNozzles) return std::nullopt;
    return NozzleCell(pump, static_cast<int>(nozzle));
  }
  constexpr PumpCell pump_cell() const { return pump_; }
  constexpr int nozzle() const { return nozzle_; }
  constexpr std::size_t index() const {
    return pump_.index() * kNozzles + static_cast<std::size_t>(nozzle_ - 1);
  }

 private:
  constexpr NozzleCell(PumpCell pump, int nozzle) : pump_(pump), nozzle_(nozzle) {}
  PumpCell pump_;
  int nozzle_;
};

template <class T, std::size_t Size, class Cell>
class CellTable {
 public:
  T& operator[](Cell cell) { return cells_[cell.index()]; }
  const T& operator[](Cell cell) const { return cells_[cell.index()]; }
  auto begin() { return cells_.begin(); }
  auto end() { return cells_.end(); }
  auto begin() const { return cells_.begin(); }
  auto end() const { return cells_.end(); }

 private:
  std::array<T, Size> cells_{};
};

template <class T>
using PumpTable = CellTable<T, static_cast<std::size_t>(kLines) * kPumps, PumpCell>;
template <class T>
using NozzleTable = CellTable<T, static_cast<std::size_t>(kLines) * kPumps * kNozzles, NozzleCell>;

}  // namespace zarvo
