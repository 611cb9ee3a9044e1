// The pixel layouts: strip geometry, the pixel-to-bit mapping and the names.
#include "viewer/layout.h"

#include <algorithm>
#include <iterator>

namespace viewer {

namespace {

constexpr const char* KindNames[] = {"rows", "rows-lsb", "columns", "columns-msb"};

} // namespace

bool IsColumnLayout(LayoutKind kind) {
    return kind == LayoutKind::Columns || kind == LayoutKind::ColumnsMsb;
}

int32_t ColumnBytes(const PixelLayout& layout) {
    return std::clamp(layout.columnBytes, 1, MaxColumnBytes);
}

int64_t StripPixelWidth(const PixelLayout& layout, int64_t width) {
    if (width < 1) return 0;
    if (!IsColumnLayout(layout.kind)) return 8 * width;
    const int64_t k = ColumnBytes(layout);
    return (width + k - 1) / k;
}

int64_t StripPixelHeight(const PixelLayout& layout) {
    return IsColumnLayout(layout.kind) ? 8 * ColumnBytes(layout) : 1;
}

StripBit StripPixelSource(const PixelLayout& layout, int64_t width, int64_t x, int64_t y) {
    if (x < 0 || y < 0 || x >= StripPixelWidth(layout, width) || y >= StripPixelHeight(layout))
        return {};
    switch (layout.kind) {
    case LayoutKind::Rows:
        return {x / 8, 7 - int(x % 8)};
    case LayoutKind::RowsLsb:
        return {x / 8, int(x % 8)};
    case LayoutKind::Columns:
    case LayoutKind::ColumnsMsb: {
        const int64_t byte = x * ColumnBytes(layout) + y / 8;
        if (byte >= width) return {}; // below the bytes of a short last column
        const int bit = int(y % 8);
        return {byte, layout.kind == LayoutKind::Columns ? bit : 7 - bit};
    }
    }
    return {};
}

const char* LayoutKindName(LayoutKind kind) {
    const auto index = static_cast<size_t>(kind);
    return index < std::size(KindNames) ? KindNames[index] : "";
}

std::string LayoutName(const PixelLayout& layout) {
    std::string name = LayoutKindName(layout.kind);
    if (IsColumnLayout(layout.kind) && ColumnBytes(layout) > 1) {
        name += ':';
        name += std::to_string(ColumnBytes(layout));
    }
    return name;
}

bool ParseLayoutKind(std::string_view name, LayoutKind& kind) {
    for (size_t i = 0; i < std::size(KindNames); ++i) {
        if (name == KindNames[i]) {
            kind = static_cast<LayoutKind>(i);
            return true;
        }
    }
    return false;
}

bool ParseLayout(std::string_view name, PixelLayout& layout) {
    PixelLayout parsed;
    const size_t colon = name.find(':');
    if (!ParseLayoutKind(name.substr(0, colon), parsed.kind)) return false;
    if (colon != std::string_view::npos) {
        const std::string_view k = name.substr(colon + 1);
        if (!IsColumnLayout(parsed.kind) || k.size() != 1 || k[0] < '1' ||
            k[0] > '0' + MaxColumnBytes)
            return false;
        parsed.columnBytes = k[0] - '0';
    }
    layout = parsed;
    return true;
}

} // namespace viewer
