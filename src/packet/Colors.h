#pragma once

#include <cstdint>
#include <string_view>

namespace lumeno {

// A 24-bit colour laid out as 0x00BBGGRR (red in the low byte).
using Rgb = std::uint32_t;

constexpr Rgb MakeRgb(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return Rgb{red} | (Rgb{green} << 8) | (Rgb{blue} << 16);
}
constexpr std::uint8_t RedOf(Rgb c) {
    return c & 0xFF;
}
constexpr std::uint8_t GreenOf(Rgb c) {
    return (c >> 8) & 0xFF;
}
constexpr std::uint8_t BlueOf(Rgb c) {
    return (c >> 16) & 0xFF;
}

// The defaults the colour settings swatches carry when created.
inline constexpr Rgb kDefaultIncomingUDP = MakeRgb(192, 64, 0);
inline constexpr Rgb kDefaultOutgoingUDP = MakeRgb(255, 128, 0);
inline constexpr Rgb kDefaultIncomingTCP = MakeRgb(0, 128, 0);
inline constexpr Rgb kDefaultOutgoingTCP = MakeRgb(0, 255, 0);
inline constexpr Rgb kDefaultBackground = MakeRgb(0, 0, 0);

// The live colour state, shared by the intake, the views and the settings window, all on
// the GUI thread.
extern Rgb colorIncomingTCP;
extern Rgb colorOutgoingTCP;
extern Rgb colorIncomingUDP;
extern Rgb colorOutgoingUDP;
extern Rgb colorBackground;
// Per thread: the parallel views may draw on a thread of their own, in the colour handed
// over with each record.
extern thread_local Rgb currentColor;

// Sets currentColor from a traffic class text; any other text leaves it as it was.
void SetPacketColor(std::string_view transportType);

}  // namespace lumeno
